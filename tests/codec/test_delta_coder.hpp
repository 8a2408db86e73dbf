#pragma once
// Test-only encoder for delta blocks: turns a run of levels into the nibble
// codes that reproduce them from level 0. A step within reach of a plain
// nibble (codes 0..14) gets one; any other step gets an escape. On request an
// escape is also used where a plain nibble would do, which the decoder must
// accept just the same.

#include "codec/tables.hpp"

#include <cstdint>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

namespace pev::test {

// The one code whose delta step is `step`: the delta table holds every byte
// exactly once.
inline std::uint8_t code_for_step(std::uint8_t step) {
    for (int code = 0; code < 256; ++code) {
        if (kDelta[code] == step) {
            return static_cast<std::uint8_t>(code);
        }
    }
    throw std::logic_error("the delta table misses a step");
}

struct CodedDeltaBlock {
    std::vector<std::uint8_t> bytes;
    // An odd number of nibbles is padded with a 0 nibble, which the decoder
    // reads as one more code: step 0, a repeat of the last level.
    bool padded = false;
};

// `escape_rate` is the chance that a plain-reachable step is escaped anyway.
inline CodedDeltaBlock encode_delta_block(std::span<const std::uint8_t> levels, std::mt19937& rng,
                                          double escape_rate) {
    std::bernoulli_distribution force_escape(escape_rate);
    std::vector<std::uint8_t> nibbles;
    std::uint8_t level = 0;
    for (const std::uint8_t next : levels) {
        const std::uint8_t code = code_for_step(static_cast<std::uint8_t>(next - level));
        if (code < 15 && !force_escape(rng)) {
            nibbles.push_back(code);
        } else {
            nibbles.push_back(15);
            nibbles.push_back(code & 0x0F);
            nibbles.push_back(code >> 4);
        }
        level = next;
    }
    CodedDeltaBlock block;
    block.padded = nibbles.size() % 2 != 0;
    if (block.padded) {
        nibbles.push_back(0);
    }
    for (std::size_t i = 0; i < nibbles.size(); i += 2) {
        block.bytes.push_back(static_cast<std::uint8_t>(nibbles[i] | (nibbles[i + 1] << 4)));
    }
    return block;
}

} // namespace pev::test
