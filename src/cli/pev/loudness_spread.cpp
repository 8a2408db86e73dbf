#include "cli/pev/loudness_spread.hpp"

#include "cli/pev/loudness_support.hpp"
#include "cli/pev/named_archive.hpp"

namespace pev::cli::tool {

void LoudnessSpread::add(const SurveyedClip& clip) {
    if (!clip.loudness) {
        return; // refused, or not measured
    }
    if (!clip.loudness->integrated) {
        ++unmeasured_;
        return;
    }
    const MeasuredClip measured{clip.index, clip.id, *clip.loudness->integrated};
    // The first of equals is kept: clips come in table order.
    if (!quietest_ || measured.lufs < quietest_->lufs) {
        quietest_ = measured;
    }
    if (!loudest_ || measured.lufs > loudest_->lufs) {
        loudest_ = measured;
    }
}

std::string LoudnessSpread::text() const {
    std::string text = "Loudness: ";
    if (!quietest_) {
        text += "no clip is long or loud enough for an integrated loudness";
    } else {
        const auto at = [](const MeasuredClip& clip) {
            return clip_label(clip.index, clip.id) + " at " + level_text(clip.lufs) + " LUFS";
        };
        text += "quietest " + at(*quietest_) + ", loudest " + at(*loudest_) + ", " +
                level_text(loudest_->lufs - quietest_->lufs) + " LU apart";
    }
    if (unmeasured_ > 0 && quietest_) {
        text += "; " + std::to_string(unmeasured_) + " clip" + (unmeasured_ == 1 ? "" : "s") +
                " too short or quiet to measure";
    }
    return text;
}

} // namespace pev::cli::tool
