#pragma once
// Reads a trace of a real run (see kSyncTraceCalls) for the promise made of
// archives: each file is on disk before any name is given to it, and its
// folder is synced once it holds the final name.

#include <string>

namespace pev::test {

// The calls to trace: strace -f -e trace=<these>.
inline constexpr const char* kSyncTraceCalls =
    "open,openat,close,fsync,fdatasync,link,linkat,rename,renameat,renameat2";

struct SyncOrder {
    int placed = 0;      // files given their final name
    std::string problem; // the first broken promise, "" when none
};

SyncOrder sync_order(const std::string& trace);

} // namespace pev::test
