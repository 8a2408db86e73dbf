#pragma once
// Test-only WAV files: the canonical header and little-endian samples, and
// noise that is the same on every host.

#include "wav/wav_writer.hpp"

#include <cstdint>
#include <random>
#include <vector>

namespace pev::test {

inline std::vector<std::uint8_t> wav_file_bytes(const std::vector<std::int16_t>& samples,
                                                std::uint32_t rate) {
    const auto header = wav::make_header(static_cast<std::uint32_t>(2 * samples.size()), 1, rate);
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    for (const std::int16_t s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(s));
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
    }
    return bytes;
}

// The engine's bits alone, no distribution: those differ between libraries.
inline std::vector<std::int16_t> noise(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::int16_t> samples(count);
    for (std::int16_t& sample : samples) {
        sample = static_cast<std::int16_t>(random() >> 16);
    }
    return samples;
}

} // namespace pev::test
