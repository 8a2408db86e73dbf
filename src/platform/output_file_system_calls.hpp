#pragma once
// The system calls an OutputFile makes where the host may refuse it a way of
// working and it must take another. Tests put stand-ins here to reach each
// other way on a host that refuses nothing. POSIX hosts only.

namespace pev {

struct OutputFileSystemCalls {
    // open(2).
    int (*open)(const char* path, int flags, unsigned mode);
    // renameat2(2) with RENAME_NOREPLACE.
    int (*rename_no_replace)(const char* from, const char* to);
    // link(2).
    int (*link)(const char* from, const char* to);
    // Whether /proc/self/fd shows this process's descriptors.
    bool (*proc_fd_available)();

    // The host's own.
    static const OutputFileSystemCalls& host();
};

} // namespace pev
