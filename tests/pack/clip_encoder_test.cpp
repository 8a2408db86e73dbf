#include "pack/archive_packer.hpp"
#include "pack/clip_encoder.hpp"
#include "support/wav_builder.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace pev::pack {
namespace {

// However a converter cuts the samples into runs, the clip is stored as the
// encoder stores it whole: runs that end inside a block, runs of a block,
// runs longer than the encoder gathers, and an odd length (padded last).
TEST(ClipEncoder, StoresWhatTheWholeClipEncoderStores) {
    struct Case {
        std::size_t samples;
        std::size_t run;
    };
    const Case cases[] = {
        {0, 1},         {1, 1},          {2047, 1000},     {65536, 65536},
        {200001, 4096}, {200001, 77777}, {131072, 131072}, {65537, 65535},
    };
    ClipEncoder encoder; // one for all, as packing keeps it from file to file
    for (const Case& c : cases) {
        const std::vector<std::int16_t> samples = test::noise(c.samples, unsigned(c.samples));
        encoder.start();
        for (std::size_t at = 0; at < samples.size(); at += c.run) {
            encoder.take(std::span(samples).subspan(at, std::min(c.run, samples.size() - at)));
        }
        encoder.finish();
        const EncodedEntry whole = encode_entry(samples);
        EXPECT_EQ(encoder.sample_count(), c.samples);
        EXPECT_TRUE(std::ranges::equal(encoder.sizes(), whole.block_sizes)) << c.samples;
        EXPECT_TRUE(std::ranges::equal(encoder.stored(), whole.bytes)) << c.samples;
        EXPECT_EQ(encoder.counts().silent_blocks + encoder.counts().raw_blocks +
                      encoder.counts().delta_blocks,
                  whole.block_sizes.size());
    }
}

// Past the longest clip there is, samples are counted, not kept: the
// packer's check then names the recording's whole length.
TEST(ClipEncoder, CountsWhatNoClipCanHold) {
    ClipEncoder encoder;
    encoder.start();
    const std::vector<std::int16_t> silence(1 << 20, 0);
    for (int run = 0; run < 65; ++run) {
        encoder.take(silence);
    }
    encoder.finish();
    EXPECT_EQ(encoder.sample_count(), 65ULL << 20);
    EXPECT_EQ(encoder.counts().blocks, kMaxBlocksPerClip);
    EXPECT_EQ(check_clip(encoder.sample_count(), 8000, 0).code, ErrorCode::clip_too_long);
}

} // namespace
} // namespace pev::pack
