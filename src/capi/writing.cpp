// The packing half of the C API, over the packing engine's session: clips
// are encoded as they are added and laid out into an archive at the end.
//
// The engine reports failures as messages for people; the conditions a
// caller can act on are checked here first, so each gets its own code and
// what the engine still refuses is a failure to write.

#include "archive/archive_layout.hpp"
#include "archive/byte_sink.hpp"
#include "capi/archive_handle.hpp"
#include "capi/status.hpp"
#include "codec/block_encoder.hpp"
#include "pack/archive_output.hpp"
#include "pack/archive_packer.hpp"
#include "pack/pack_session.hpp"

#include <cstdlib>
#include <cstring>
#include <optional>

struct pev_writer {
    std::uint32_t rate = 0;
    std::optional<std::size_t> like_clip_count; // when made like an archive
    std::optional<pev::pack::PackSession> session;
    std::uint64_t stored_bytes = 0;      // of every clip added
    std::uint64_t last_stored_bytes = 0; // of the last one
    bool finished = false;
};

namespace pev::capi {
namespace {

constexpr std::uint64_t kMaxDataOffset = 0xFFFFFFFFu;

pev_status make_writer(std::uint32_t rate, std::optional<archive::ArchiveTemplate> like,
                       pev_writer** out) {
    auto writer = std::make_unique<pev_writer>();
    writer->rate = rate;
    if (like) {
        writer->like_clip_count = like->entry_ids.size();
    }
    writer->session.emplace(std::move(like), rate);
    *out = writer.release();
    return PEV_OK;
}

// What must hold before an archive is laid out: as many clips as the archive
// it is like, and every entry starting where a 32-bit offset reaches.
pev_status check_finish(const pev_writer& writer) {
    if (writer.finished) {
        return PEV_ERR_WRITER_FINISHED;
    }
    const std::size_t count = writer.session->clips_added();
    if (writer.like_clip_count && *writer.like_clip_count != count) {
        return PEV_ERR_LIKE_MISMATCH;
    }
    const std::uint64_t last_offset = archive::kHeaderSize + archive::kEntryRowSize * count +
                                      writer.stored_bytes - writer.last_stored_bytes;
    return last_offset > kMaxDataOffset ? PEV_ERR_ARCHIVE_TOO_LARGE : PEV_OK;
}

void mark_finished(pev_writer& writer) {
    writer.finished = true;
    writer.session.reset(); // the encoded clips are no longer needed
}

} // namespace
} // namespace pev::capi

using namespace pev::capi;

extern "C" {

pev_status pev_writer_new(uint32_t sample_rate, pev_writer** writer) {
    if (sample_rate == 0 || writer == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] { return make_writer(sample_rate, std::nullopt, writer); });
}

pev_status pev_writer_new_like(uint32_t sample_rate, const pev_archive* like, pev_writer** writer) {
    if (sample_rate == 0 || like == nullptr || writer == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded(
        [&] { return make_writer(sample_rate, pev::archive::template_of(*like->reader), writer); });
}

pev_status pev_writer_new_like_file(uint32_t sample_rate, const char* path, pev_writer** writer) {
    if (sample_rate == 0 || path == nullptr || writer == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    // Read through the same reader as any archive, so it is refused alike.
    pev_archive* like = nullptr;
    if (const pev_status status = pev_open_file(path, &like); status != PEV_OK) {
        return status;
    }
    const pev_status status = pev_writer_new_like(sample_rate, like, writer);
    pev_close(like);
    return status;
}

pev_status pev_writer_add_clip(pev_writer* writer, const int16_t* samples, size_t count) {
    if (writer == nullptr || (samples == nullptr && count != 0)) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    if (writer->finished) {
        return PEV_ERR_WRITER_FINISHED;
    }
    const std::size_t added = writer->session->clips_added();
    if (added >= static_cast<std::size_t>(pev::archive::kMaxWaveFiles)) {
        return PEV_ERR_TOO_MANY_CLIPS;
    }
    if (writer->like_clip_count && added >= *writer->like_clip_count) {
        return PEV_ERR_LIKE_MISMATCH;
    }
    if (pev::blocks_for_samples(count) > pev::pack::kMaxBlocksPerClip) {
        return PEV_ERR_CLIP_TOO_LONG;
    }
    return guarded([&] {
        pev::pack::ClipSummary summary;
        if (!writer->session->add_clip({samples, count}, writer->rate, &summary).ok()) {
            return PEV_ERR_INVALID_ARGUMENT; // the checks above leave nothing to refuse
        }
        writer->stored_bytes += summary.stored_bytes;
        writer->last_stored_bytes = summary.stored_bytes;
        return PEV_OK;
    });
}

pev_status pev_writer_finish_file(pev_writer* writer, const char* path, unsigned flags) {
    if (writer == nullptr || path == nullptr || (flags & ~PEV_REPLACE) != 0) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    if (const pev_status status = check_finish(*writer); status != PEV_OK) {
        return status;
    }
    return guarded([&] {
        const pev_status status = status_of(pev::pack::save_archive(
            path, (flags & PEV_REPLACE) != 0,
            [&](pev::archive::ByteSink& sink) { return writer->session->write_to(sink); }));
        if (status != PEV_OK) {
            return status;
        }
        mark_finished(*writer);
        return PEV_OK;
    });
}

pev_status pev_writer_finish_memory(pev_writer* writer, void** bytes, size_t* size) {
    if (writer == nullptr || bytes == nullptr || size == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    if (const pev_status status = check_finish(*writer); status != PEV_OK) {
        return status;
    }
    return guarded([&] {
        pev::archive::MemorySink sink;
        if (!writer->session->write_to(sink).ok()) {
            return PEV_ERR_ARCHIVE_TOO_LARGE; // the only refusal a memory sink meets
        }
        const std::vector<std::uint8_t>& archive = sink.bytes();
        // malloc, so that pev_free can be free whatever allocator C++ uses.
        void* copy = std::malloc(archive.size());
        if (copy == nullptr) {
            return PEV_ERR_NO_MEMORY;
        }
        std::memcpy(copy, archive.data(), archive.size());
        *bytes = copy;
        *size = archive.size();
        mark_finished(*writer);
        return PEV_OK;
    });
}

void pev_writer_free(pev_writer* writer) {
    delete writer;
}

void pev_free(void* bytes) {
    std::free(bytes);
}

} // extern "C"
