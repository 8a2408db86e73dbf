// The packing half of the C API, over the packing engine's session: clips
// are encoded as they are added (or copied as another archive stores them)
// and laid out into an archive at the end.
// The engine checks every clip and the archive; its errors become status
// codes through the one table in status.cpp.

#include "archive/byte_sink.hpp"
#include "capi/archive_handle.hpp"
#include "capi/status.hpp"
#include "pack/archive_output.hpp"
#include "pack/archive_packer.hpp"
#include "pack/pack_session.hpp"
#include "pack/stored_clip.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>

struct pev_writer {
    std::uint32_t rate = 0;
    std::optional<pev::pack::PackSession> session;
    pev::archive::ClipBuffers copy_buffers; // kept from copied clip to copied clip
    bool finished = false;
};

namespace pev::capi {
namespace {

pev_status make_writer(std::uint32_t rate, std::optional<archive::ArchiveTemplate> like,
                       pev_writer** out) {
    auto writer = std::make_unique<pev_writer>();
    writer->rate = rate;
    writer->session.emplace(std::move(like), rate);
    *out = writer.release();
    return PEV_OK;
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
    return guarded([&] {
        return status_of(writer->session->add_clip({samples, count}, writer->rate));
    });
}

pev_status pev_writer_copy_clip(pev_writer* writer, const pev_archive* archive, size_t index) {
    if (writer == nullptr || archive == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    if (writer->finished) {
        return PEV_ERR_WRITER_FINISHED;
    }
    if (index >= archive->reader->clip_count()) {
        return PEV_ERR_CLIP_INDEX;
    }
    return guarded([&] {
        // Copying needs no sample count: the clip's bytes are read once, or
        // not at all from an archive in memory, and copied once.
        pev::pack::StoredClip clip;
        pev::Error error = pev::pack::read_stored_clip(
            *archive->reader, index, writer->copy_buffers, clip, pev::pack::CountSamples::no);
        if (error.ok()) {
            error = writer->session->add_stored_clip(clip);
        }
        if (error.code == pev::ErrorCode::cannot_read) {
            archive->last_os_error.store(error.os.value(), std::memory_order_relaxed);
        }
        return status_of(error);
    });
}

pev_status pev_writer_finish_file(pev_writer* writer, const char* path, unsigned flags) {
    if (writer == nullptr || path == nullptr || (flags & ~PEV_REPLACE) != 0) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    if (writer->finished) {
        return PEV_ERR_WRITER_FINISHED;
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

pev_status pev_writer_finish_memory(pev_writer* writer, void** bytes, size_t* size_out) {
    if (writer == nullptr || bytes == nullptr || size_out == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    if (writer->finished) {
        return PEV_ERR_WRITER_FINISHED;
    }
    return guarded([&] {
        // Written twice: once to learn the archive's size, once into a
        // buffer of exactly that size (see SizingSink).
        pev::archive::SizingSink sizing;
        if (const pev_status status = status_of(writer->session->write_to(sizing));
            status != PEV_OK) {
            return status;
        }
        if (sizing.size() > std::numeric_limits<std::size_t>::max()) {
            return PEV_ERR_NO_MEMORY;
        }
        const auto size = static_cast<std::size_t>(sizing.size());
        // malloc, so that pev_free can be free whatever allocator C++ uses.
        auto* archive = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(size, 1)));
        if (archive == nullptr) {
            return PEV_ERR_NO_MEMORY;
        }
        pev::archive::BufferSink sink({archive, size});
        if (const pev_status status = status_of(writer->session->write_to(sink));
            status != PEV_OK) {
            std::free(archive);
            return status;
        }
        *bytes = archive;
        *size_out = size;
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
