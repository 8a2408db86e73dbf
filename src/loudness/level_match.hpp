#pragma once
// The gain that gives a new recording the level of the clip it replaces:
// the difference of their integrated loudness where both have one, else of
// their speech levels (a clip too short or too quiet for the gate), limited
// so that no sample of the recording clips. The clip is heard as stored,
// and storing a recording changes its level (the codec keeps 256 levels, a
// step of 2 near silence and of 500 near full scale, so it adds most to a
// quiet recording), so the gain is refined on the recording as it will be
// stored. The front ends (pev replace, the page) only word the outcome.

#include "loudness/clip_loudness.hpp"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace pev::loudness {

enum class MatchBasis {
    integrated, // both clips' integrated loudness
    speech,     // both clips' speech level: one of them was gated away
    none,       // nothing to match (see MatchProblem)
};

enum class MatchProblem {
    none,
    clip_silent,      // the clip replaced holds no speech
    recording_silent, // the recording holds no speech
};

struct LevelMatch {
    MatchBasis basis = MatchBasis::none;
    MatchProblem problem = MatchProblem::none;
    double wanted_db = 0.0; // the gain that would match
    double gain_db = 0.0;   // the gain to apply: wanted_db, or less where it would clip
    // The level reached, in the basis's unit (LUFS or dBFS), and the
    // level it aims at.
    double target = 0.0;
    double reached = 0.0;

    // True when the limit took more than a hundredth of a dB off.
    bool limited() const { return wanted_db - gain_db > 0.01; }
    // The gain as a factor on the samples.
    double factor() const;
};

// The gain for `recording` to match `clip`, from their levels alone.
LevelMatch match_level(const ClipLoudness& clip, const ClipLoudness& recording);

// Measures samples (libebur128's meter, which the core does not link).
using Measure = std::function<ClipLoudness(std::span<const std::int16_t> samples)>;

// The gain for the recording of `samples` (measured as `recording`) to
// match `clip` once it is stored: scaled as apply_gain scales it, brought
// to the codec's levels, measured, and the gain corrected by what is still
// missing, until the stored recording is within 0.01 dB of the clip (at
// most a few rounds) or the limit stops it. `reached` is the stored
// recording's level.
LevelMatch match_as_stored(const ClipLoudness& clip, const ClipLoudness& recording,
                           std::span<const std::int16_t> samples, bool dither,
                           const Measure& measure);

// The samples the decoder gives back for `samples` once stored: each at
// the nearest of the codec's 256 levels, and an odd length evened out by
// the last once more, as the encoder does.
std::vector<std::int16_t> as_stored(std::span<const std::int16_t> samples);

// The highest gain that leaves every sample of a recording whose peak is
// `peak` within 16 bits after dither (which may add one step): +inf for 0.
double clip_free_gain_db(std::uint32_t peak);

// Scales `samples` by `factor` and brings them back to 16 bits as
// conversions do (with dither unless `dither` is false). Returns the count
// of samples clipped, which match_level's gain never causes.
std::uint64_t apply_gain(std::span<std::int16_t> samples, double factor, bool dither);

} // namespace pev::loudness
