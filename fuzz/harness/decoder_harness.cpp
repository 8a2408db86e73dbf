#include "harness/decoder_harness.hpp"

#include "codec/block_decoder.hpp"
#include "codec/decoder_paths.hpp"
#include "codec/tables.hpp"
#include "support/reference_decoder.hpp"

#include <algorithm>
#include <vector>

namespace pev::fuzz {
namespace {

// Keeps a run fast whatever the sizes claim (65535 blocks of 32767 bytes
// would ask for 4 G samples); spans shorter than the bound are a case the
// decoder must handle anyway.
constexpr std::uint64_t kSpanCap = std::uint64_t{1} << 14;
// Samples past the span that the decoder must leave alone.
constexpr std::size_t kGuard = 64;
// A value the decoder never writes: 23130 is not twice a square.
constexpr std::int16_t kCanary = 23130;

// Each block decoded alone, from its bytes and the one after it, gives its
// part of the whole entry's `samples`, and its scan counts them.
std::string check_block_by_block(DecoderPath path, std::span<const std::int16_t> sizes,
                                 std::span<const std::uint8_t> bytes,
                                 std::span<const std::int16_t> samples) {
    std::vector<std::int16_t> block(kMaxSamplesPerBlock + kGuard, kCanary);
    std::uint64_t position = 0;
    std::size_t done = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::uint64_t stored = is_malformed_block_size(sizes[i]) ? 0 : sizes[i];
        const std::size_t from =
            static_cast<std::size_t>(std::min<std::uint64_t>(position, bytes.size()));
        const std::size_t to =
            static_cast<std::size_t>(std::min<std::uint64_t>(position + stored + 1, bytes.size()));
        const auto own = bytes.subspan(from, to - from);
        const std::size_t count = decode_block_on(path, sizes[i], own, block);
        if (count != count_block_samples_on(path, sizes[i], own) ||
            !std::equal(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(count),
                        samples.begin() + static_cast<std::ptrdiff_t>(done)) ||
            std::any_of(block.begin() + static_cast<std::ptrdiff_t>(count),
                        block.begin() + static_cast<std::ptrdiff_t>(count + kGuard),
                        [](std::int16_t sample) { return sample != kCanary; })) {
            return " decoder gave block " + std::to_string(i) + " alone differently";
        }
        std::fill_n(block.begin(), count, kCanary);
        done += count;
        position += stored;
    }
    return {};
}

// One path's decoding of the entry, checked against its span, its bound,
// the reference's samples and its own scan.
std::string check_path(DecoderPath path, std::span<const std::int16_t> sizes,
                       std::span<const std::uint8_t> bytes, const EntryMeasure& measure,
                       std::size_t span, const std::vector<std::int16_t>& expected) {
    const std::string name = decoder_path_name(path);
    std::vector<std::int16_t> samples(span + kGuard, kCanary);
    const std::size_t written =
        decode_entry_on(path, sizes, bytes, std::span<std::int16_t>(samples.data(), span));

    if (written > span) {
        return name + " decoder claims " + std::to_string(written) + " samples in a span of " +
               std::to_string(span);
    }
    if (written > measure.sample_bound) {
        return name + " decoder wrote " + std::to_string(written) + " samples past its bound of " +
               std::to_string(measure.sample_bound);
    }
    for (std::size_t i = written; i < samples.size(); ++i) {
        if (samples[i] != kCanary) {
            return name + " decoder touched sample " + std::to_string(i) + " after the " +
                   std::to_string(written) + " it reported";
        }
    }
    if (expected.size() != written) {
        return name + " decoder wrote " + std::to_string(written) + " samples, the reference " +
               std::to_string(expected.size());
    }
    const auto mismatch = std::mismatch(expected.begin(), expected.end(), samples.begin());
    if (mismatch.first != expected.end()) {
        return name + " decoder and reference differ at sample " +
               std::to_string(mismatch.first - expected.begin());
    }
    if (span >= measure.sample_bound) {
        if (count_entry_samples_on(path, sizes, bytes) != written) {
            return name + " scan counts " +
                   std::to_string(count_entry_samples_on(path, sizes, bytes)) +
                   " samples, its decoder wrote " + std::to_string(written);
        }
        if (std::string broken = check_block_by_block(path, sizes, bytes, samples);
            !broken.empty()) {
            return name + broken;
        }
    }
    // Without escapes or bad sizes the bound is exact, and a full span is
    // filled.
    if (!measure.malformed && span >= measure.sample_bound &&
        std::none_of(bytes.begin(), bytes.end(),
                     [](std::uint8_t b) { return (b & 0x0F) == 0x0F || (b >> 4) == 0x0F; }) &&
        written != measure.sample_bound) {
        return name + ": an entry without escapes fell short of its bound";
    }
    return {};
}

} // namespace

std::string check_decoder(std::span<const std::uint8_t> input) {
    if (input.size() < 3) {
        return {};
    }
    const std::size_t wanted = input[0] | (input[1] << 8);
    const std::uint8_t choice = input[2];
    const std::size_t count = std::min(wanted, (input.size() - 3) / 2);
    std::vector<std::int16_t> sizes(count);
    for (std::size_t i = 0; i < count; ++i) {
        sizes[i] = static_cast<std::int16_t>(input[3 + 2 * i] | (input[4 + 2 * i] << 8));
    }
    // A copy of their own, so a read past the end lands in a sanitizer's
    // red zone rather than in the rest of the input.
    const std::vector<std::uint8_t> bytes(
        input.begin() + 3 + 2 * static_cast<std::ptrdiff_t>(count), input.end());

    const EntryMeasure measure = measure_entry(sizes);
    std::size_t span = static_cast<std::size_t>(std::min(measure.sample_bound, kSpanCap));
    if (choice & 0x80) {
        span -= std::min<std::size_t>(span, choice & 0x7F);
    } else if (choice & 0x40) {
        span += choice & 0x3F;
    }
    const std::vector<std::int16_t> expected = test::reference_decode(sizes, bytes, span);
    // Every decoder this processor runs: the scalar one and the vector ones.
    for (const DecoderPath path : usable_decoder_paths()) {
        if (std::string broken = check_path(path, sizes, bytes, measure, span, expected);
            !broken.empty()) {
            return broken;
        }
    }
    return {};
}

} // namespace pev::fuzz
