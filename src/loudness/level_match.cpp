#include "loudness/level_match.hpp"

#include "codec/block_encoder.hpp"
#include "codec/tables.hpp"
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

std::vector<std::int16_t> as_stored(std::span<const std::int16_t> samples) {
    std::vector<std::int16_t> stored(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        stored[i] = kExpansion[nearest_level(samples[i])];
    }
    // The encoder evens out an odd length with the last level once more;
    // one sample can complete one more 100 ms step of the gate, and so move
    // the integrated loudness by tenths of a LU.
    if (stored.size() % 2 == 1) {
        stored.push_back(stored.back());
    }
    return stored;
}

namespace {

// The level `match` compares, of `loudness`.
std::optional<double> level_of(const ClipLoudness& loudness, MatchBasis basis) {
    return basis == MatchBasis::integrated ? loudness.integrated : loudness.speech_rms;
}

} // namespace

LevelMatch match_as_stored(const ClipLoudness& clip, const ClipLoudness& recording,
                           std::span<const std::int16_t> samples, bool dither,
                           const Measure& measure) {
    constexpr int kRounds = 6;
    constexpr double kClose = 0.01; // dB
    LevelMatch match = match_level(clip, recording);
    if (match.basis == MatchBasis::none) {
        return match;
    }
    const double limit = clip_free_gain_db(recording.peak);
    std::vector<std::int16_t> scaled;
    for (int round = 0;; ++round) {
        scaled.assign(samples.begin(), samples.end());
        apply_gain(scaled, match.factor(), dither);
        const std::optional<double> stored = level_of(measure(as_stored(scaled)), match.basis);
        if (!stored) {
            break; // gated away once stored: the first figures stand
        }
        match.reached = *stored;
        const double missing = match.target - *stored;
        if (std::abs(missing) <= kClose || round + 1 == kRounds) {
            break;
        }
        const double gain = match.gain_db + missing;
        match.wanted_db = gain;
        if (gain > limit) {
            if (match.gain_db >= limit) {
                break; // as loud as it can be
            }
            match.gain_db = limit;
        } else {
            match.gain_db = gain;
        }
    }
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
