#include "platform/folder_refusals.hpp"

#include <atomic>
#include <mutex>
#include <new>
#include <vector>

namespace pev {
namespace {

struct Noted {
    const void* calls;
    std::string folder;
    unsigned refusals;
};

// A run writes into a few folders; past this many, the oldest is forgotten.
constexpr std::size_t kFolders = 16;

std::mutex guard;
std::vector<Noted> noted;           // under guard, oldest first
std::atomic<bool> any_noted{false}; // spares the lock on hosts that refuse nothing

} // namespace

bool refused_in(const void* calls, const std::string& folder, FolderRefusal refusal) {
    if (!any_noted.load(std::memory_order_acquire)) {
        return false;
    }
    const std::lock_guard<std::mutex> lock(guard);
    for (const Noted& entry : noted) {
        if (entry.calls == calls && entry.folder == folder) {
            return (entry.refusals & static_cast<unsigned>(refusal)) != 0;
        }
    }
    return false;
}

void note_refused(const void* calls, const std::string& folder, FolderRefusal refusal) noexcept {
    const std::lock_guard<std::mutex> lock(guard);
    for (Noted& entry : noted) {
        if (entry.calls == calls && entry.folder == folder) {
            entry.refusals |= static_cast<unsigned>(refusal);
            return;
        }
    }
    try {
        if (noted.size() == kFolders) {
            noted.erase(noted.begin());
        }
        noted.push_back({calls, folder, static_cast<unsigned>(refusal)});
        any_noted.store(true, std::memory_order_release);
    } catch (const std::bad_alloc&) {
        // Only knowledge: the next file asks again.
    }
}

} // namespace pev
