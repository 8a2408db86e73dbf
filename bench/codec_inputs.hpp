#pragma once
// Synthetic entries for the codec benchmarks, the same for the timed
// benchmark and the instruction-count driver. Each entry is 64 blocks of one
// kind: raw blocks, delta blocks of plain nibbles only, or delta blocks where
// about one code in four is an escape. The random source is seeded, so every
// run decodes the same bytes.

#include "codec/block_decoder.hpp"

#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace pev::bench {

enum class EntryKind { raw, delta, escapes };

inline constexpr std::size_t kBenchBlocks = 64;
// 512 stored bytes: 1024 plain nibbles, so a block of plain codes yields as
// many samples as a raw block.
inline constexpr std::int16_t kDeltaBlockBytes = 512;

inline std::optional<EntryKind> parse_entry_kind(std::string_view name) {
    if (name == "raw") {
        return EntryKind::raw;
    }
    if (name == "delta") {
        return EntryKind::delta;
    }
    if (name == "escapes") {
        return EntryKind::escapes;
    }
    return std::nullopt;
}

struct BenchEntry {
    std::vector<std::int16_t> block_sizes;
    std::vector<std::uint8_t> compressed;
    std::vector<std::int16_t> samples; // sized to the entry's sample bound
};

inline BenchEntry make_bench_entry(EntryKind kind, std::size_t blocks = kBenchBlocks) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> any_byte(0, 255);
    std::uniform_int_distribution<int> plain_nibble(0, 14);
    std::bernoulli_distribution escape(0.25);

    BenchEntry entry;
    for (std::size_t b = 0; b < blocks; ++b) {
        if (kind == EntryKind::raw) {
            entry.block_sizes.push_back(kRawBlock);
            for (int i = 0; i < kRawBlock; ++i) {
                entry.compressed.push_back(static_cast<std::uint8_t>(any_byte(rng)));
            }
            continue;
        }
        std::vector<std::uint8_t> nibbles;
        while (nibbles.size() < 2 * static_cast<std::size_t>(kDeltaBlockBytes)) {
            if (kind == EntryKind::escapes && escape(rng)) {
                const int code = any_byte(rng);
                nibbles.push_back(15);
                nibbles.push_back(static_cast<std::uint8_t>(code & 0x0F));
                nibbles.push_back(static_cast<std::uint8_t>(code >> 4));
            } else {
                nibbles.push_back(static_cast<std::uint8_t>(plain_nibble(rng)));
            }
        }
        // An escape cut at the block's end borrows the next block's first
        // byte, as in real data.
        nibbles.resize(2 * static_cast<std::size_t>(kDeltaBlockBytes));
        entry.block_sizes.push_back(kDeltaBlockBytes);
        for (std::size_t i = 0; i < nibbles.size(); i += 2) {
            entry.compressed.push_back(static_cast<std::uint8_t>(nibbles[i] | nibbles[i + 1] << 4));
        }
    }
    entry.samples.resize(measure_entry(entry.block_sizes).sample_bound);
    return entry;
}

} // namespace pev::bench
