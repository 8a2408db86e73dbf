#include "harness/decoder_harness.hpp"

#include "codec/block_decoder.hpp"
#include "codec/tables.hpp"

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

// The decoder written the plain way, one nibble at a time, stopping once
// `limit` samples are out. Bytes past the end of `bytes` read as 0.
std::vector<std::int16_t> reference_decode(std::span<const std::int16_t> sizes,
                                           std::span<const std::uint8_t> bytes, std::size_t limit) {
    std::vector<std::int16_t> out;
    auto byte_at = [&](std::uint64_t i) -> std::uint8_t { return i < bytes.size() ? bytes[i] : 0; };
    std::uint64_t p = 0;
    for (const std::int16_t s : sizes) {
        if (s < 0) {
            continue; // outside the format: yields nothing, reads nothing
        }
        if (s == 0) {
            for (int i = 0; i < 1024 && out.size() < limit; ++i) {
                out.push_back(0);
            }
        } else if (s == 1024) {
            for (std::uint64_t i = 0; i < 1024 && out.size() < limit; ++i) {
                out.push_back(kExpansion[byte_at(p + i)]);
            }
        } else {
            auto nibble = [&](std::uint64_t j) -> unsigned {
                const std::uint8_t b = byte_at(p + j / 2);
                return j % 2 == 0 ? (b & 0x0Fu) : (b >> 4);
            };
            std::uint8_t level = 0;
            std::uint64_t j = 0;
            while (j < 2 * static_cast<std::uint64_t>(s) && out.size() < limit) {
                unsigned code = nibble(j++);
                if (code == 15) {
                    code = nibble(j) | (nibble(j + 1) << 4);
                    j += 2;
                }
                level = static_cast<std::uint8_t>(level + kDelta[code]);
                out.push_back(kExpansion[level]);
            }
        }
        p += static_cast<std::uint64_t>(s);
    }
    return out;
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
    const std::vector<std::int16_t> expected = reference_decode(sizes, bytes, span);
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
