#include "codec/block_decoder.hpp"
#include "codec/decoder_paths.hpp"
#include "codec/tables.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Levels = std::vector<std::uint8_t>;
using Sizes = std::vector<std::int16_t>;

constexpr std::int16_t kSentinel = 0x5A5A;

Levels repeat(std::uint8_t level, std::size_t count) {
    return Levels(count, level);
}

template <typename T> std::vector<T> concat(std::initializer_list<std::vector<T>> parts) {
    std::vector<T> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<std::int16_t> expand(const Levels& levels) {
    std::vector<std::int16_t> samples;
    for (const std::uint8_t level : levels) {
        samples.push_back(pev::kExpansion[level]);
    }
    return samples;
}

// Levels 1, 2, 3, ... (wrapping): what bytes 0x11 (two +1 codes) decode to.
Levels counting_up(std::size_t count) {
    Levels levels(count);
    for (std::size_t i = 0; i < count; ++i) {
        levels[i] = static_cast<std::uint8_t>(i + 1);
    }
    return levels;
}

// The bytes 0, 1, ..., 255 four times: a raw block whose levels are its bytes.
Bytes ramp_block() {
    Bytes bytes(1024);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    return bytes;
}

struct DecodeCase {
    std::string name;
    Sizes sizes;
    Bytes bytes;  // the entry's compressed bytes
    Bytes beyond; // bytes that follow the entry in memory and must not be read
    Levels expected;
};

// Named by the case, so test names stay the same from build to build.
inline void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeEntry : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeEntry, YieldsExpectedSamples) {
    const DecodeCase& c = GetParam();
    // Copied so the buffer ends right after `beyond`, for AddressSanitizer.
    const Bytes joined = concat<std::uint8_t>({c.bytes, c.beyond});
    const Bytes memory(joined.begin(), joined.end());
    const std::span<const std::uint8_t> compressed(memory.data(), c.bytes.size());
    const auto bound = pev::measure_entry(c.sizes).sample_bound;
    for (const pev::DecoderPath path : pev::usable_decoder_paths()) {
        SCOPED_TRACE(pev::decoder_path_name(path));
        std::vector<std::int16_t> samples(bound + 4, kSentinel);
        const std::size_t written =
            pev::decode_entry_on(path, c.sizes, compressed, std::span(samples).first(bound));

        ASSERT_LE(written, bound);
        EXPECT_EQ(std::vector(samples.begin(), samples.begin() + written), expand(c.expected));
        for (std::size_t i = written; i < samples.size(); ++i) {
            EXPECT_EQ(samples[i], kSentinel) << "written past the samples at " << i;
        }
    }
}

// Nibbles are taken low half first. Levels below are the accumulator after
// each code; the samples are their expansions.
INSTANTIATE_TEST_SUITE_P(
    Codec, DecodeEntry,
    testing::Values(
        DecodeCase{"SilentBlock", {0}, {}, {0x11}, repeat(128, 1024)},
        DecodeCase{"OnlySilentBlocksReadNothing", {0, 0}, {}, {0x11}, repeat(128, 2048)},
        DecodeCase{"RawSilence", {1024}, Bytes(1024, 0x80), {}, repeat(128, 1024)},
        DecodeCase{"RawRampHitsBothEnds", {1024}, ramp_block(), {}, ramp_block()},
        // 0x21: code 1 (+1), then code 2 (-1).
        DecodeCase{"DeltaTwoPlainCodes", {1}, {0x21}, {}, {1, 0}},
        // Escape at nibble 0; code 0x7F (+64) from nibbles 1 and 2; then code 0.
        DecodeCase{"EscapeSpanningTwoBytes", {2}, {0xFF, 0x07}, {}, {64, 64}},
        // Code 0xFF is +128: from level 0 straight to silence.
        DecodeCase{"EscapeToSilence", {2}, {0xFF, 0x0F}, {}, {128, 128}},
        // Escape in the last but one nibble: code 0xC7 (+100) borrows the next
        // byte's low half; the next block decodes 0x3C again: -6, +2.
        DecodeCase{"EscapeBegunInLastButOneNibble",
                   {4, 1},
                   {0x00, 0x00, 0x00, 0x7F, 0x3C},
                   {},
                   concat<std::uint8_t>({repeat(0, 6), {100}, {250, 252}})},
        // Code 7 (+4), then an escape in the last nibble: code 0x3C (-30) is
        // the whole next byte.
        DecodeCase{"EscapeBegunInLastNibble",
                   {4, 1},
                   {0x00, 0x00, 0x00, 0xF7, 0x3C},
                   {},
                   concat<std::uint8_t>({repeat(0, 6), {4, 230}, {250, 252}})},
        // A silent block has no bytes: the borrowed byte is still the next
        // delta block's first.
        DecodeCase{"EscapeBorrowsAcrossSilentBlock",
                   {4, 0, 1},
                   {0x00, 0x00, 0x00, 0xF7, 0x3C},
                   {},
                   concat<std::uint8_t>({repeat(0, 6), {4, 230}, repeat(128, 1024), {250, 252}})},
        DecodeCase{"EscapeBorrowsFromRawBlock",
                   {1, 1024},
                   concat<std::uint8_t>({{0xF1}, ramp_block()}),
                   {},
                   concat<std::uint8_t>({{1, 1}, ramp_block()})},
        // At the entry's end the missing byte reads as 0 (step 0), not as the
        // byte that happens to follow in memory.
        DecodeCase{"EntryEndEscapeInLastNibbleReadsZero", {1}, {0xF1}, {0xFF}, {1, 1}},
        DecodeCase{"EntryEndEscapeInLastButOneNibbleReadsZero", {1}, {0x1F}, {0xFF}, {1}},
        // Code 12 (-6) to 250; escaped code 15 (+8) wraps to 2.
        DecodeCase{"LevelWrapsUpward", {2}, {0xFC, 0x0F}, {}, {250, 2}},
        DecodeCase{"LevelWrapsDownward", {1}, {0x02}, {}, {255, 255}},
        DecodeCase{
            "EachDeltaBlockStartsAtLevelZero", {2, 1}, {0xFF, 0x0F, 0x21}, {}, {128, 128, 1, 0}},
        // The last block proves the read position is 1024 + 3 = 1027.
        DecodeCase{
            "MixedEntryReadsOnFrom1027",
            {0, 1024, 3, 1},
            concat<std::uint8_t>({ramp_block(), {0x11, 0x11, 0x11}, {0x21}}),
            {},
            concat<std::uint8_t>({repeat(128, 1024), ramp_block(), {1, 2, 3, 4, 5, 6}, {1, 0}})},
        DecodeCase{"DeltaJustOffRawSize",
                   {1023, 1025},
                   Bytes(2048, 0x11),
                   {},
                   concat<std::uint8_t>({counting_up(2046), counting_up(2050)})},
        // Sizes with bit 15 set yield nothing and leave the position alone.
        DecodeCase{"MalformedSizesAreSkipped",
                   {1, -1, std::numeric_limits<std::int16_t>::min(), 1},
                   {0x21, 0x11},
                   {},
                   {1, 0, 1, 2}},
        DecodeCase{"OnlyMalformedSizes", {-2, -1024}, {0x11}, {}, {}},
        DecodeCase{"NoBlocks", {}, {0x11}, {}, {}},
        // Bytes the sizes claim beyond the entry's end read as 0.
        DecodeCase{"DeltaBytesMissingReadZero",
                   {4},
                   {0x11},
                   {0x11, 0x11, 0x11},
                   concat<std::uint8_t>({{1, 2}, repeat(2, 6)})},
        DecodeCase{"RawBytesMissingReadZero",
                   {1024},
                   {0xFF},
                   {0xFF},
                   concat<std::uint8_t>({{255}, repeat(0, 1023)})}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

struct ShortSpanCase {
    std::string name;
    Sizes sizes;
    Bytes bytes;
    std::size_t room; // samples the span holds
    Levels expected;
};

// Named by the case, so test names stay the same from build to build.
inline void PrintTo(const ShortSpanCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeIntoShortSpan : public testing::TestWithParam<ShortSpanCase> {};

// A span smaller than the sizes claim stops the decoder at its end.
TEST_P(DecodeIntoShortSpan, StopsAtSpanEnd) {
    const ShortSpanCase& c = GetParam();
    for (const pev::DecoderPath path : pev::usable_decoder_paths()) {
        SCOPED_TRACE(pev::decoder_path_name(path));
        std::vector<std::int16_t> samples(c.room + 4, kSentinel);
        const std::size_t written =
            pev::decode_entry_on(path, c.sizes, c.bytes, std::span(samples).first(c.room));

        EXPECT_EQ(std::vector(samples.begin(), samples.begin() + written), expand(c.expected));
        for (std::size_t i = c.room; i < samples.size(); ++i) {
            EXPECT_EQ(samples[i], kSentinel) << "written past the span at " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codec, DecodeIntoShortSpan,
    testing::Values(ShortSpanCase{"Empty", {0, 1024, 4}, Bytes(1028, 0x11), 0, {}},
                    ShortSpanCase{"Silent", {0}, {}, 100, repeat(128, 100)},
                    ShortSpanCase{"Raw", {1024}, Bytes(1024, 0xFF), 3, repeat(255, 3)},
                    ShortSpanCase{"RawAfterSilent",
                                  {0, 1024},
                                  Bytes(1024, 0xFF),
                                  1025,
                                  concat<std::uint8_t>({repeat(128, 1024), {255}})},
                    // Fast path over whole words, then an odd sample count.
                    ShortSpanCase{"DeltaOddRoom", {20}, Bytes(20, 0x11), 17, counting_up(17)},
                    ShortSpanCase{"DeltaEndsOnEscape", {3}, {0x11, 0x3F, 0x00}, 3, {1, 2, 4}},
                    ShortSpanCase{"SecondBlockCut", {1, 2}, {0x21, 0x11, 0x11}, 4, {1, 0, 1, 2}}),
    [](const testing::TestParamInfo<ShortSpanCase>& info) { return info.param.name; });

struct MeasureCase {
    std::string name;
    Sizes sizes;
    std::uint64_t compressed_bytes;
    std::uint64_t sample_bound;
    bool malformed;
};

// Named by the case, so test names stay the same from build to build.
inline void PrintTo(const MeasureCase& c, std::ostream* os) {
    *os << c.name;
}

class MeasureEntry : public testing::TestWithParam<MeasureCase> {};

TEST_P(MeasureEntry, SumsSizesAndBound) {
    const MeasureCase& c = GetParam();
    const pev::EntryMeasure measure = pev::measure_entry(c.sizes);
    EXPECT_EQ(measure.compressed_bytes, c.compressed_bytes);
    EXPECT_EQ(measure.sample_bound, c.sample_bound);
    EXPECT_EQ(measure.malformed, c.malformed);
}

INSTANTIATE_TEST_SUITE_P(
    Codec, MeasureEntry,
    testing::Values(
        MeasureCase{"NoBlocks", {}, 0, 0, false}, MeasureCase{"Silent", {0}, 0, 1024, false},
        MeasureCase{"Raw", {1024}, 1024, 1024, false}, MeasureCase{"Delta", {3}, 3, 6, false},
        MeasureCase{"LargestDelta", {32767}, 32767, 65534, false},
        MeasureCase{"Mixed", {0, 1024, 3, 1}, 1028, 2056, false},
        MeasureCase{"MalformedCountsZero", {5, -1, 1024}, 1029, 1034, true},
        MeasureCase{"MostNegative", {std::numeric_limits<std::int16_t>::min()}, 0, 0, true},
        // More than 32 bits: 65535 blocks of 32767 bytes.
        MeasureCase{"SumsIn64Bits", Sizes(65535, 32767), 65535ull * 32767, 65535ull * 32767 * 2,
                    false}),
    [](const testing::TestParamInfo<MeasureCase>& info) { return info.param.name; });

} // namespace
