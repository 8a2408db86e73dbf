#include "mount/archive_generation.hpp"

#include "archive/clip_blocks.hpp"
#include "platform/files.hpp"
#include "wav/frame.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace pev::mount {

namespace {

constexpr std::size_t kWindowBytes = std::size_t{256} << 10;
constexpr std::size_t kLargestView = std::size_t{64} << 10;

std::atomic<std::uint64_t> next_identity{1};

// The window of a file one thread read last.
struct Window {
    std::uint64_t source = 0; // the identity of the source it belongs to
    std::uint64_t offset = 0;
    std::size_t size = 0;
    std::unique_ptr<std::uint8_t[]> bytes;
};
thread_local Window window;

} // namespace

DescriptorSource::DescriptorSource(int fd, std::uint64_t size)
    : fd_(fd), size_(size), identity_(next_identity++) {}

std::span<const std::uint8_t> DescriptorSource::view(std::uint64_t offset, std::size_t size) const {
    if (size > kLargestView || offset >= size_) {
        return {};
    }
    const std::uint64_t end = std::min<std::uint64_t>(offset + size, size_);
    if (window.source != identity_ || offset < window.offset || end > window.offset + window.size) {
        if (!window.bytes) {
            window.bytes.reset(new std::uint8_t[kWindowBytes]);
        }
        window.source = 0;
        const archive::ReadOutcome got = read_some(offset, {window.bytes.get(), kWindowBytes});
        if (got.os_error != 0 || got.got < end - offset) {
            return {}; // read_some says why
        }
        window = {identity_, offset, got.got, std::move(window.bytes)};
    }
    return {window.bytes.get() + (offset - window.offset), static_cast<std::size_t>(end - offset)};
}

std::size_t DescriptorSource::read_at(std::uint64_t offset, std::span<std::uint8_t> into) const {
    return read_some(offset, into).got;
}

archive::ReadOutcome DescriptorSource::read_some(std::uint64_t offset,
                                                 std::span<std::uint8_t> into) const {
    const PositionalRead read = read_at_offset(fd_, offset, into);
    return {read.got, read.os_error};
}

ArchiveGeneration::ArchiveGeneration(int fd, const struct stat& status)
    : fd_(fd), status_(status), source_(fd, static_cast<std::uint64_t>(status.st_size)),
      reader_(source_) {}

ArchiveGeneration::~ArchiveGeneration() {
    ::close(fd_);
}

std::shared_ptr<const ArchiveGeneration>
ArchiveGeneration::open(int fd, OpenResult& refusal, Error& error, const ArchiveGeneration* earlier,
                        const std::vector<bool>& rewritten) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        error = os_error(ErrorCode::cannot_read, "", errno);
        ::close(fd);
        return nullptr;
    }
    std::shared_ptr<ArchiveGeneration> generation(new ArchiveGeneration(fd, status));
    refusal = generation->reader_.open_result();
    if (refusal != OpenResult::ok) {
        return nullptr;
    }
    const archive::ArchiveReader& reader = generation->reader_;
    archive::ClipBuffers buffers;
    generation->clips_.resize(reader.clip_count());
    for (std::size_t index = 0; index < reader.clip_count(); ++index) {
        ScannedClip& clip = generation->clips_[index];
        const archive::ClipInfo info = reader.inspect(index, buffers);
        clip.id = info.row.id;
        clip.problem = info.problem;
        if (!info.ok()) {
            continue;
        }
        if (!info.table_read_whole()) {
            clip.read_error = archive::read_failure(info, info.table_read);
            continue;
        }
        clip.stored_bytes = info.stored_bytes();
        if (earlier != nullptr && index < earlier->clips_.size() && index < rewritten.size() &&
            !rewritten[index] && earlier->clips_[index].ok() &&
            earlier->clips_[index].stored_bytes == clip.stored_bytes) {
            clip.samples = earlier->clips_[index].samples;
            continue;
        }
        clip.read_error =
            archive::scan_clip(reader.source(), info, buffers.compressed, clip.samples);
    }
    return generation;
}

std::uint64_t ArchiveGeneration::wav_size(std::size_t index) const {
    return wav::Frame::file_size_for(clips_[index].samples);
}

} // namespace pev::mount
