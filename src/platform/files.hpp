#pragma once
// The few file operations the program needs, in one place so that each host
// gets its own: names are UTF-8 inside the program (wide names at the edge on
// Windows) and offsets are 64-bit everywhere.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace pev {

// Opens an existing file for binary reading; nullptr when it cannot.
std::FILE* open_for_reading(const std::string& path);

// Creates or truncates a file for binary writing; nullptr when it cannot.
std::FILE* open_for_writing(const std::string& path);

// What stands under a name a file is about to be written to.
enum class ExistingName {
    none,          // nothing
    writable_file, // a regular file this process may write
    other,         // a folder, a link, a device, a pipe, or a file it may not write
};
ExistingName existing_name(const std::string& path);

// A file's identity, to tell whether two names lead to one file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool known = false;
};

// The identity of the file `path` leads to, through links; unknown when
// there is none.
FileIdentity identity_of(const std::string& path);

// What stands under a name a file is to be written to: nothing (or nothing
// that can be looked at), some file, or the very file `same_as`. One look at
// the name, and a second only where it is a link.
enum class Occupant { nothing, a_file, same_file };
Occupant occupant_of(const std::string& path, const FileIdentity& same_as);

// Seeks to an absolute offset; false when the seek fails.
bool seek_to(std::FILE* file, std::uint64_t offset);

// Seeks to the end and reports that position (the file's size), or -1.
std::int64_t seek_to_end(std::FILE* file);

#ifndef _WIN32
// Reads `into` from `offset` of the open file `fd` without moving its
// position (so threads need not take turns), as far as the file goes: the
// bytes read, and the system's reason when a read failed.
struct PositionalRead {
    std::size_t got = 0;
    int os_error = 0;
};
PositionalRead read_at_offset(int fd, std::uint64_t offset, std::span<std::uint8_t> into);
#endif

} // namespace pev
