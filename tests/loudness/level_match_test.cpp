// The level match the front ends share: which levels are compared, the
// limit that keeps samples from clipping, the speech level it falls back
// to, and the gain applied to 16-bit samples.

#include "loudness/level_match.hpp"
#include "loudness/speech_level.hpp"
#include "support/speech_like.hpp"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <vector>

namespace pev::loudness {
namespace {

ClipLoudness levels(std::optional<double> integrated, std::optional<double> speech,
                    std::uint32_t peak) {
    ClipLoudness loudness;
    loudness.integrated = integrated;
    loudness.speech_rms = speech;
    loudness.peak = peak;
    return loudness;
}

struct MatchCase {
    const char* name;
    ClipLoudness clip;
    ClipLoudness recording;
    MatchBasis basis;
    MatchProblem problem;
    double wanted_db;
    double gain_db;
};

// Integrated loudness wherever both have it; the speech level when either
// was gated away; nothing when either holds no speech.
const MatchCase kMatchCases[] = {
    {"both_integrated", levels(-23.0, -20.0, 9000), levels(-29.5, -25.0, 3000),
     MatchBasis::integrated, MatchProblem::none, 6.5, 6.5},
    {"quieter_recording_turned_down", levels(-30.0, -27.0, 3000), levels(-18.0, -16.0, 30000),
     MatchBasis::integrated, MatchProblem::none, -12.0, -12.0},
    {"clip_gated_away", levels(std::nullopt, -31.0, 2000), levels(-20.0, -18.0, 16000),
     MatchBasis::speech, MatchProblem::none, -13.0, -13.0},
    {"recording_gated_away", levels(-24.0, -22.0, 8000), levels(std::nullopt, -40.0, 400),
     MatchBasis::speech, MatchProblem::none, 18.0, 18.0},
    // The recording's peak of 16383 allows 20 log10(32766 / 16383) = +6.02 dB.
    {"limited_by_the_peak", levels(-14.0, -12.0, 30000), levels(-26.0, -24.0, 16383),
     MatchBasis::integrated, MatchProblem::none, 12.0, 20.0 * std::log10(2.0)},
    {"clip_silent", levels(std::nullopt, std::nullopt, 0), levels(-20.0, -18.0, 16000),
     MatchBasis::none, MatchProblem::clip_silent, 0.0, 0.0},
    {"recording_silent", levels(-20.0, -18.0, 16000), levels(std::nullopt, std::nullopt, 0),
     MatchBasis::none, MatchProblem::recording_silent, 0.0, 0.0},
};

inline void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << c.name;
}

class LevelMatchCases : public ::testing::TestWithParam<MatchCase> {};

TEST_P(LevelMatchCases, GainAsExpected) {
    const MatchCase& c = GetParam();
    const LevelMatch match = match_level(c.clip, c.recording);
    EXPECT_EQ(match.basis, c.basis);
    EXPECT_EQ(match.problem, c.problem);
    EXPECT_NEAR(match.wanted_db, c.wanted_db, 1e-9);
    EXPECT_NEAR(match.gain_db, c.gain_db, 1e-9);
    EXPECT_EQ(match.limited(), c.gain_db < c.wanted_db);
    if (match.basis != MatchBasis::none) {
        EXPECT_NEAR(match.target - match.reached, c.wanted_db - c.gain_db, 1e-9);
        EXPECT_NEAR(match.factor(), std::pow(10.0, c.gain_db / 20.0), 1e-12);
    }
}

INSTANTIATE_TEST_SUITE_P(Loudness, LevelMatchCases, ::testing::ValuesIn(kMatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClipFreeGain, LeavesOneStepForDither) {
    EXPECT_EQ(clip_free_gain_db(0), std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(clip_free_gain_db(32766), 0.0);
    EXPECT_LT(clip_free_gain_db(32768), 0.0);
}

TEST(ApplyGain, UnityLeavesSamplesExactly) {
    std::vector<std::int16_t> samples = test::speech_like({});
    const std::vector<std::int16_t> before = samples;
    EXPECT_EQ(apply_gain(samples, 1.0, true), 0U);
    EXPECT_EQ(samples, before);
}

TEST(ApplyGain, HalvesEvenSamplesWithoutNoise) {
    std::vector<std::int16_t> samples = {0, 2, -2, 32766, -32768, 1000};
    EXPECT_EQ(apply_gain(samples, 0.5, true), 0U);
    EXPECT_EQ(samples, (std::vector<std::int16_t>{0, 1, -1, 16383, -16384, 500}));
}

// Every sample scaled within a step and a half (the rounding and the
// dither); with the gain the limit allows, nothing clips, whatever the
// dither draws.
TEST(ApplyGain, ScalesWithinDitherAndNeverClipsAtTheLimit) {
    const std::vector<std::int16_t> original = test::speech_like({.peak = 0.6, .seed = 7});
    std::uint32_t peak = 0;
    for (const std::int16_t sample : original) {
        peak = std::max<std::uint32_t>(peak, static_cast<std::uint32_t>(std::abs(int{sample})));
    }
    const double factor = std::pow(10.0, clip_free_gain_db(peak) / 20.0);
    for (const bool dither : {true, false}) {
        std::vector<std::int16_t> samples = original;
        EXPECT_EQ(apply_gain(samples, factor, dither), 0U) << dither;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            ASSERT_NEAR(samples[i], original[i] * factor, dither ? 1.501 : 0.501) << i;
        }
    }
    std::vector<std::int16_t> louder = original;
    EXPECT_GT(apply_gain(louder, factor * 1.1, true), 0U);
}

// The speech level leaves the pauses out: a sine between long silences
// has the level of the sine.
TEST(SpeechLevel, LeavesPausesOut) {
    constexpr std::uint32_t kRate = 22050;
    std::vector<std::int16_t> samples(3 * kRate, 0);
    for (std::size_t i = kRate; i < 2 * kRate; ++i) {
        samples[i] = static_cast<std::int16_t>(
            std::lround(3276.7 * std::sin(2 * 3.14159265358979 * 441.0 * i / kRate)));
    }
    SpeechLevel level(kRate);
    level.add(std::span(samples).first(1000)); // any runs give the same
    level.add(std::span(samples).subspan(1000));
    ClipLoudness loudness;
    level.finish(loudness);
    ASSERT_TRUE(loudness.speech_rms);
    EXPECT_NEAR(*loudness.speech_rms, 20.0 * std::log10(0.1 / std::sqrt(2.0)), 0.05);
    const auto peak = static_cast<std::uint32_t>(*std::max_element(samples.begin(), samples.end()));
    EXPECT_EQ(loudness.peak, peak);
    EXPECT_EQ(loudness.samples, samples.size());
    EXPECT_NEAR(*loudness.peak_dbfs(), 20.0 * std::log10(peak / 32768.0), 1e-9);
}

// Speech 30 dB below the loudest still counts (a whispered word), the floor
// 45 dB below does not.
TEST(SpeechLevel, CountsQuietWordsButNotTheFloor) {
    constexpr std::uint32_t kRate = 8000;
    const auto sine = [](double amplitude, std::size_t count) {
        std::vector<std::int16_t> samples(count);
        for (std::size_t i = 0; i < count; ++i) {
            samples[i] = static_cast<std::int16_t>(std::lround(
                32767.0 * amplitude * std::sin(2 * 3.14159265358979 * 200.0 * i / kRate)));
        }
        return samples;
    };
    const double loud = 0.5;
    const double whisper = loud * std::pow(10.0, -30.0 / 20.0);
    const double floor = loud * std::pow(10.0, -45.0 / 20.0);
    std::vector<std::int16_t> samples = sine(loud, kRate);
    for (const double amplitude : {whisper, floor}) {
        const std::vector<std::int16_t> more = sine(amplitude, kRate);
        samples.insert(samples.end(), more.begin(), more.end());
    }
    SpeechLevel level(kRate);
    level.add(samples);
    ClipLoudness loudness;
    level.finish(loudness);
    const double expected = 10.0 * std::log10((loud * loud + whisper * whisper) / 4.0);
    EXPECT_NEAR(*loudness.speech_rms, expected, 0.01);
}

TEST(SpeechLevel, SilenceAndDitherNoiseHoldNoSpeech) {
    for (const std::vector<std::int16_t>& samples :
         {std::vector<std::int16_t>{}, std::vector<std::int16_t>(5000, 0),
          std::vector<std::int16_t>{0, 1, -1, 0, 1, 0, 0, -1, 0, 0, 1}}) {
        SpeechLevel level(22050);
        level.add(samples);
        ClipLoudness loudness;
        level.finish(loudness);
        EXPECT_FALSE(loudness.speech_rms) << samples.size();
        EXPECT_EQ(loudness.peak_dbfs().has_value(), loudness.peak > 0);
    }
}

// The most negative sample is full scale.
TEST(SpeechLevel, FullScalePeak) {
    SpeechLevel level(8000);
    const std::vector<std::int16_t> samples = {0, -32768, 100};
    level.add(samples);
    ClipLoudness loudness;
    level.finish(loudness);
    EXPECT_EQ(loudness.peak, 32768U);
    EXPECT_DOUBLE_EQ(*loudness.peak_dbfs(), 0.0);
}

} // namespace
} // namespace pev::loudness

namespace pev::loudness {
namespace {

// A stand-in meter: the mean square of every sample, as both levels.
ClipLoudness mean_square(std::span<const std::int16_t> samples) {
    double squares = 0.0;
    std::uint32_t peak = 0;
    for (const std::int16_t sample : samples) {
        squares += (sample / 32768.0) * (sample / 32768.0);
        peak = std::max<std::uint32_t>(peak, static_cast<std::uint32_t>(std::abs(int{sample})));
    }
    ClipLoudness loudness;
    loudness.peak = peak;
    loudness.samples = samples.size();
    if (squares > 0.0) {
        loudness.integrated = 10.0 * std::log10(squares / static_cast<double>(samples.size()));
        loudness.speech_rms = loudness.integrated;
    }
    return loudness;
}

// Storing a quiet recording adds to its level (its samples go to levels
// 2, 8, 18, ... apart): the gain is refined until the stored recording
// itself has the clip's level.
TEST(MatchAsStored, QuietRecordingReachesTheClipOnceStored) {
    const std::vector<std::int16_t> clip = as_stored(test::speech_like({.peak = 0.01, .seed = 3}));
    const std::vector<std::int16_t> recording = test::speech_like({.peak = 0.004, .seed = 4});
    const ClipLoudness target = mean_square(clip);
    const LevelMatch first = match_level(target, mean_square(recording));
    const LevelMatch match =
        match_as_stored(target, mean_square(recording), recording, true, mean_square);
    ASSERT_EQ(match.basis, MatchBasis::integrated);
    std::vector<std::int16_t> scaled = recording;
    apply_gain(scaled, match.factor(), true);
    const double stored = *mean_square(as_stored(scaled)).integrated;
    EXPECT_NEAR(stored, *target.integrated, 0.01);
    EXPECT_DOUBLE_EQ(match.reached, stored);
    EXPECT_GT(std::abs(match.gain_db - first.gain_db), 0.05) << "nothing to refine";
    EXPECT_FALSE(match.limited());
}

// Where the limit stops the gain, the reached level is the stored one, short
// of the target, and the gain is the limit.
TEST(MatchAsStored, LimitedShortOfTheClip) {
    std::vector<std::int16_t> recording = test::speech_like({.peak = 0.01, .seed = 5});
    recording[500] = 20000;
    const ClipLoudness target = mean_square(test::speech_like({.peak = 0.5, .seed = 6}));
    const ClipLoudness measured = mean_square(recording);
    const LevelMatch match = match_as_stored(target, measured, recording, false, mean_square);
    EXPECT_TRUE(match.limited());
    EXPECT_DOUBLE_EQ(match.gain_db, clip_free_gain_db(measured.peak));
    EXPECT_LT(match.reached, match.target - 1.0);
    std::vector<std::int16_t> scaled = recording;
    EXPECT_EQ(apply_gain(scaled, match.factor(), false), 0U);
}

// Stored samples are the codec's levels (a tie going to the one nearer
// silence); an odd length is evened out with
// the last once more, as the encoder does.
TEST(MatchAsStored, StoredFormOfSamples) {
    const std::vector<std::int16_t> samples = {0, 1, 2, 5, -4, 32767, -32768};
    EXPECT_EQ(as_stored(samples),
              (std::vector<std::int16_t>{0, 0, 2, 2, -2, 32258, -32768, -32768}));
    EXPECT_EQ(as_stored(std::vector<std::int16_t>{18, 17}), (std::vector<std::int16_t>{18, 18}));
}

} // namespace
} // namespace pev::loudness
