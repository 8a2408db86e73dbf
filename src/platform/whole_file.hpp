#pragma once
// A whole file read into memory that is kept from file to file, in as few
// system calls as the host allows: open, size, one read, close.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace pev {

enum class WholeFileProblem {
    none,
    cannot_open,  // os_error says why
    not_seekable, // a pipe or the like, whose size cannot be known
    cannot_read,  // os_error says why
    too_large,    // no memory for `size` bytes
};

struct WholeFileRead {
    WholeFileProblem problem = WholeFileProblem::none;
    int os_error = 0;
    std::uint64_t size = 0;
    std::span<const std::uint8_t> bytes; // the file's bytes, in the buffer
};

// Reads all of the file at `path` (a UTF-8 name) into `buffer`, which holds
// `capacity` bytes and is replaced by a larger one when the file needs it.
WholeFileRead read_whole_file(const std::string& path, std::unique_ptr<std::uint8_t[]>& buffer,
                              std::size_t& capacity);

} // namespace pev
