// The reading half of the C API: opening archives (a file, memory, the
// caller's callbacks), describing clips and decoding them, all through the
// core's one archive reader. Sample counts come from a scan of the stored
// bytes and clips are decoded a block at a time into the caller's buffer,
// so neither costs a second copy of the clip.

#include "archive/archive_reader.hpp"
#include "archive/clip_blocks.hpp"
#include "capi/archive_handle.hpp"
#include "capi/callback_source.hpp"
#include "capi/status.hpp"
#include "extraction/wav_output.hpp"
#include "platform/files.hpp"
#include "platform/utf8_path.hpp"
#include "wav/wav_writer.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

namespace pev::capi {
namespace {

using archive::ArchiveReader;
using archive::ClipBuffers;
using archive::ClipInfo;

constexpr std::uint16_t kChannels = 1;
constexpr std::uint64_t kMaxSize = std::numeric_limits<std::size_t>::max();

// Reads the archive's header and entry table through `source`; a refusal
// that came from a failed read is PEV_ERR_IO, not a verdict on the bytes.
pev_status finish_open(std::unique_ptr<pev_archive> handle,
                       std::unique_ptr<archive::ByteSource> source, pev_archive** out) {
    auto checked = std::make_unique<CheckedSource>(std::move(source));
    const CheckedSource& reads = *checked;
    handle->source = std::move(checked);
    handle->reader = std::make_unique<ArchiveReader>(*handle->source);
    if (const pev_status status = status_of(handle->reader->open_result()); status != PEV_OK) {
        if (reads.failure() != 0) {
            errno = reads.failure() > 0 ? reads.failure() : 0;
            return PEV_ERR_IO;
        }
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

// The status of a core error, keeping the system's reason of a failed read
// for pev_last_os_error.
pev_status report(const pev_archive& archive, const Error& error) {
    if (error.code == ErrorCode::cannot_read) {
        archive.last_os_error.store(error.os.value(), std::memory_order_relaxed);
    }
    return status_of(error);
}

// Reads clip `index`'s block sizes into `buffers` and judges it: PEV_OK for
// a sound clip, else its problem or PEV_ERR_IO.
pev_status inspect(const pev_archive& archive, std::size_t index, ClipBuffers& buffers,
                   ClipInfo& clip) {
    clip = archive.reader->inspect(index, buffers);
    if (clip.problem == pev::ClipProblem::block_table_past_end) {
        return status_of(clip.problem);
    }
    if (!clip.table_read_whole()) {
        return report(archive, archive::read_failure(clip, clip.table_read));
    }
    return status_of(clip.problem);
}

// The exact sample count of a sound clip: known, or scanned and kept.
pev_status sample_count_of(const pev_archive& archive, const ClipInfo& clip, std::uint64_t& count) {
    count = archive.sample_counts[clip.index].load(std::memory_order_relaxed);
    if (count != pev_archive::kUnknownCount) {
        return PEV_OK;
    }
    // Taken only when the source is not in memory.
    archive::ScratchBuffer<std::uint8_t> buffer;
    if (const Error error = archive::scan_clip(archive.reader->source(), clip, buffer, count)) {
        return report(archive, error);
    }
    archive.sample_counts[clip.index].store(count, std::memory_order_relaxed);
    return PEV_OK;
}

// The size-asked-first protocol: the size needed stored, and
// PEV_ERR_BUFFER_TOO_SMALL when `capacity` cannot hold it.
pev_status check_room(std::uint64_t needed, std::size_t capacity, std::size_t* size) {
    if (needed > kMaxSize) {
        return PEV_ERR_NO_MEMORY;
    }
    *size = static_cast<std::size_t>(needed);
    return needed > capacity ? PEV_ERR_BUFFER_TOO_SMALL : PEV_OK;
}

// Decodes a sound clip of `count` samples into `samples`.
pev_status decode_into(const pev_archive& archive, const ClipInfo& clip, std::uint64_t count,
                       std::span<std::int16_t> samples) {
    // Taken only when the source is not in memory.
    archive::ScratchBuffer<std::uint8_t> buffer;
    std::uint64_t written = 0;
    if (const Error error =
            archive::decode_clip(archive.reader->source(), clip, buffer, samples, written)) {
        return report(archive, error);
    }
    // Fewer samples than scanned: the bytes changed in between.
    return written == count ? PEV_OK : report(archive, archive::read_failure(clip, {}));
}

// Clip `index` inspected and counted: the common first steps of the calls
// that describe or decode a clip.
struct CountedClip {
    ClipBuffers buffers;
    ClipInfo info;
    std::uint64_t count = 0;
};

pev_status count_clip(const pev_archive& archive, std::size_t index, CountedClip& clip) {
    if (const pev_status status = inspect(archive, index, clip.buffers, clip.info);
        status != PEV_OK) {
        return status;
    }
    return sample_count_of(archive, clip.info, clip.count);
}

// Everything pev_clip_info and pev_clip_details tell.
pev_status describe(const pev_archive& archive, std::size_t index, pev_clip_details& details) {
    CountedClip clip;
    const pev_status status = count_clip(archive, index, clip);
    if (status == PEV_ERR_IO) {
        return status;
    }
    const ClipInfo& info = clip.info;
    details.entry_id = info.row.id;
    details.block_count = info.row.block_count;
    details.silent_blocks = info.silent_blocks;
    details.raw_blocks = info.raw_blocks;
    details.delta_blocks = info.delta_blocks;
    details.stored_bytes = info.stored_bytes();
    details.problem = status;
    details.sample_count = status == PEV_OK ? clip.count : 0;
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
        // Told apart before opening: opening a pipe could wait for a writer,
        // and a folder opens on some systems and fails only when read.
        std::error_code error;
        const auto status = std::filesystem::status(pev::path_from_utf8(path), error);
        if (!error && std::filesystem::exists(status) &&
            !std::filesystem::is_regular_file(status)) {
            return PEV_ERR_NOT_A_FILE;
        }
        auto handle = std::make_unique<pev_archive>();
        errno = 0;
        handle->file = pev::open_for_reading(path);
        if (handle->file == nullptr) {
            const int reason = errno;
            handle.reset();
            errno = reason;
            return PEV_ERR_CANNOT_OPEN;
        }
        auto source = std::make_unique<pev::archive::FileSource>(handle->file);
        return finish_open(std::move(handle), std::move(source), archive);
    });
}

pev_status pev_open_memory(const void* bytes, size_t size, pev_archive** archive) {
    if ((bytes == nullptr && size != 0) || archive == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        auto source = std::make_unique<pev::archive::MemorySource>(
            std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), size));
        return finish_open(std::make_unique<pev_archive>(), std::move(source), archive);
    });
}

pev_status pev_open_callbacks(pev_read_callback read, uint64_t size, void* user,
                              pev_archive** archive) {
    if (read == nullptr || archive == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        return finish_open(std::make_unique<pev_archive>(),
                           std::make_unique<CallbackSource>(read, size, user), archive);
    });
}

void pev_close(pev_archive* archive) {
    delete archive;
}

pev_status pev_last_os_error(const pev_archive* archive, int* os_error) {
    if (archive == nullptr || os_error == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    *os_error = archive->last_os_error.load(std::memory_order_relaxed);
    return PEV_OK;
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
        pev_clip_details details{};
        if (const pev_status status = describe(*archive, index, details); status != PEV_OK) {
            return status;
        }
        pev_clip_info result{};
        result.entry_id = static_cast<std::uint16_t>(details.entry_id);
        result.block_count = static_cast<std::uint16_t>(details.block_count);
        result.silent_blocks = details.silent_blocks;
        result.raw_blocks = details.raw_blocks;
        result.delta_blocks = details.delta_blocks;
        result.stored_bytes = details.stored_bytes;
        result.sample_count = details.sample_count;
        result.problem = details.problem;
        *info = result;
        return PEV_OK;
    });
}

pev_status pev_get_clip_details(const pev_archive* archive, size_t index,
                                pev_clip_details* details) {
    if (const pev_status status = check_clip(archive, index); status != PEV_OK) {
        return status;
    }
    if (details == nullptr || details->struct_size < sizeof(pev_clip_details)) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        pev_clip_details result{};
        if (const pev_status status = describe(*archive, index, result); status != PEV_OK) {
            return status;
        }
        // Later versions copy only the fields the caller's struct has room for.
        result.struct_size = details->struct_size;
        std::memcpy(details, &result, sizeof result);
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
        CountedClip clip;
        std::size_t needed = 0;
        if (const pev_status status = count_clip(*archive, index, clip); status != PEV_OK) {
            return status;
        }
        if (const pev_status status = check_room(clip.count, capacity, &needed); status != PEV_OK) {
            *sample_count = needed;
            return status;
        }
        if (const pev_status status =
                decode_into(*archive, clip.info, clip.count, {samples, needed});
            status != PEV_OK) {
            return status;
        }
        *sample_count = needed;
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
        CountedClip clip;
        std::size_t needed = 0;
        if (const pev_status status = count_clip(*archive, index, clip); status != PEV_OK) {
            return status;
        }
        if (const pev_status status =
                check_room(pev::wav::Frame::file_size_for(clip.count), capacity, &needed);
            status != PEV_OK) {
            *wav_size = needed;
            return status;
        }
        // The samples are decoded in place behind the header: at byte 44, or
        // at byte 43 and moved up when the buffer is oddly aligned.
        auto* bytes = static_cast<std::uint8_t*>(wav);
        const bool odd = reinterpret_cast<std::uintptr_t>(bytes + pev::wav::kHeaderSize) % 2 != 0;
        std::uint8_t* first = bytes + pev::wav::kHeaderSize - (odd ? 1 : 0);
        auto* samples = reinterpret_cast<std::int16_t*>(first);
        const auto count = static_cast<std::size_t>(clip.count);
        if (const pev_status status =
                decode_into(*archive, clip.info, clip.count, {samples, count});
            status != PEV_OK) {
            return status;
        }
        if constexpr (std::endian::native == std::endian::big) {
            for (std::size_t i = 0; i < count; ++i) {
                const auto u = static_cast<std::uint16_t>(samples[i]);
                samples[i] = static_cast<std::int16_t>((u >> 8) | (u << 8));
            }
        }
        if (odd) {
            std::memmove(first + 1, first, 2 * count);
        }
        const auto header = pev::wav::make_header(static_cast<std::uint32_t>(2 * count), kChannels,
                                                  archive->reader->sample_rate());
        std::memcpy(bytes, header.data(), header.size());
        *wav_size = needed;
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
        CountedClip clip;
        if (const pev_status status = count_clip(*archive, index, clip); status != PEV_OK) {
            return status;
        }
        std::vector<std::int16_t> buffer(pev::wav::Frame::buffer_size(clip.count));
        const pev::wav::Frame frame(buffer, static_cast<std::size_t>(clip.count));
        if (const pev_status status = decode_into(*archive, clip.info, clip.count, frame.samples());
            status != PEV_OK) {
            return status;
        }
        return status_of(pev::extraction::write_wav_file(
            path, frame, archive->reader->sample_rate(), (flags & PEV_REPLACE) != 0));
    });
}

} // extern "C"
