#pragma once
// The clips a player offers from one archive: every clip that can be decoded
// (or the one clip asked for), in table order, each with its place in the
// samples of all of them played one after another. Damaged clips are left
// out and named, so the player can warn about each.

#include "pev/pev.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pev::player {

struct ListedClip {
    std::size_t index = 0;     // in the archive's entry table, from 0
    std::uint64_t start = 0;   // its first sample in the listed clips played in a row
    std::uint64_t samples = 0; // its length
    std::size_t position() const { return index + 1; } // as extracted files are numbered
    std::uint64_t end() const { return start + samples; }
};

struct SkippedClip {
    std::size_t index = 0;
    pev_status problem = PEV_OK;
};

struct ClipList {
    std::uint32_t rate = 0;        // samples per second, of every clip
    std::size_t archive_clips = 0; // clips in the archive, listed or not
    std::vector<ListedClip> clips;
    std::vector<SkippedClip> skipped;

    std::uint64_t total_samples() const { return clips.empty() ? 0 : clips.back().end(); }
    // The listed clip that holds `sample`; clips.size() from the end on.
    // Clips without samples hold none.
    std::size_t clip_holding(std::uint64_t sample) const;
};

// Lists the clips of `archive` that can be decoded, scanning each for its
// exact length: all of them when `only_position` is 0, else the clip at that
// 1-based position alone. Fails with PEV_ERR_IO when a read fails,
// PEV_ERR_CLIP_INDEX when there is no clip at `only_position`, and with the
// clip's problem when that one clip cannot be decoded.
pev_status list_clips(const pev_archive* archive, std::size_t only_position, ClipList& list);

} // namespace pev::player
