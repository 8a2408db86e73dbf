#include "archive/byte_source.hpp"

#include "platform/files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pev::archive {

FileSource::FileSource(std::FILE* file) : file_(file) {
    if (file_ != nullptr) {
        size_ = static_cast<std::uint64_t>(std::max<std::int64_t>(0, seek_to_end(file_)));
    }
}

std::size_t FileSource::read_at(std::uint64_t offset, std::span<std::uint8_t> into) const {
    return read_some(offset, into).got;
}

#ifndef _WIN32

// Read at an offset, without moving the stream: one call a read instead of
// a seek and a buffered read's two or three, and threads need not take turns.
ReadOutcome FileSource::read_some(std::uint64_t offset, std::span<std::uint8_t> into) const {
    if (file_ == nullptr) {
        return {};
    }
    const PositionalRead read = read_at_offset(fileno(file_), offset, into);
    return {read.got, read.os_error};
}

#else

ReadOutcome FileSource::read_some(std::uint64_t offset, std::span<std::uint8_t> into) const {
    if (file_ == nullptr || into.empty()) {
        return {};
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    errno = 0;
    if (!seek_to(file_, offset)) {
        return {0, errno};
    }
    const std::size_t got = std::fread(into.data(), 1, into.size(), file_);
    // A short read at the end of the file is no error; a failed one keeps
    // the system's reason, and the stream is made usable again.
    const int error = got < into.size() && std::ferror(file_) != 0 ? errno : 0;
    std::clearerr(file_);
    return {got, error};
}

#endif

std::size_t MemorySource::read_at(std::uint64_t offset, std::span<std::uint8_t> into) const {
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t count = std::min<std::uint64_t>(into.size(), bytes_.size() - offset);
    if (count > 0) {
        std::memcpy(into.data(), bytes_.data() + offset, count);
    }
    return count;
}

} // namespace pev::archive
