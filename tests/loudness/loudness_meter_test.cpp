// Loudness as libebur128 measures it through LoudnessMeter: the reference
// sine of BS.1770, the gate, and, side by side on the same files, ffmpeg's
// ebur128 filter (an implementation of its own, resampling to 48 kHz first),
// which must agree within 0.1 LU.

#include "loudness/loudness_meter.hpp"
#include "support/archive_builder.hpp"
#include "support/ffmpeg_loudness.hpp"
#include "support/process.hpp"
#include "support/speech_like.hpp"
#include "support/temp_dir.hpp"
#include "support/wav_builder.hpp"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>

namespace pev::loudness {
namespace {

std::vector<std::int16_t> sine(std::uint32_t rate, double seconds, double hertz, double peak) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(
            std::lround(32767.0 * peak * std::sin(2 * 3.14159265358979323846 * hertz * i / rate)));
    }
    return samples;
}

// A sine of 997 Hz at -20 dBFS peak (-23 dBFS RMS) measures -23.0 LUFS in
// one channel, at the rates archives use.
TEST(LoudnessMeter, ReferenceSine) {
    for (const std::uint32_t rate : {48000U, 44100U, 22050U, 16000U}) {
        const ClipLoudness loudness = measure(sine(rate, 5.0, 997.0, 0.1), rate);
        ASSERT_TRUE(loudness.integrated) << rate;
        EXPECT_NEAR(*loudness.integrated, -23.0, 0.1) << rate;
        EXPECT_NEAR(*loudness.speech_rms, -23.0, 0.05) << rate;
    }
}

// Under one 400 ms block, or every block under -70 LUFS: no integrated
// loudness, and the speech level still there to fall back to.
TEST(LoudnessMeter, GatedAway) {
    const ClipLoudness short_clip = measure(sine(22050, 0.3, 440.0, 0.3), 22050);
    EXPECT_FALSE(short_clip.integrated);
    EXPECT_TRUE(short_clip.speech_rms);
    const ClipLoudness quiet = measure(sine(22050, 3.0, 440.0, 0.0002), 22050);
    EXPECT_FALSE(quiet.integrated);
    EXPECT_TRUE(quiet.speech_rms);
    const ClipLoudness silent = measure(std::vector<std::int16_t>(22050, 0), 22050);
    EXPECT_FALSE(silent.integrated);
    EXPECT_FALSE(silent.speech_rms);
    const ClipLoudness empty = measure({}, 22050);
    EXPECT_FALSE(empty.integrated);
    EXPECT_EQ(empty.samples, 0U);
}

// A rate libebur128 refuses gives no integrated loudness, and no failure.
TEST(LoudnessMeter, RateRefusedByTheLibrary) {
    const ClipLoudness loudness = measure(sine(8, 60.0, 1.0, 0.5), 8);
    EXPECT_FALSE(loudness.integrated);
    EXPECT_TRUE(loudness.speech_rms);
}

// Runs in pieces give what the whole gives.
TEST(LoudnessMeter, RunsAddUp) {
    const std::vector<std::int16_t> samples = test::speech_like({.seconds = 4.0});
    LoudnessMeter meter(22050);
    for (std::size_t at = 0; at < samples.size(); at += 1000) {
        meter.add(std::span(samples).subspan(at, std::min<std::size_t>(1000, samples.size() - at)));
    }
    const ClipLoudness pieces = meter.result();
    const ClipLoudness whole = measure(samples, 22050);
    EXPECT_DOUBLE_EQ(*pieces.integrated, *whole.integrated);
    EXPECT_DOUBLE_EQ(*pieces.speech_rms, *whole.speech_rms);
}

struct Recording {
    const char* name;
    test::SpeechShape shape;
};

TEST(LoudnessMeter, AgreesWithFfmpeg) {
    if (!test::have_ffmpeg()) {
        GTEST_SKIP() << "needs ffmpeg";
    }
    const Recording recordings[] = {
        {"speech_22050", {.rate = 22050, .seconds = 4.0, .peak = 0.3, .seed = 1}},
        {"loud_22050", {.rate = 22050, .seconds = 2.5, .peak = 0.8, .seed = 2, .pitch = 220}},
        {"quiet_22050", {.rate = 22050, .seconds = 6.0, .peak = 0.02, .seed = 3}},
        {"speech_11025", {.rate = 11025, .seconds = 3.0, .peak = 0.4, .seed = 4, .pitch = 110}},
        {"speech_16000", {.rate = 16000, .seconds = 3.0, .peak = 0.2, .seed = 5}},
        {"speech_44100", {.rate = 44100, .seconds = 3.0, .peak = 0.5, .seed = 6, .pitch = 180}},
        {"speech_48000", {.rate = 48000, .seconds = 8.0, .peak = 0.1, .seed = 7}},
        {"high_voice_22050", {.rate = 22050, .seconds = 3.0, .peak = 0.5, .seed = 8, .pitch = 300}},
    };
    const test::TempDir dir;
    for (const Recording& recording : recordings) {
        const std::vector<std::int16_t> samples = test::speech_like(recording.shape);
        const std::string file = dir.file(std::string(recording.name) + ".wav");
        test::write_file(file, test::wav_file_bytes(samples, recording.shape.rate));
        const ClipLoudness ours = measure(samples, recording.shape.rate);
        const std::optional<double> theirs = test::ffmpeg_integrated(file);
        ASSERT_TRUE(ours.integrated) << recording.name;
        ASSERT_TRUE(theirs) << recording.name;
        EXPECT_NEAR(*ours.integrated, *theirs, 0.1) << recording.name;
    }
}

} // namespace
} // namespace pev::loudness
