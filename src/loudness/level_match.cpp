#include "loudness/level_match.hpp"

#include "wav/quantiser.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace pev::loudness {

double LevelMatch::factor() const {
    return std::pow(10.0, gain_db / 20.0);
}

double clip_free_gain_db(std::uint32_t peak) {
    if (peak == 0) {
        return std::numeric_limits<double>::infinity();
    }
    // Dither may lift a sample by one step: 32766 stays within 32767.
    return 20.0 * std::log10(32766.0 / static_cast<double>(peak));
}

LevelMatch match_level(const ClipLoudness& clip, const ClipLoudness& recording) {
    LevelMatch match;
    if (clip.integrated && recording.integrated) {
        match.basis = MatchBasis::integrated;
        match.target = *clip.integrated;
        match.wanted_db = *clip.integrated - *recording.integrated;
    } else if (!clip.speech_rms) {
        match.problem = MatchProblem::clip_silent;
        return match;
    } else if (!recording.speech_rms) {
        match.problem = MatchProblem::recording_silent;
        return match;
    } else {
        match.basis = MatchBasis::speech;
        match.target = *clip.speech_rms;
        match.wanted_db = *clip.speech_rms - *recording.speech_rms;
    }
    match.gain_db = std::min(match.wanted_db, clip_free_gain_db(recording.peak));
    match.reached = match.target - (match.wanted_db - match.gain_db);
    return match;
}

std::uint64_t apply_gain(std::span<std::int16_t> samples, double factor, bool dither) {
    wav::Quantiser quantiser(dither);
    std::array<float, 4096> run{};
    const double scale = factor / 32768.0;
    while (!samples.empty()) {
        const std::size_t count = std::min(samples.size(), run.size());
        for (std::size_t i = 0; i < count; ++i) {
            run[i] = static_cast<float>(samples[i] * scale);
        }
        quantiser.quantise(std::span<const float>(run.data(), count), samples.first(count));
        samples = samples.subspan(count);
    }
    return quantiser.clipped();
}

} // namespace pev::loudness
