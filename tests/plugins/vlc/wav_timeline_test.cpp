// The VLC module's times and seeks against VLC's WAV reader: positions VLC
// itself gave for WAV files, and VLC's own byte arithmetic (the demux helper
// its WAV reader calls: a data size in bytes, a bit rate and a block
// alignment) over random rates, lengths, times and fractions.

#include "wav_timeline.hpp"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace pev::test {
namespace {

using vlc::WavTimeline;

// VLC's arithmetic for a 16-bit mono WAV file's data, as it writes it.
struct VlcWavData {
    std::int64_t bytes;
    std::int64_t bitrate; // nAvgBytesPerSec * 8
    static constexpr int align = 2;

    VlcWavData(std::uint32_t rate, std::uint64_t samples)
        : bytes(static_cast<std::int64_t>(samples * 2)), bitrate(std::int64_t{rate} * 2 * 8) {}

    std::int64_t time(std::int64_t tell) const { return INT64_C(8000000) * tell / bitrate; }
    std::int64_t time_seek(std::int64_t time) const {
        return time * bitrate / INT64_C(8000000) / align * align;
    }
    std::int64_t position_seek(double fraction) const {
        const auto block = static_cast<std::int64_t>((fraction * bytes) / align);
        return block * align;
    }
    double position(std::int64_t tell) const {
        return static_cast<double>(tell) / static_cast<double>(bytes);
    }
};

TEST(WavTimeline, LandsWhereVlcLandedOnTheExtractedFiles) {
    // --start-time 0.7 and 2.576, and rc's "seek 37.3%" and "seek 37%", on
    // 22050 Hz WAV files of 55125, 120828 and 103248 samples.
    EXPECT_EQ(WavTimeline(22050, 55125).sample_at_time(700000), 15435u);
    EXPECT_EQ(WavTimeline(22050, 120828).sample_at_time(2576000), 56800u);
    EXPECT_EQ(WavTimeline(22050, 55125).sample_at_fraction(0.373), 20561u);
    EXPECT_EQ(WavTimeline(22050, 103248).sample_at_fraction(0.37), 38201u);
    // --stop-time 1.9 after --start-time 0.7 stopped after the block that
    // ended at sample 42985, the first whose end is past 1.9 s.
    const WavTimeline timeline(22050, 55125);
    EXPECT_EQ(timeline.block_samples(), 1102u);
    EXPECT_LT(timeline.time_of(15435 + 24 * 1102), 1900000);
    EXPECT_GE(timeline.time_of(15435 + 25 * 1102), 1900000);
}

TEST(WavTimeline, BlocksAreATwentiethOfASecondAndNeverEmpty) {
    const struct {
        std::uint32_t rate;
        std::uint64_t samples;
    } cases[] = {{1, 1}, {19, 1}, {20, 1}, {39, 1}, {8000, 400}, {22050, 1102}, {352800, 17640}};
    for (const auto& c : cases) {
        EXPECT_EQ(WavTimeline(c.rate, 10).block_samples(), c.samples) << c.rate;
    }
}

TEST(WavTimeline, AnEmptyRunHasNoLengthNorFractionButSeeksToItsStart) {
    const WavTimeline empty(22050, 0);
    EXPECT_FALSE(empty.length());
    EXPECT_FALSE(empty.fraction_of(0));
    EXPECT_FALSE(empty.sample_at_fraction(0.0));
    EXPECT_EQ(empty.sample_at_time(0), 0u);
    EXPECT_EQ(empty.time_of(0), 0);
}

TEST(WavTimeline, RefusesWhatVlcRefuses) {
    const WavTimeline timeline(22050, 1000);
    EXPECT_FALSE(timeline.sample_at_time(-1));
    for (const double fraction :
         {-0.0001, 1.0001, std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(timeline.sample_at_fraction(fraction)) << fraction;
    }
    EXPECT_EQ(timeline.sample_at_fraction(1.0), 1000u);
    EXPECT_EQ(timeline.sample_at_fraction(0.0), 0u);
    // Past the end a time seek goes past the end, where playing stops.
    EXPECT_EQ(timeline.sample_at_time(3600000000), 3600u * 22050);
}

TEST(WavTimeline, AgreesWithVlcsByteArithmetic) {
    std::mt19937_64 random(38);
    const std::uint32_t rates[] = {1, 7, 8000, 11025, 22050, 44100, 48000, 352800};
    for (int round = 0; round < 200000; ++round) {
        const std::uint32_t rate = round % 2 == 0
                                       ? rates[random() % std::size(rates)]
                                       : static_cast<std::uint32_t>(1 + random() % 352800);
        // Up to 2^34 samples (a run of every clip of a large archive), and
        // times up to a day: VLC's products stay within 64 bits there.
        const std::uint64_t samples = 1 + random() % (std::uint64_t{1} << (random() % 35));
        const std::uint64_t position = random() % (samples + 1);
        const auto time = static_cast<std::int64_t>(random() % 86400000000);
        const double fraction = std::uniform_real_distribution<double>(0.0, 1.0)(random);
        const WavTimeline ours(rate, samples);
        const VlcWavData vlc(rate, samples);
        const auto tell = static_cast<std::int64_t>(position * 2);
        ASSERT_EQ(ours.time_of(position), vlc.time(tell)) << rate << " " << position;
        ASSERT_EQ(ours.length(), vlc.time(vlc.bytes)) << rate << " " << samples;
        ASSERT_EQ(ours.fraction_of(position), vlc.position(tell)) << samples << " " << position;
        ASSERT_EQ(static_cast<std::int64_t>(*ours.sample_at_time(time)) * 2, vlc.time_seek(time))
            << rate << " " << time;
        ASSERT_EQ(static_cast<std::int64_t>(*ours.sample_at_fraction(fraction)) * 2,
                  vlc.position_seek(fraction))
            << samples << " " << fraction;
    }
}

} // namespace
} // namespace pev::test
