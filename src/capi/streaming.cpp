// Streaming through the C API: pev_reader over the core's clip reader, which
// takes all its memory when opened, so reading and seeking allocate nothing.

#include "archive/clip_reader.hpp"
#include "capi/archive_handle.hpp"
#include "capi/status.hpp"

struct pev_reader {
    const pev_archive* archive = nullptr;
    pev::archive::ClipReader clip;
};

namespace {

pev_status report(const pev_reader& reader, const pev::Error& error) {
    if (error.code == pev::ErrorCode::cannot_read) {
        reader.archive->last_os_error.store(error.os.value(), std::memory_order_relaxed);
    }
    return pev::capi::status_of(error);
}

} // namespace

using pev::capi::guarded;

extern "C" {

pev_status pev_reader_open(const pev_archive* archive, size_t index, pev_reader** reader) {
    if (archive == nullptr || reader == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    if (index >= archive->reader->clip_count()) {
        return PEV_ERR_CLIP_INDEX;
    }
    return guarded([&] {
        auto made = std::make_unique<pev_reader>();
        made->archive = archive;
        if (const pev::Error error = made->clip.open(*archive->reader, index)) {
            return report(*made, error);
        }
        archive->sample_counts[index].store(made->clip.length(), std::memory_order_relaxed);
        *reader = made.release();
        return PEV_OK;
    });
}

pev_status pev_reader_read(pev_reader* reader, int16_t* frames, size_t max, size_t* got) {
    if (reader == nullptr || got == nullptr || (frames == nullptr && max != 0)) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    // No guard needed: reading neither allocates nor throws.
    if (const pev::Error error = reader->clip.read({frames, max}, *got)) {
        return report(*reader, error);
    }
    return PEV_OK;
}

pev_status pev_reader_seek(pev_reader* reader, uint64_t frame) {
    if (reader == nullptr || frame > reader->clip.length()) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    reader->clip.seek(frame);
    return PEV_OK;
}

pev_status pev_reader_tell(const pev_reader* reader, uint64_t* frame) {
    if (reader == nullptr || frame == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    *frame = reader->clip.position();
    return PEV_OK;
}

pev_status pev_reader_length(const pev_reader* reader, uint64_t* frames) {
    if (reader == nullptr || frames == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    *frames = reader->clip.length();
    return PEV_OK;
}

void pev_reader_close(pev_reader* reader) {
    delete reader;
}

} // extern "C"
