#include "archive/byte_source.hpp"

#include "platform/files.hpp"

#include <algorithm>
#include <cstring>

namespace pev::archive {

FileSource::FileSource(std::FILE* file) : file_(file) {
    if (file_ != nullptr) {
        size_ = static_cast<std::uint64_t>(std::max<std::int64_t>(0, seek_to_end(file_)));
    }
}

std::size_t FileSource::read_at(std::uint64_t offset, std::span<std::uint8_t> into) const {
    if (file_ == nullptr || into.empty()) {
        return 0;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!seek_to(file_, offset)) {
        return 0;
    }
    return std::fread(into.data(), 1, into.size(), file_);
}

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
