// The reading half of the C API: opening archives, describing clips and
// decoding them, all through the core's one archive reader.

#include "archive/archive_reader.hpp"
#include "capi/archive_handle.hpp"
#include "capi/status.hpp"
#include "extraction/wav_output.hpp"
#include "platform/files.hpp"
#include "wav/wav_writer.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace pev::capi {
namespace {

using archive::ArchiveReader;
using archive::ClipBuffers;
using archive::ClipInfo;

constexpr std::uint16_t kChannels = 1;
constexpr std::uint64_t kMaxSize = std::numeric_limits<std::size_t>::max();

pev_status finish_open(std::unique_ptr<pev_archive> handle, pev_archive** out) {
    handle->reader = std::make_unique<ArchiveReader>(*handle->source);
    if (const pev_status status = status_of(handle->reader->open_result()); status != PEV_OK) {
        return status;
    }
    const std::size_t count = handle->reader->clip_count();
    handle->sample_counts = std::make_unique<std::atomic<std::uint64_t>[]>(count);
    for (std::size_t i = 0; i < count; ++i) {
        handle->sample_counts[i].store(pev_archive::kUnknownCount, std::memory_order_relaxed);
    }
    *out = handle.release();
    return PEV_OK;
}

pev_status check_clip(const pev_archive* archive, std::size_t index) {
    if (archive == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return index < archive->reader->clip_count() ? PEV_OK : PEV_ERR_CLIP_INDEX;
}

std::uint64_t known_count(const pev_archive& archive, std::size_t index) {
    return archive.sample_counts[index].load(std::memory_order_relaxed);
}

// Reads, judges and decodes clip `index` into `buffers`; `frame` gets the
// WAV header's room and then the samples. A refused clip gives its reason.
pev_status decode_frame(const pev_archive& archive, std::size_t index, ClipBuffers& buffers,
                        std::span<std::int16_t>& frame) {
    const ClipInfo info = archive.reader->inspect(index, buffers);
    if (!info.ok()) {
        return status_of(info.problem);
    }
    frame = archive.reader->decode(info, buffers);
    archive.sample_counts[index].store(frame.size() - wav::kHeaderRoomSamples,
                                       std::memory_order_relaxed);
    return PEV_OK;
}

std::uint64_t wav_size_of(std::uint64_t sample_count) {
    return wav::kHeaderSize + sample_count * sizeof(std::int16_t);
}

// The size-asked-first protocol: PEV_ERR_BUFFER_TOO_SMALL, with the size
// needed stored, when `capacity` cannot hold `needed`.
pev_status check_room(std::uint64_t needed, std::size_t capacity, std::size_t* size) {
    if (needed > kMaxSize) {
        return PEV_ERR_NO_MEMORY;
    }
    if (needed > capacity) {
        *size = static_cast<std::size_t>(needed);
        return PEV_ERR_BUFFER_TOO_SMALL;
    }
    return PEV_OK;
}

} // namespace
} // namespace pev::capi

using namespace pev::capi;

extern "C" {

pev_status pev_open_file(const char* path, pev_archive** archive) {
    if (path == nullptr || archive == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        auto handle = std::make_unique<pev_archive>();
        handle->file = pev::open_for_reading(path);
        if (handle->file == nullptr) {
            return PEV_ERR_CANNOT_OPEN;
        }
        handle->source = std::make_unique<pev::archive::FileSource>(handle->file);
        return finish_open(std::move(handle), archive);
    });
}

pev_status pev_open_memory(const void* bytes, size_t size, pev_archive** archive) {
    if ((bytes == nullptr && size != 0) || archive == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        auto handle = std::make_unique<pev_archive>();
        handle->source = std::make_unique<pev::archive::MemorySource>(
            std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), size));
        return finish_open(std::move(handle), archive);
    });
}

void pev_close(pev_archive* archive) {
    delete archive;
}

pev_status pev_clip_count(const pev_archive* archive, size_t* count) {
    if (archive == nullptr || count == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    *count = archive->reader->clip_count();
    return PEV_OK;
}

pev_status pev_sample_rate(const pev_archive* archive, uint32_t* rate) {
    if (archive == nullptr || rate == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    *rate = archive->reader->sample_rate();
    return PEV_OK;
}

pev_status pev_get_clip_info(const pev_archive* archive, size_t index, pev_clip_info* info) {
    if (const pev_status status = check_clip(archive, index); status != PEV_OK) {
        return status;
    }
    if (info == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        ClipBuffers buffers;
        const ClipInfo clip = archive->reader->inspect(index, buffers);
        pev_clip_info result{};
        result.entry_id = clip.row.id;
        result.block_count = clip.row.block_count;
        result.silent_blocks = clip.silent_blocks;
        result.raw_blocks = clip.raw_blocks;
        result.delta_blocks = clip.delta_blocks;
        result.stored_bytes = clip.stored_bytes();
        result.problem = status_of(clip.problem);
        if (clip.ok()) {
            std::uint64_t count = known_count(*archive, index);
            if (count == pev_archive::kUnknownCount) {
                count =
                    archive->reader->decode(clip, buffers).size() - pev::wav::kHeaderRoomSamples;
                archive->sample_counts[index].store(count, std::memory_order_relaxed);
            }
            result.sample_count = count;
        }
        *info = result;
        return PEV_OK;
    });
}

pev_status pev_decode_clip(const pev_archive* archive, size_t index, int16_t* samples,
                           size_t capacity, size_t* sample_count) {
    if (const pev_status status = check_clip(archive, index); status != PEV_OK) {
        return status;
    }
    if (sample_count == nullptr || (samples == nullptr && capacity != 0)) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        // A count already known spares a decode when the buffer is too small.
        if (const std::uint64_t known = known_count(*archive, index);
            known != pev_archive::kUnknownCount) {
            if (const pev_status status = check_room(known, capacity, sample_count);
                status != PEV_OK) {
                return status;
            }
        }
        ClipBuffers buffers;
        std::span<std::int16_t> frame;
        if (const pev_status status = decode_frame(*archive, index, buffers, frame);
            status != PEV_OK) {
            return status;
        }
        const std::span<const std::int16_t> decoded = frame.subspan(pev::wav::kHeaderRoomSamples);
        if (const pev_status status = check_room(decoded.size(), capacity, sample_count);
            status != PEV_OK) {
            return status;
        }
        std::copy(decoded.begin(), decoded.end(), samples);
        *sample_count = decoded.size();
        return PEV_OK;
    });
}

pev_status pev_decode_clip_wav(const pev_archive* archive, size_t index, void* wav, size_t capacity,
                               size_t* wav_size) {
    if (const pev_status status = check_clip(archive, index); status != PEV_OK) {
        return status;
    }
    if (wav_size == nullptr || (wav == nullptr && capacity != 0)) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        if (const std::uint64_t known = known_count(*archive, index);
            known != pev_archive::kUnknownCount) {
            if (const pev_status status = check_room(wav_size_of(known), capacity, wav_size);
                status != PEV_OK) {
                return status;
            }
        }
        ClipBuffers buffers;
        std::span<std::int16_t> frame;
        if (const pev_status status = decode_frame(*archive, index, buffers, frame);
            status != PEV_OK) {
            return status;
        }
        const std::uint64_t needed = wav_size_of(frame.size() - pev::wav::kHeaderRoomSamples);
        if (const pev_status status = check_room(needed, capacity, wav_size); status != PEV_OK) {
            return status;
        }
        const std::span<const std::uint8_t> bytes =
            pev::wav::frame_to_file_bytes(frame, kChannels, archive->reader->sample_rate());
        std::memcpy(wav, bytes.data(), bytes.size());
        *wav_size = bytes.size();
        return PEV_OK;
    });
}

pev_status pev_decode_clip_to_file(const pev_archive* archive, size_t index, const char* path,
                                   unsigned flags) {
    if (const pev_status status = check_clip(archive, index); status != PEV_OK) {
        return status;
    }
    if (path == nullptr || (flags & ~PEV_REPLACE) != 0) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        ClipBuffers buffers;
        std::span<std::int16_t> frame;
        if (const pev_status status = decode_frame(*archive, index, buffers, frame);
            status != PEV_OK) {
            return status;
        }
        return status_of(pev::extraction::write_wav_file(
            path, frame, archive->reader->sample_rate(), (flags & PEV_REPLACE) != 0));
    });
}

} // extern "C"
