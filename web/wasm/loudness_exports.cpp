// The page's loudness: the same meter (libebur128, built from its sources
// for WebAssembly) and the same level match as pev replace
// --match-loudness, for the engine to call with the module's memory.
// Figures come back as doubles, NaN for none; the status is that of the C
// library (0, or 4 when memory runs out).

#include "loudness/level_match.hpp"
#include "loudness/loudness_meter.hpp"
#include "pev/pev.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <span>

namespace {

using pev::loudness::ClipLoudness;

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

double or_none(const std::optional<double>& value) {
    return value ? *value : kNone;
}

} // namespace

extern "C" {

// out[0] integrated loudness (LUFS), out[1] speech level (dBFS), out[2]
// sample peak (dBFS).
pev_status pev_web_measure(const std::int16_t* samples, std::uint32_t count, std::uint32_t rate,
                           double* out) {
    try {
        const ClipLoudness loudness = pev::loudness::measure({samples, count}, rate);
        out[0] = or_none(loudness.integrated);
        out[1] = or_none(loudness.speech_rms);
        out[2] = or_none(loudness.peak_dbfs());
        return PEV_OK;
    } catch (const std::bad_alloc&) {
        return PEV_ERR_NO_MEMORY;
    }
}

// Matches `recording` (count samples at `rate`) to the clip of `clip_count`
// samples it replaces, as stored, and scales it in place by the gain found
// (dithered, as pev replace does). out[0] basis (0 none, 1 integrated
// loudness, 2 speech level), out[1] why none (1 the clip is silent, 2 the
// recording is), out[2] the gain wanted, out[3] the gain applied (dB),
// out[4] the level aimed at, out[5] the level reached once stored.
pev_status pev_web_match(const std::int16_t* clip, std::uint32_t clip_count,
                         std::int16_t* recording, std::uint32_t count, std::uint32_t rate,
                         double* out) {
    using namespace pev::loudness;
    try {
        const auto measure = [rate](std::span<const std::int16_t> samples) {
            return pev::loudness::measure(samples, rate);
        };
        const std::span<std::int16_t> samples(recording, count);
        const LevelMatch match =
            match_as_stored(measure({clip, clip_count}), measure(samples), samples, true, measure);
        out[0] = match.basis == MatchBasis::integrated ? 1
                 : match.basis == MatchBasis::speech   ? 2
                                                       : 0;
        out[1] = match.problem == MatchProblem::clip_silent        ? 1
                 : match.problem == MatchProblem::recording_silent ? 2
                                                                   : 0;
        out[2] = match.wanted_db;
        out[3] = match.gain_db;
        out[4] = match.target;
        out[5] = match.reached;
        if (match.basis != MatchBasis::none) {
            apply_gain(samples, match.factor(), true);
        }
        return PEV_OK;
    } catch (const std::bad_alloc&) {
        return PEV_ERR_NO_MEMORY;
    }
}

} // extern "C"
