#include "platform/interrupt_cleanup.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <signal.h>
#include <unistd.h>
#endif

namespace pev {
namespace {

// Enough for the files of every thread of a program writing at once; a name
// as long as the host allows (PATH_MAX on Linux).
constexpr int kEntries = 32;
constexpr std::size_t kNameLength = 4096;

enum EntryState : int { kFree, kFilling, kLive };

struct Entry {
    std::atomic<int> state{kFree};
    NativeName::value_type name[kNameLength];
};

static_assert(std::atomic<int>::is_always_lock_free, "read by a signal handler");

Entry entries[kEntries];

// Only live entries are read: one being filled or emptied is skipped.
void remove_live_files() {
    for (Entry& entry : entries) {
        if (entry.state.load() == kLive) {
#ifdef _WIN32
            DeleteFileW(entry.name);
#else
            unlink(entry.name);
#endif
        }
    }
}

#ifdef _WIN32

BOOL WINAPI on_console_event(DWORD) {
    remove_live_files();
    // The next handler, in the end the default one, ends the process.
    return FALSE;
}

void install_handlers() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

#else

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(kSignals)];

void on_signal(int signal, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    remove_live_files();
    const auto* found = std::find(std::begin(kSignals), std::end(kSignals), signal);
    const struct sigaction& before = previous[found - std::begin(kSignals)];
    if ((before.sa_flags & SA_SIGINFO) != 0) {
        before.sa_sigaction(signal, info, context);
    } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
        before.sa_handler(signal);
    } else {
        // The default action, as if this handler had never been there: the
        // signal, blocked while here, ends the process once this returns.
        struct sigaction default_action = {};
        default_action.sa_handler = SIG_DFL;
        sigemptyset(&default_action.sa_mask);
        sigaction(signal, &default_action, nullptr);
        raise(signal);
    }
    errno = saved_errno;
}

void install_handlers() {
    struct sigaction action = {};
    action.sa_sigaction = on_signal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (sigaction(kSignals[i], nullptr, &previous[i]) != 0) {
            continue;
        }
        // A program run under nohup, or one that ignores the signal on
        // purpose, keeps ignoring it.
        if ((previous[i].sa_flags & SA_SIGINFO) == 0 && previous[i].sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(kSignals[i], &action, nullptr);
    }
}

#endif

} // namespace

int remove_on_interrupt(const NativeName& name) {
    static std::once_flag installed;
    std::call_once(installed, install_handlers);
    if (name.size() >= kNameLength) {
        return -1;
    }
    for (int i = 0; i < kEntries; ++i) {
        int expected = kFree;
        if (entries[i].state.compare_exchange_strong(expected, kFilling)) {
            std::copy(name.begin(), name.end(), entries[i].name);
            entries[i].name[name.size()] = 0;
            entries[i].state.store(kLive);
            return i;
        }
    }
    return -1;
}

void forget_on_interrupt(int entry) {
    if (entry >= 0 && entry < kEntries) {
        entries[entry].state.store(kFree);
    }
}

} // namespace pev
