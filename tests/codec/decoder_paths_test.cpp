// Every decoder this processor runs, the vector ones beside the scalar one,
// against the plain reference decoder, through the decoder fuzz target's
// checks (guards past the span and past the samples written, the bound, the
// scan, each block decoded alone). Seeds are fixed.

#include "archive/archive_reader.hpp"
#include "codec/block_decoder.hpp"
#include "codec/decoder_paths.hpp"
#include "harness/decoder_harness.hpp"
#include "support/sample_archives.hpp"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Sizes = std::vector<std::int16_t>;
using pev::DecoderPath;

// The fuzz target's input: block count, span choice, sizes, bytes.
std::string check(const Sizes& sizes, const Bytes& bytes, std::uint8_t span_choice = 0) {
    Bytes input = {static_cast<std::uint8_t>(sizes.size()),
                   static_cast<std::uint8_t>(sizes.size() >> 8), span_choice};
    for (const std::int16_t size : sizes) {
        input.push_back(static_cast<std::uint8_t>(size));
        input.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(size) >> 8));
    }
    input.insert(input.end(), bytes.begin(), bytes.end());
    return pev::fuzz::check_decoder(input);
}

// Random codes with a share of escape nibbles.
Bytes random_bytes(std::mt19937& rng, std::size_t count, double escapes) {
    std::bernoulli_distribution escape(escapes);
    std::uniform_int_distribution<int> nibble(0, 14);
    Bytes bytes(count);
    for (std::uint8_t& b : bytes) {
        b = static_cast<std::uint8_t>((escape(rng) ? 15 : nibble(rng)) |
                                      ((escape(rng) ? 15 : nibble(rng)) << 4));
    }
    return bytes;
}

TEST(DecoderPaths, TheBestIsAVectorDecoderWhereTheBuildHasOne) {
    const auto paths = pev::usable_decoder_paths();
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), DecoderPath::scalar);
    EXPECT_EQ(paths.back(), pev::best_decoder_path());
#if defined(__x86_64__)
    EXPECT_NE(std::find(paths.begin(), paths.end(), DecoderPath::sse2), paths.end());
    EXPECT_EQ(std::find(paths.begin(), paths.end(), DecoderPath::avx2) != paths.end(),
              __builtin_cpu_supports("avx2") != 0);
#elif defined(__aarch64__)
    EXPECT_EQ(pev::best_decoder_path(), DecoderPath::neon);
#elif defined(__EMSCRIPTEN__)
    EXPECT_EQ(pev::best_decoder_path(), DecoderPath::simd128);
#endif
}

// Every stored size from 1 to 1024 (1024 is a raw block), alone and before
// a block whose first byte an escape at its end borrows, with and without
// that byte, plain and escape-heavy.
TEST(DecoderPaths, EveryStoredSizeFrom1To1024) {
    std::mt19937 rng(30);
    const double densities[] = {0.0, 0.03, 0.3, 0.7};
    for (int size = 1; size <= 1024; ++size) {
        const Bytes bytes =
            random_bytes(rng, static_cast<std::size_t>(size) + 3, densities[size % 4]);
        const auto stored = static_cast<std::int16_t>(size);
        ASSERT_EQ(check({stored}, bytes), "") << "size " << size;
        ASSERT_EQ(check({stored, 3}, bytes), "") << "size " << size << " then 3";
        ASSERT_EQ(check({stored, 0, 1}, Bytes(bytes.begin(), bytes.begin() + size)), "")
            << "size " << size << ", bytes ending with the block";
    }
}

// One escape at each of a block's last 70 positions (the last two windows
// and the byte after), among plain codes and among escapes, with the byte
// after the block there or missing, and spans that end within the block.
TEST(DecoderPaths, EscapesAtEveryPositionNearABlocksEnd) {
    std::mt19937 rng(31);
    for (const int size : {1, 2, 15, 16, 17, 31, 32, 33, 47, 48, 63, 64, 65, 500, 1000, 1023}) {
        for (const double density : {0.0, 0.4}) {
            const Bytes base = random_bytes(rng, static_cast<std::size_t>(size) + 1, density);
            for (int at = std::max(0, 2 * size - 70); at < 2 * size; ++at) {
                Bytes bytes = base;
                bytes[static_cast<std::size_t>(at / 2)] |= at % 2 == 0 ? 0x0F : 0xF0;
                const Sizes sizes = {static_cast<std::int16_t>(size), 1};
                ASSERT_EQ(check(sizes, bytes), "") << size << " bytes, escape at " << at;
                ASSERT_EQ(check({sizes[0]}, Bytes(bytes.begin(), bytes.end() - 1)), "")
                    << size << " bytes, escape at " << at << ", no byte after";
                ASSERT_EQ(check(sizes, bytes, static_cast<std::uint8_t>(0x80 | (at % 41))), "")
                    << size << " bytes, escape at " << at << ", span short by " << at % 41;
            }
        }
    }
}

// Patterns that wrap the level around again and again (steps of +7, -7,
// +8 by escape, +128, an escape whose code holds 15s), in blocks of many
// sizes.
TEST(DecoderPaths, LevelsThatWrap) {
    const Bytes patterns[] = {{0xDD}, {0xEE}, {0xFF, 0x0F}, {0xFF}, {0x0F, 0xF0}, {0xF1, 0xFF}};
    for (const Bytes& pattern : patterns) {
        for (int size = 1; size <= 700; size += 23) {
            Bytes bytes(static_cast<std::size_t>(size));
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                bytes[i] = pattern[i % pattern.size()];
            }
            ASSERT_EQ(
                check({static_cast<std::int16_t>(size), static_cast<std::int16_t>(size)},
                      Bytes(bytes.begin(), bytes.end()) /* the second block misses its bytes */),
                "")
                << "pattern " << int{pattern[0]} << ", size " << size;
        }
    }
}

// Entries of silent, raw, delta and malformed blocks, plain or escape-heavy,
// their bytes complete or cut short, into spans short, exact or long.
TEST(DecoderPaths, RandomEntries) {
    std::mt19937 rng(32);
    std::uniform_int_distribution<int> blocks(0, 6);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> delta_size(1, 1500);
    std::uniform_int_distribution<int> any(0, 255);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    for (int entry = 0; entry < 1500; ++entry) {
        Sizes sizes;
        for (int b = blocks(rng); b > 0; --b) {
            const int k = kind(rng);
            sizes.push_back(k == 0   ? pev::kSilentBlock
                            : k == 1 ? pev::kRawBlock
                            : k == 2 ? static_cast<std::int16_t>(-any(rng) - 1)
                                     : static_cast<std::int16_t>(delta_size(rng)));
        }
        Bytes bytes = random_bytes(rng, pev::measure_entry(sizes).compressed_bytes,
                                   fraction(rng) < 0.3 ? 0.0 : fraction(rng) * 0.6);
        if (entry % 5 == 0) {
            bytes.resize(
                static_cast<std::size_t>(fraction(rng) * static_cast<double>(bytes.size())));
        }
        const auto choice = static_cast<std::uint8_t>(entry % 3 == 0 ? any(rng) : 0);
        ASSERT_EQ(check(sizes, bytes, choice), "") << "entry " << entry;
    }
}

// The end-to-end cases' archives and the demo: every clip through every
// path, as the scalar decoder gives it.
TEST(DecoderPaths, SampleArchivesAndTheDemo) {
    using namespace pev::test;
    const std::vector<Bytes> archives = {build_archive(three_clip_archive()),
                                         build_archive(single_clip_archive(silent_entry(1, 70))),
                                         read_file(PEV_SOURCE_DIR "/examples/demo.pev")};
    for (const Bytes& archive : archives) {
        const pev::archive::MemorySource source(archive);
        const pev::archive::ArchiveReader reader(source);
        for (std::size_t i = 0; i < reader.clip_count(); ++i) {
            pev::archive::ClipBuffers buffers;
            const pev::archive::ClipInfo clip = reader.inspect(i, buffers);
            const auto bytes = reader.read_stored_bytes(clip, buffers);
            std::vector<std::int16_t> expected(clip.measure.sample_bound);
            expected.resize(
                pev::decode_entry_on(DecoderPath::scalar, clip.block_sizes, bytes, expected));
            for (const DecoderPath path : pev::usable_decoder_paths()) {
                std::vector<std::int16_t> samples(clip.measure.sample_bound);
                samples.resize(pev::decode_entry_on(path, clip.block_sizes, bytes, samples));
                EXPECT_EQ(samples, expected) << pev::decoder_path_name(path) << ", clip " << i;
            }
        }
    }
}

} // namespace
