#include "clip_list.hpp"

#include <algorithm>

namespace pev::player {

std::size_t ClipList::clip_holding(std::uint64_t sample) const {
    // The first clip that ends after `sample`; empty clips end where they start.
    const auto found = std::upper_bound(
        clips.begin(), clips.end(), sample,
        [](std::uint64_t wanted, const ListedClip& clip) { return wanted < clip.end(); });
    return static_cast<std::size_t>(found - clips.begin());
}

pev_status list_clips(const pev_archive* archive, std::size_t only_position, ClipList& list) {
    list = ClipList{};
    pev_status status = pev_sample_rate(archive, &list.rate);
    if (status == PEV_OK) {
        status = pev_clip_count(archive, &list.archive_clips);
    }
    if (status != PEV_OK) {
        return status;
    }
    std::size_t first = 0;
    std::size_t last = list.archive_clips;
    if (only_position != 0) {
        if (only_position > list.archive_clips) {
            return PEV_ERR_CLIP_INDEX;
        }
        first = only_position - 1;
        last = only_position;
    }
    std::uint64_t start = 0;
    for (std::size_t index = first; index < last; ++index) {
        pev_clip_info info;
        if ((status = pev_get_clip_info(archive, index, &info)) != PEV_OK) {
            return status;
        }
        if (info.problem != PEV_OK) {
            if (only_position != 0) {
                return info.problem;
            }
            list.skipped.push_back({index, info.problem});
            continue;
        }
        list.clips.push_back({index, start, info.sample_count});
        start += info.sample_count;
    }
    return PEV_OK;
}

} // namespace pev::player
