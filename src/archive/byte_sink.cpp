#include "archive/byte_sink.hpp"

#include "platform/files.hpp"

#include <algorithm>
#include <cerrno>

namespace pev::archive {

bool FileSink::failed() {
    error_ = std::error_code(errno, std::generic_category());
    return false;
}

bool FileSink::append(std::span<const std::uint8_t> bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() ||
           failed();
}

bool FileSink::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    // The seek flushes what is buffered: a full disk shows here at the latest.
    return (seek_to(file_, offset) && append(bytes) && seek_to_end(file_) >= 0) || failed();
}

bool FileSink::flush() {
    return std::fflush(file_) == 0 || failed();
}

bool MemorySink::append(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return true;
}

bool MemorySink::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > bytes_.size() || bytes.size() > bytes_.size() - offset) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

bool MemorySink::flush() {
    return true;
}

} // namespace pev::archive
