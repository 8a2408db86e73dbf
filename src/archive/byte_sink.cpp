#include "archive/byte_sink.hpp"

#include <algorithm>

namespace pev::archive {

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

bool SizingSink::append(std::span<const std::uint8_t> bytes) {
    size_ += bytes.size();
    return true;
}

bool SizingSink::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    return offset <= size_ && bytes.size() <= size_ - offset;
}

bool BufferSink::append(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > buffer_.size() - used_) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
    used_ += bytes.size();
    return true;
}

bool BufferSink::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > used_ || bytes.size() > used_ - offset) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

} // namespace pev::archive
