#include "harness/decoder_harness.hpp"

#include "codec/block_decoder.hpp"
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
    std::vector<std::int16_t> samples(span + kGuard, kCanary);
    const std::size_t written =
        decode_entry(sizes, bytes, std::span<std::int16_t>(samples.data(), span));

    if (written > span) {
        return "decoder claims " + std::to_string(written) + " samples in a span of " +
               std::to_string(span);
    }
    if (written > measure.sample_bound) {
        return "decoder wrote " + std::to_string(written) + " samples past its bound of " +
               std::to_string(measure.sample_bound);
    }
    for (std::size_t i = written; i < samples.size(); ++i) {
        if (samples[i] != kCanary) {
            return "decoder touched sample " + std::to_string(i) + " after the " +
                   std::to_string(written) + " it reported";
        }
    }
    const std::vector<std::int16_t> expected = test::reference_decode(sizes, bytes, span);
    if (expected.size() != written) {
        return "decoder wrote " + std::to_string(written) + " samples, the reference " +
               std::to_string(expected.size());
    }
    const auto mismatch = std::mismatch(expected.begin(), expected.end(), samples.begin());
    if (mismatch.first != expected.end()) {
        return "decoder and reference differ at sample " +
               std::to_string(mismatch.first - expected.begin());
    }
    // Without escapes or bad sizes the bound is exact, and a full span is
    // filled.
    if (!measure.malformed && span >= measure.sample_bound &&
        std::none_of(bytes.begin(), bytes.end(),
                     [](std::uint8_t b) { return (b & 0x0F) == 0x0F || (b >> 4) == 0x0F; }) &&
        written != measure.sample_bound) {
        return "an entry without escapes fell short of its bound";
    }
    return {};
}

} // namespace pev::fuzz
