#pragma once
// Stand-ins for the system calls an OutputFile may find refused, so that
// tests reach each of its other ways of working on a host that refuses none.

#include "platform/output_file_system_calls.hpp"

#include <cerrno>
#include <fcntl.h>

namespace pev::test {

// As a file system without unnamed files answers.
inline int open_without_tmpfile(const char* path, int flags, unsigned mode) {
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return OutputFileSystemCalls::host().open(path, flags, mode);
}

template <int Error> int refused(const char*, const char*) {
    errno = Error;
    return -1;
}

inline bool no_proc() {
    return false;
}

// The portable way: a temporary name from the start.
inline OutputFileSystemCalls named_file_calls() {
    OutputFileSystemCalls calls = OutputFileSystemCalls::host();
    calls.open = open_without_tmpfile;
    return calls;
}

} // namespace pev::test
