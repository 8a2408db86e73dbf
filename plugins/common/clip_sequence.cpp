#include "clip_sequence.hpp"

namespace pev::player {

ClipSequence::ClipSequence(const pev_archive* archive, const ClipList& list)
    : archive_(archive), list_(list) {}

ClipSequence::~ClipSequence() {
    for (const OpenReader& open : readers_) {
        pev_reader_close(open.reader);
    }
}

pev_status ClipSequence::seek(std::uint64_t sample) {
    if (sample > list_.total_samples()) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    position_ = sample;
    // The reader moves when the clip is next read; a seek within the open
    // clip keeps it, and its blocks' places, open.
    return PEV_OK;
}

// Makes reader_ the reader of listed clip `clip`: one kept open, or opened
// in place of the one used longest ago.
pev_status ClipSequence::enter(std::size_t clip) {
    OpenReader* slot = &readers_[0];
    for (OpenReader& open : readers_) {
        if (open.reader != nullptr && open.clip == clip) {
            slot = &open;
            break;
        }
        if (open.reader == nullptr || open.last_use < slot->last_use) {
            slot = &open;
        }
    }
    if (slot->reader == nullptr || slot->clip != clip) {
        pev_reader_close(slot->reader);
        *slot = OpenReader{};
        const pev_status status = pev_reader_open(archive_, list_.clips[clip].index, &slot->reader);
        if (status != PEV_OK) {
            return status;
        }
        slot->clip = clip;
    }
    slot->last_use = ++uses_;
    reader_ = slot->reader;
    return PEV_OK;
}

pev_status ClipSequence::read(std::int16_t* samples, std::size_t max, std::size_t* got) {
    *got = 0;
    const std::size_t clip = current_clip();
    if (clip == list_.clips.size() || max == 0) {
        return PEV_OK;
    }
    pev_status status = enter(clip);
    const ListedClip& listed = list_.clips[clip];
    const std::uint64_t offset = position_ - listed.start;
    std::uint64_t at = 0;
    if (status == PEV_OK && pev_reader_tell(reader_, &at) == PEV_OK && at != offset) {
        status = pev_reader_seek(reader_, offset);
    }
    if (status != PEV_OK) {
        return status;
    }
    // The reader ends at its clip's end, so a read never runs into the next.
    status = pev_reader_read(reader_, samples, max, got);
    position_ += *got;
    // A reader that ends before the length its scan gave would leave the
    // caller asking for the same samples for ever.
    return status == PEV_OK && *got == 0 ? PEV_ERR_INTERNAL : status;
}

} // namespace pev::player
