#pragma once
// Test-only entry decoder written as plainly as the format reads: one nibble
// at a time, no fast paths, stopping once `limit` samples are out. The
// optimised decoder must agree with it sample for sample (the tests and the
// decoder fuzzer both compare against it).

#include "codec/tables.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace pev::test {

inline std::vector<std::int16_t>
reference_decode(std::span<const std::int16_t> block_sizes,
                 std::span<const std::uint8_t> compressed,
                 std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    // Bytes past the entry's compressed bytes read as 0.
    auto byte_at = [&](std::uint64_t index) -> unsigned {
        return index < compressed.size() ? compressed[index] : 0u;
    };
    std::vector<std::int16_t> samples;
    std::uint64_t position = 0;
    for (const std::int16_t size : block_sizes) {
        if (samples.size() >= limit) {
            break;
        }
        if (size < 0) {
            continue; // outside the format: nothing, and the position stays
        }
        if (size == 0) {
            samples.insert(samples.end(), std::min<std::size_t>(1024, limit - samples.size()),
                           std::int16_t{0});
        } else if (size == 1024) {
            for (std::uint64_t i = 0; i < 1024 && samples.size() < limit; ++i) {
                samples.push_back(kExpansion[byte_at(position + i)]);
            }
        } else {
            auto nibble = [&](std::uint64_t j) -> unsigned {
                const unsigned b = byte_at(position + j / 2);
                return j % 2 == 0 ? (b & 0x0Fu) : (b >> 4);
            };
            std::uint8_t level = 0;
            std::uint64_t j = 0;
            while (j < 2 * static_cast<std::uint64_t>(size) && samples.size() < limit) {
                unsigned code = nibble(j++);
                if (code == 15) {
                    code = nibble(j) | (nibble(j + 1) << 4);
                    j += 2;
                }
                level = static_cast<std::uint8_t>(level + kDelta[code]);
                samples.push_back(kExpansion[level]);
            }
        }
        position += static_cast<std::uint64_t>(size);
    }
    return samples;
}

} // namespace pev::test
