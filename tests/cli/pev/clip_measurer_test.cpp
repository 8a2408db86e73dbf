// Loudness measured on worker threads comes back in the order the clips
// went in, each with the figures one thread gives, refused clips in their
// places; and list --loudness's survey over a damaged archive measures
// every sound clip exactly as the meter does alone.

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "cli/pev/clip_measurer.hpp"
#include "cli/pev/clip_survey.hpp"
#include "cli/pev/loudness_support.hpp"
#include "support/archive_builder.hpp"
#include "support/packed_clips.hpp"
#include "support/speech_like.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <numeric>

namespace pev::cli::tool {
namespace {

// Runs `work` with a bound (room for valgrind), so that a measurer left
// waiting fails in a minute with a message, not as a hang.
void within_a_minute(const std::function<void()>& work) {
    std::future<void> done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fputs("ClipMeasurer: still waiting after 60 s\n", stderr);
        std::_Exit(1); // the waiting threads cannot be joined
    }
    done.get();
}

void expect_same(const std::optional<loudness::ClipLoudness>& a,
                 const std::optional<loudness::ClipLoudness>& b, std::size_t index) {
    ASSERT_EQ(a.has_value(), b.has_value()) << index;
    if (a) {
        EXPECT_EQ(a->integrated, b->integrated) << index;
        EXPECT_EQ(a->speech_rms, b->speech_rms) << index;
        EXPECT_EQ(a->peak, b->peak) << index;
        EXPECT_EQ(a->samples, b->samples) << index;
    }
}

TEST(ClipMeasurer, HandsClipsOnInOrderWithTheirOwnFigures) {
    std::vector<std::vector<std::int16_t>> clips;
    for (unsigned i = 0; i < 40; ++i) {
        // Long and short ones mixed, so later ones finish first.
        clips.push_back(test::speech_like(
            {.seconds = i % 4 == 0 ? 3.0 : 0.2 + 0.05 * i, .peak = 0.05 + 0.01 * i, .seed = i}));
    }
    for (const unsigned workers : {1U, 2U, 5U}) {
        std::vector<SurveyedClip> handed;
        within_a_minute([&] {
            ClipMeasurer measurer(workers, 22050,
                                  [&](const SurveyedClip& clip) { handed.push_back(clip); });
            for (std::size_t i = 0; i < clips.size(); ++i) {
                SurveyedClip clip;
                clip.index = i;
                // Every seventh is refused: nothing to measure, still in its place.
                clip.problem =
                    i % 7 == 3 ? archive::ClipProblem::bytes_past_end : archive::ClipProblem::none;
                measurer.add(clip, clip.ok() ? std::span<const std::int16_t>(clips[i])
                                             : std::span<const std::int16_t>());
            }
            measurer.finish();
        });
        ASSERT_EQ(handed.size(), clips.size()) << workers;
        for (std::size_t i = 0; i < clips.size(); ++i) {
            EXPECT_EQ(handed[i].index, i) << workers;
            if (handed[i].ok()) {
                expect_same(handed[i].loudness, measure_loudness(clips[i], 22050), i);
            } else {
                EXPECT_FALSE(handed[i].loudness) << i;
            }
        }
    }
}

TEST(ClipMeasurer, SurveyMeasuresEverySoundClip) {
    std::vector<std::vector<std::int16_t>> clips;
    for (unsigned i = 0; i < 12; ++i) {
        clips.push_back(test::speech_like({.seconds = 0.5 + 0.3 * i, .seed = 40 + i}));
    }
    std::vector<std::uint8_t> bytes = test::packed_archive(clips, 22050);
    // Clip 6's first block size gets its top bit: refused.
    const std::size_t row = 32 + 8 * 5;
    const std::uint32_t offset = bytes[row + 4] | bytes[row + 5] << 8 | bytes[row + 6] << 16 |
                                 static_cast<std::uint32_t>(bytes[row + 7]) << 24;
    bytes[offset + 1] |= 0x80;
    const archive::MemorySource source(bytes);
    const archive::ArchiveReader reader(source);
    std::vector<std::size_t> indices(clips.size());
    std::iota(indices.begin(), indices.end(), std::size_t{0});
    std::vector<SurveyedClip> measured;
    within_a_minute([&] {
        survey_clips(
            reader, indices, [&](const SurveyedClip& clip) { measured.push_back(clip); }, true);
    });
    ASSERT_EQ(measured.size(), clips.size());
    for (std::size_t i = 0; i < clips.size(); ++i) {
        EXPECT_EQ(measured[i].index, i);
        EXPECT_EQ(measured[i].ok(), i != 5) << i;
        if (i != 5) {
            archive::ClipBuffers buffers;
            const archive::ClipInfo info = reader.inspect(i, buffers);
            const wav::Frame frame = reader.decode(info, buffers);
            expect_same(measured[i].loudness, measure_loudness(frame.samples(), 22050), i);
            EXPECT_EQ(measured[i].samples, frame.sample_count());
        } else {
            EXPECT_FALSE(measured[i].loudness);
        }
    }
}

} // namespace
} // namespace pev::cli::tool
