// Randomised and exhaustive checks of the decoder against the test-only coder
// and the plain nibble-by-nibble reference decoder. Seeds are fixed, so every
// run checks the same inputs.

#include "codec/block_decoder.hpp"
#include "codec/tables.hpp"
#include "support/reference_decoder.hpp"
#include "test_delta_coder.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Sizes = std::vector<std::int16_t>;
using Samples = std::vector<std::int16_t>;

constexpr std::int16_t kSentinel = 0x5A5A;

// Decodes into a span of `room` samples followed by sentinels, checks that
// none of those was touched, and returns what was written.
Samples decode_checked(const Sizes& sizes, const Bytes& bytes, std::size_t room) {
    // A copy holds exactly its bytes, so AddressSanitizer catches any read
    // past them.
    const Bytes exact(bytes);
    Samples samples(room + 8, kSentinel);
    const std::size_t written = pev::decode_entry(sizes, exact, std::span(samples).first(room));
    EXPECT_LE(written, room);
    for (std::size_t i = room; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i], kSentinel) << "written past the span at " << i;
    }
    samples.resize(written);
    return samples;
}

// Mostly small steps, now and then a jump only an escape can make.
std::vector<std::uint8_t> random_levels(std::mt19937& rng, std::size_t count) {
    std::uniform_int_distribution<int> small(-7, 8);
    std::uniform_int_distribution<int> any(0, 255);
    std::bernoulli_distribution jump(0.1);
    std::vector<std::uint8_t> levels;
    std::uint8_t level = 0;
    for (std::size_t i = 0; i < count; ++i) {
        level = jump(rng) ? static_cast<std::uint8_t>(any(rng))
                          : static_cast<std::uint8_t>(level + small(rng));
        levels.push_back(level);
    }
    return levels;
}

TEST(DecoderProperty, CodedLevelsDecodeToThemselves) {
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> block_count(1, 6);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<std::size_t> length(1, 3000);
    std::uniform_real_distribution<double> escape_rate(0.0, 0.5);
    std::uniform_int_distribution<int> any_byte(0, 255);

    for (int entry = 0; entry < 300; ++entry) {
        Sizes sizes;
        Bytes bytes;
        Samples expected;
        for (int b = block_count(rng); b > 0; --b) {
            const int k = kind(rng);
            if (k == 0) {
                sizes.push_back(0);
                expected.insert(expected.end(), 1024, std::int16_t{0});
            } else if (k == 1) {
                sizes.push_back(1024);
                for (int i = 0; i < 1024; ++i) {
                    const auto byte = static_cast<std::uint8_t>(any_byte(rng));
                    bytes.push_back(byte);
                    expected.push_back(pev::kExpansion[byte]);
                }
            } else {
                const auto levels = random_levels(rng, length(rng));
                const auto block = pev::test::encode_delta_block(levels, rng, escape_rate(rng));
                if (block.bytes.size() == 1024) {
                    continue; // that size means a raw block
                }
                sizes.push_back(static_cast<std::int16_t>(block.bytes.size()));
                bytes.insert(bytes.end(), block.bytes.begin(), block.bytes.end());
                for (const std::uint8_t level : levels) {
                    expected.push_back(pev::kExpansion[level]);
                }
                if (block.padded) {
                    expected.push_back(pev::kExpansion[levels.back()]);
                }
            }
        }
        const auto bound = pev::measure_entry(sizes).sample_bound;
        ASSERT_EQ(decode_checked(sizes, bytes, bound), expected) << "entry " << entry;
    }
}

// Random bytes with a chosen density of escape nibbles, random sizes (short
// blocks, so escapes often straddle block ends; malformed ones too), entries
// whose bytes run short of their sizes, and sample spans too small for them.
TEST(DecoderProperty, AgreesWithReferenceOnRandomInput) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> block_count(0, 8);
    std::uniform_int_distribution<int> kind(0, 19);
    std::uniform_int_distribution<int> short_size(1, 40);
    std::uniform_int_distribution<int> long_size(1, 5000);
    std::uniform_int_distribution<int> negative(-32768, -1);
    std::uniform_real_distribution<double> escape_density(0.0, 0.6);
    std::uniform_int_distribution<int> nibble(0, 14);
    std::bernoulli_distribution sometimes(0.2);

    for (int entry = 0; entry < 3000; ++entry) {
        Sizes sizes;
        for (int b = block_count(rng); b > 0; --b) {
            const int k = kind(rng);
            sizes.push_back(static_cast<std::int16_t>(k == 0   ? 0
                                                      : k == 1 ? 1024
                                                      : k == 2 ? negative(rng)
                                                      : k < 6  ? long_size(rng)
                                                               : short_size(rng)));
        }
        const auto measure = pev::measure_entry(sizes);
        std::bernoulli_distribution escape(escape_density(rng));
        Bytes bytes(measure.compressed_bytes);
        for (auto& byte : bytes) {
            const int low = escape(rng) ? 15 : nibble(rng);
            const int high = escape(rng) ? 15 : nibble(rng);
            byte = static_cast<std::uint8_t>(low | (high << 4));
        }
        if (sometimes(rng) && !bytes.empty()) {
            bytes.resize(std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(rng));
        }
        std::size_t room = measure.sample_bound;
        if (sometimes(rng) && room > 0) {
            room = std::uniform_int_distribution<std::size_t>(0, room - 1)(rng);
        }

        Samples expected = pev::test::reference_decode(sizes, bytes);
        ASSERT_LE(expected.size(), measure.sample_bound);
        expected.resize(std::min(expected.size(), room));
        ASSERT_EQ(decode_checked(sizes, bytes, room), expected) << "entry " << entry;
    }
}

// Every block size of 1..40 bytes, with one escape at each nibble in turn
// (so at every offset within and across the 8-byte words the fast path
// loads), followed by a block that any borrowed byte belongs to.
TEST(DecoderProperty, EscapeAtEveryOffsetOfShortBlocks) {
    for (int size = 1; size <= 40; ++size) {
        for (int escape_at = -1; escape_at < 2 * size; ++escape_at) {
            Bytes bytes;
            for (int i = 0; i < size; ++i) {
                bytes.push_back(
                    static_cast<std::uint8_t>((i * 7 + 3) % 15 | ((i * 5 + 1) % 15) << 4));
            }
            if (escape_at >= 0) {
                bytes[escape_at / 2] |= escape_at % 2 == 0 ? 0x0F : 0xF0;
            }
            bytes.push_back(0x9A);
            const Sizes sizes = {static_cast<std::int16_t>(size), 1};
            const auto bound = pev::measure_entry(sizes).sample_bound;
            ASSERT_EQ(decode_checked(sizes, bytes, bound),
                      pev::test::reference_decode(sizes, bytes))
                << "size " << size << ", escape at nibble " << escape_at;
        }
    }
}

// Random entries (escape-heavy or not, their bytes complete or cut short):
// the scan counts exactly the samples decoding writes, and decoding block by
// block, each with the byte after it, gives exactly the whole entry.
TEST(DecoderProperty, ScanAndBlockByBlockAgreeWithTheWholeEntry) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> block_count(0, 8);
    std::uniform_int_distribution<int> delta_size(1, 700);
    std::uniform_int_distribution<int> kind(0, 5);
    std::uniform_int_distribution<int> any_byte(0, 255);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    for (int round = 0; round < 3000; ++round) {
        Sizes sizes;
        for (int b = block_count(rng); b > 0; --b) {
            const int k = kind(rng);
            sizes.push_back(k == 0   ? pev::kSilentBlock
                            : k == 1 ? pev::kRawBlock
                                     : static_cast<std::int16_t>(delta_size(rng)));
        }
        const pev::EntryMeasure measure = pev::measure_entry(sizes);
        const double escapes = fraction(rng);
        Bytes bytes(measure.compressed_bytes);
        for (std::uint8_t& b : bytes) {
            b = static_cast<std::uint8_t>(any_byte(rng));
            if (fraction(rng) < escapes) {
                b |= fraction(rng) < 0.5 ? 0x0F : 0xF0;
            }
        }
        if (round % 4 == 0) {
            bytes.resize(static_cast<std::size_t>(fraction(rng) * bytes.size()));
        }
        const Samples whole = decode_checked(sizes, bytes, measure.sample_bound);
        ASSERT_EQ(pev::count_entry_samples(sizes, bytes), whole.size()) << "round " << round;
        Samples joined;
        std::size_t position = 0;
        for (const std::int16_t size : sizes) {
            const std::size_t from = std::min(position, bytes.size());
            const Bytes block(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                              bytes.begin() + static_cast<std::ptrdiff_t>(
                                                  std::min(bytes.size(), position + size + 1)));
            Samples out(pev::kMaxSamplesPerBlock);
            out.resize(pev::decode_block(size, block, out));
            EXPECT_EQ(out.size(), pev::count_block_samples(size, block));
            joined.insert(joined.end(), out.begin(), out.end());
            position += static_cast<std::size_t>(size);
        }
        ASSERT_EQ(joined, whole) << "round " << round;
    }
}

} // namespace
