#include "codec/block_decoder.hpp"
#include "codec/block_encoder.hpp"
#include "codec/tables.hpp"
#include "codec/test_delta_coder.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using pev::BlockKind;
using pev::kExpansion;

// What Pev2wav gives back for an encoded entry.
std::vector<std::int16_t> decode(const pev::EncodedEntry& entry) {
    const pev::EntryMeasure measure = pev::measure_entry(entry.block_sizes);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(measure.sample_bound));
    samples.resize(pev::decode_entry(entry.block_sizes, entry.bytes, samples));
    return samples;
}

// The samples the round trip must give: every input at its nearest level,
// and for an odd count one more sample repeating the last.
std::vector<std::int16_t> expected_after_round_trip(const std::vector<std::int16_t>& input) {
    std::vector<std::int16_t> expected;
    for (const std::int16_t sample : input) {
        expected.push_back(kExpansion[pev::nearest_level(sample)]);
    }
    if (expected.size() % 2 == 1) {
        expected.push_back(expected.back());
    }
    return expected;
}

TEST(NearestLevel, TellingSamples) {
    struct Case {
        int sample;
        int level;
    };
    // 32005 lies halfway between 31752 and 32258, -32513 halfway between
    // -32768 and -32258: both take the level nearer silence.
    const Case cases[] = {
        {-32768, 0},  {32767, 255}, {32258, 255}, {0, 128},    {1, 128},  {-1, 128},
        {2, 129},     {5, 129},     {6, 130},     {-5, 127},   {-6, 126}, {32000, 254},
        {32005, 254}, {32006, 255}, {-32513, 1},  {-32514, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pev::nearest_level(static_cast<std::int16_t>(c.sample)), c.level)
            << "sample " << c.sample;
    }
}

// Every 16-bit sample against every level: no level is nearer than the one
// chosen, and one as near is never nearer silence.
TEST(NearestLevel, IsNearestForEverySample) {
    for (int sample = -32768; sample <= 32767; ++sample) {
        const int chosen = pev::nearest_level(static_cast<std::int16_t>(sample));
        const int distance = std::abs(kExpansion[chosen] - sample);
        for (int level = 0; level < 256; ++level) {
            const int other = std::abs(kExpansion[level] - sample);
            ASSERT_GE(other, distance) << "sample " << sample << " level " << level;
            if (other == distance && level != chosen) {
                ASSERT_LT(std::abs(kExpansion[chosen]), std::abs(kExpansion[level]))
                    << "sample " << sample;
            }
        }
    }
}

// From little-endian bytes, every sample gets the level quantise gives it
// (a length past the eight-at-a-time loop, and a last half sample ignored).
TEST(Quantise, FromLittleEndianBytesAsFromSamples) {
    std::vector<std::int16_t> samples;
    std::vector<std::uint8_t> bytes;
    for (int sample = -32768; sample <= 32767; sample += 7) {
        samples.push_back(static_cast<std::int16_t>(sample));
        bytes.push_back(static_cast<std::uint8_t>(sample & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
    }
    bytes.push_back(0x7F);
    std::vector<std::uint8_t> levels(samples.size());
    pev::quantise_le(bytes, levels);
    EXPECT_EQ(levels, pev::quantise(samples));
}

TEST(NearestLevel, LevelsMapToThemselves) {
    for (int level = 0; level < 256; ++level) {
        EXPECT_EQ(pev::nearest_level(kExpansion[level]), level);
    }
}

// Levels of a block whose codes have the given kinds: `escapes` big steps
// first, then plain steps. Consecutive levels alternate, so each step is as
// wanted.
std::vector<std::uint8_t> levels_with_escapes(std::size_t count, std::size_t escapes) {
    std::vector<std::uint8_t> levels;
    std::uint8_t level = 0;
    for (std::size_t i = 0; i < count; ++i) {
        level = static_cast<std::uint8_t>(level + (i < escapes ? 100 : (i % 2 ? 1 : 255)));
        levels.push_back(level);
    }
    return levels;
}

TEST(BlockKind, ChoosesTheSmallestExactKind) {
    const std::vector<std::uint8_t> silence(1024, pev::kSilenceLevel);
    std::vector<std::uint8_t> one_click = silence;
    one_click[500] = 200;
    std::mt19937 random(1);
    std::vector<std::uint8_t> noise(1024);
    for (auto& level : noise) {
        level = static_cast<std::uint8_t>(random());
    }
    struct Case {
        const char* name;
        std::vector<std::uint8_t> levels;
        BlockKind kind;
    };
    const Case cases[] = {
        {"full silence", silence, BlockKind::silent},
        {"short silence", std::vector<std::uint8_t>(1022, pev::kSilenceLevel), BlockKind::delta},
        {"silence with a click", one_click, BlockKind::delta},
        {"noise", noise, BlockKind::raw},
        {"short noise", std::vector<std::uint8_t>(noise.begin(), noise.end() - 2),
         BlockKind::delta},
        {"511 escapes: 1023 bytes", levels_with_escapes(1024, 511), BlockKind::delta},
        {"512 escapes: 1024 bytes, a tie", levels_with_escapes(1024, 512), BlockKind::raw},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pev::choose_block_kind(c.levels), c.kind) << c.name;
    }
}

TEST(DeltaBlock, SizeCountsOneNibblePerStepAndThreePerEscape) {
    EXPECT_EQ(pev::delta_block_size(levels_with_escapes(2, 0)), 1u);
    EXPECT_EQ(pev::delta_block_size(levels_with_escapes(2, 1)), 2u);
    EXPECT_EQ(pev::delta_block_size(levels_with_escapes(2, 2)), 3u);
    EXPECT_EQ(pev::delta_block_size(levels_with_escapes(1024, 0)), 512u);
}

TEST(DeltaBlock, KnownBytes) {
    // From level 0: +1 then -1 are codes 1 and 2 in one byte, low half first.
    std::vector<std::uint8_t> out;
    EXPECT_EQ(pev::encode_delta_block(std::vector<std::uint8_t>{1, 0}, out), 1u);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x21}));
    // Silence from level 0 is a step of 128: escape, code 0xFF; then code 0.
    out.clear();
    EXPECT_EQ(pev::encode_delta_block(std::vector<std::uint8_t>{128, 128}, out), 2u);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0xFF, 0x0F}));
}

// A short last block of exactly 1024 bytes would read back as a raw block;
// the encoder makes it one byte longer instead.
TEST(DeltaBlock, NeverStoresExactly1024Bytes) {
    // 1022 codes of which 513 escapes: 511 + 513 = 1024 bytes before the fix.
    const std::vector<std::uint8_t> levels = levels_with_escapes(1022, 513);
    std::vector<std::uint8_t> out;
    EXPECT_EQ(pev::encode_delta_block(levels, out), 1025u);
    EXPECT_EQ(out.size(), 1025u);
    const pev::EncodedEntry entry = pev::encode_levels(levels);
    ASSERT_EQ(entry.block_sizes, (std::vector<std::int16_t>{1025}));
    std::vector<std::int16_t> expected;
    for (const std::uint8_t level : levels) {
        expected.push_back(kExpansion[level]);
    }
    EXPECT_EQ(decode(entry), expected);
}

// Against the plain nibble-by-nibble coder of the tests, over every mix of
// plain steps and escapes (so every pattern of pairs), short blocks and full.
TEST(DeltaBlock, EqualsNibbleByNibbleCoding) {
    std::mt19937 random(42);
    for (int round = 0; round < 400; ++round) {
        const std::size_t count = 2 + 2 * (random() % 512);
        const unsigned escape_percent = random() % 101;
        std::vector<std::uint8_t> levels(count);
        std::uint8_t level = 0;
        for (auto& next : levels) {
            const bool big = random() % 100 < escape_percent;
            level =
                static_cast<std::uint8_t>(level + (big ? 8 + random() % 241 : random() % 15 - 7));
            next = level;
        }
        std::mt19937 unused;
        const auto reference = pev::test::encode_delta_block(levels, unused, 0.0);
        if (reference.bytes.size() == 1024) {
            continue; // widened instead: see NeverStoresExactly1024Bytes
        }
        std::vector<std::uint8_t> out;
        EXPECT_EQ(pev::encode_delta_block(levels, out), reference.bytes.size());
        EXPECT_EQ(out, reference.bytes) << count << " levels, " << escape_percent << "% big steps";
    }
}

TEST(BlocksForSamples, CountsThePaddedLength) {
    const std::uint64_t cases[][2] = {
        {0, 0},
        {1, 1},
        {2, 1},
        {1023, 1},
        {1024, 1},
        {1025, 2},
        {2048, 2},
        {67107839, 65535},
        {67107840, 65535},
        {67107841, 65536},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pev::blocks_for_samples(c[0]), c[1]) << c[0] << " samples";
    }
}

// Signals that exercise every block kind and every boundary.
std::vector<std::int16_t> make_signal(int kind, std::size_t length, std::mt19937& random) {
    std::vector<std::int16_t> signal(length);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::uniform_int_distribution<int> small(-300, 300);
    int value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        switch (kind) {
        case 0: // loud noise: raw blocks
            value = any(random);
            break;
        case 1: // a slow wander: plain delta steps
            value = std::clamp(value + small(random), -32768, 32767);
            break;
        case 2: // runs of silence between bursts: silent blocks
            value = (i / 1500) % 2 == 0 ? 0 : any(random) / 8;
            break;
        default: // jumps every few samples: escapes at every nibble position
            value = (random() % 5 == 0) ? any(random) : value;
            break;
        }
        signal[i] = static_cast<std::int16_t>(value);
    }
    return signal;
}

TEST(EncodeEntry, RoundTripsThroughTheDecoder) {
    std::mt19937 random(20240607);
    const std::size_t lengths[] = {0, 1, 2, 3, 1022, 1023, 1024, 1025, 2047, 2048, 5000, 7001};
    for (int kind = 0; kind < 4; ++kind) {
        for (const std::size_t length : lengths) {
            const std::vector<std::int16_t> input = make_signal(kind, length, random);
            const pev::EncodedEntry entry = pev::encode_entry(input);
            const std::vector<std::int16_t> expected = expected_after_round_trip(input);
            EXPECT_EQ(entry.padded, length % 2 == 1);
            EXPECT_EQ(entry.sample_count, expected.size());
            EXPECT_EQ(entry.block_sizes.size(), pev::blocks_for_samples(length));
            EXPECT_EQ(decode(entry), expected) << "kind " << kind << " length " << length;
        }
    }
}

// Each block decodes to exactly its own samples from its own bytes alone: no
// escape reaches into the next block and no spare nibble adds a sample.
TEST(EncodeEntry, EveryBlockStandsAlone) {
    std::mt19937 random(7);
    for (int kind = 0; kind < 4; ++kind) {
        const std::vector<std::int16_t> input = make_signal(kind, 9 * 1024 + 333, random);
        const pev::EncodedEntry entry = pev::encode_entry(input);
        const std::vector<std::int16_t> expected = expected_after_round_trip(input);
        std::size_t byte = 0;
        for (std::size_t block = 0; block < entry.block_sizes.size(); ++block) {
            const std::int16_t size = entry.block_sizes[block];
            const std::span<const std::uint8_t> own(entry.bytes.data() + byte,
                                                    static_cast<std::size_t>(size));
            std::vector<std::int16_t> samples(4096);
            samples.resize(pev::decode_entry(std::span(&size, 1), own, samples));
            const std::size_t first = block * pev::kSamplesPerBlock;
            const std::size_t count = std::min(pev::kSamplesPerBlock, expected.size() - first);
            ASSERT_EQ(samples.size(), count) << "kind " << kind << " block " << block;
            EXPECT_TRUE(std::equal(samples.begin(), samples.end(), expected.begin() + first))
                << "kind " << kind << " block " << block;
            byte += static_cast<std::size_t>(size);
        }
        EXPECT_EQ(byte, entry.bytes.size());
    }
}

TEST(EncodeEntry, UsesEveryKindWhereItFits) {
    std::mt19937 random(3);
    std::vector<std::int16_t> input(1024, 0);         // silent
    const auto noise = make_signal(0, 1024, random);  // raw
    const auto wander = make_signal(1, 1024, random); // delta
    input.insert(input.end(), noise.begin(), noise.end());
    input.insert(input.end(), wander.begin(), wander.end());
    input.insert(input.end(), 10, 0); // a short silent tail must be delta
    const pev::EncodedEntry entry = pev::encode_entry(input);
    EXPECT_EQ(entry.silent_blocks, 1u);
    EXPECT_EQ(entry.raw_blocks, 1u);
    EXPECT_EQ(entry.delta_blocks, 2u);
    ASSERT_EQ(entry.block_sizes.size(), 4u);
    EXPECT_EQ(entry.block_sizes[0], 0);
    EXPECT_EQ(entry.block_sizes[1], 1024);
    EXPECT_EQ(decode(entry), expected_after_round_trip(input));
}

// Encoding what the decoder gave back changes nothing: the levels are fixed
// points and a padded clip is already even.
TEST(EncodeEntry, ReencodingDecodedSamplesIsIdentical) {
    std::mt19937 random(11);
    for (int kind = 0; kind < 4; ++kind) {
        const pev::EncodedEntry first = pev::encode_entry(make_signal(kind, 3333, random));
        const pev::EncodedEntry second = pev::encode_entry(decode(first));
        EXPECT_FALSE(second.padded);
        EXPECT_EQ(second.block_sizes, first.block_sizes);
        EXPECT_EQ(second.bytes, first.bytes);
    }
}

// Runs of a clip split at any block boundary encode apart to the very sizes
// and bytes of the whole, which is what lets its blocks be shared out.
TEST(EncodeLevelsInto, RunsSplitAtBlockBoundariesJoinToTheWhole) {
    std::mt19937 random(9);
    const std::vector<std::int16_t> input = make_signal(3, 5 * 1024 + 77, random);
    const std::vector<std::uint8_t> levels = pev::quantise(input);
    const pev::EncodedEntry whole = pev::encode_levels(levels);
    for (std::size_t split = 0; split <= 5; ++split) {
        const std::size_t at = split * pev::kSamplesPerBlock;
        std::vector<std::int16_t> sizes(whole.block_sizes.size());
        std::vector<std::uint8_t> bytes(pev::stored_bytes_bound(levels.size()));
        const auto front = pev::encode_levels_into(std::span(levels).first(at), sizes, bytes);
        const auto back = pev::encode_levels_into(std::span(levels).subspan(at),
                                                  std::span(sizes).subspan(front.blocks),
                                                  std::span(bytes).subspan(front.bytes));
        bytes.resize(front.bytes + back.bytes);
        EXPECT_EQ(sizes, whole.block_sizes) << "split at block " << split;
        EXPECT_EQ(bytes, whole.bytes) << "split at block " << split;
    }
}

} // namespace
