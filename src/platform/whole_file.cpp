#include "platform/whole_file.hpp"

#include "platform/files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pev {
namespace {

// Room for `size` bytes; false when it cannot be had.
bool make_room(std::uint64_t size, std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& capacity) {
    if (size > std::numeric_limits<std::size_t>::max()) {
        return false;
    }
    const auto wanted = static_cast<std::size_t>(size);
    if (wanted <= capacity) {
        return true;
    }
    // Not a vector: the bytes are read over at once, so zeroing them first
    // would only cost time.
    buffer.reset();
    capacity = 0;
    try {
        buffer.reset(new std::uint8_t[wanted]);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    capacity = wanted;
    return true;
}

} // namespace

#ifdef _WIN32

WholeFileRead read_whole_file(const std::string& path, std::unique_ptr<std::uint8_t[]>& buffer,
                              std::size_t& capacity) {
    WholeFileRead read;
    std::FILE* file = open_for_reading(path);
    if (file == nullptr) {
        read.problem = WholeFileProblem::cannot_open;
        read.os_error = errno;
        return read;
    }
    const std::int64_t size = seek_to_end(file);
    if (size < 0 || !seek_to(file, 0)) {
        read.problem = WholeFileProblem::not_seekable;
    } else if (read.size = static_cast<std::uint64_t>(size);
               !make_room(read.size, buffer, capacity)) {
        read.problem = WholeFileProblem::too_large;
    } else if (read.size > 0 && std::fread(buffer.get(), 1, static_cast<std::size_t>(read.size),
                                           file) != read.size) {
        read.problem = WholeFileProblem::cannot_read;
        read.os_error = errno != 0 ? errno : EIO;
    } else {
        read.bytes = {buffer.get(), static_cast<std::size_t>(read.size)};
    }
    std::fclose(file);
    return read;
}

#else

WholeFileRead read_whole_file(const std::string& path, std::unique_ptr<std::uint8_t[]>& buffer,
                              std::size_t& capacity) {
    WholeFileRead read;
    // Not waiting for a writer, should it be a named pipe: it is refused
    // below, whoever writes to it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        read.problem = WholeFileProblem::cannot_open;
        read.os_error = errno;
        return read;
    }
    // A regular file's size is in its status, a disk's is where a seek to
    // its end lands. Pipes, sockets and character devices have none (a
    // terminal refuses the seek, /dev/zero lands at 0 without being empty).
    struct stat status;
    const bool known = fstat(fd, &status) == 0;
    off_t size = -1;
    if (known && S_ISREG(status.st_mode)) {
        size = status.st_size;
    } else if (known && S_ISBLK(status.st_mode)) {
        if (size = lseek(fd, 0, SEEK_END); size >= 0 && lseek(fd, 0, SEEK_SET) != 0) {
            size = -1;
        }
    }
    if (size < 0) {
        read.problem = WholeFileProblem::not_seekable;
    } else if (read.size = static_cast<std::uint64_t>(size);
               !make_room(read.size, buffer, capacity)) {
        read.problem = WholeFileProblem::too_large;
    } else {
        std::size_t got = 0;
        const auto wanted = static_cast<std::size_t>(read.size);
        while (got < wanted) {
            // At most 1 GiB a call: some systems refuse larger reads.
            const ssize_t n =
                ::read(fd, buffer.get() + got, std::min<std::size_t>(wanted - got, 1u << 30));
            if (n > 0) {
                got += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                // Cut short while it was read (n == 0), or a read failed.
                read.problem = WholeFileProblem::cannot_read;
                read.os_error = n < 0 ? errno : EIO;
                break;
            }
        }
        if (read.problem == WholeFileProblem::none) {
            read.bytes = {buffer.get(), wanted};
        }
    }
    close(fd);
    return read;
}

#endif

} // namespace pev
