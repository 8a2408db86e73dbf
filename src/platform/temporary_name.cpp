#include "platform/temporary_name.hpp"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace pev {
namespace {

std::atomic<std::uint64_t> next_draw{0};
std::atomic<bool> seeded{false};

#ifndef _WIN32
// A child process made by fork would repeat its parent's names: it is seeded
// afresh at its first name (the child's handler may do no more than this).
void forget_seed() {
    seeded.store(false);
}
#endif

// Seeded from the system's randomness once, then drawn without asking it
// again. Threads that seed at once only draw from another random start.
std::uint64_t draw() {
    if (!seeded.load()) {
        std::random_device random;
        next_draw.store((std::uint64_t{random()} << 32) ^ random());
#ifndef _WIN32
        static const int registered = pthread_atfork(nullptr, nullptr, forget_seed);
        (void)registered;
#endif
        seeded.store(true);
    }
    // splitmix64: consecutive counts give unrelated names.
    std::uint64_t z = next_draw.fetch_add(0x9e3779b97f4a7c15u) + 0x9e3779b97f4a7c15u;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

} // namespace

std::string folder_prefix(const std::string& path) {
#ifdef _WIN32
    const auto end = path.find_last_of("/\\:");
#else
    const auto end = path.find_last_of('/');
#endif
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

#ifdef _WIN32

std::string temporary_name(const std::string& path) {
    char name[48];
    std::snprintf(name, sizeof name, ".pev-%lu-%016llx.tmp",
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long long>(draw()));
    return folder_prefix(path) + name;
}

void remove_stale_temporary_names(const std::string&) {}

#else

std::string temporary_name(const std::string& path) {
    char name[48];
    std::snprintf(name, sizeof name, ".pev-%ld-%016llx.tmp", static_cast<long>(getpid()),
                  static_cast<unsigned long long>(draw()));
    return folder_prefix(path) + name;
}

namespace {

// The process a temporary name was made by, or 0 when `name` is none.
pid_t owner_of(const char* name) {
    unsigned long long random = 0;
    long pid = 0;
    int end = 0;
    if (std::sscanf(name, ".pev-%ld-%16llx.tmp%n", &pid, &random, &end) != 2 ||
        name[end] != '\0' || pid <= 0) {
        return 0;
    }
    return static_cast<pid_t>(pid);
}

} // namespace

void remove_stale_temporary_names(const std::string& path) {
    const std::string folder = folder_prefix(path);
    DIR* entries = opendir(folder.empty() ? "." : folder.c_str());
    if (entries == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(entries)) {
        const pid_t owner = owner_of(entry->d_name);
        // A process that still runs (or that this one may not signal) is
        // left alone: its file may be on its way to its name.
        if (owner != 0 && owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH) {
            unlinkat(dirfd(entries), entry->d_name, 0);
        }
    }
    closedir(entries);
}

#endif

} // namespace pev
