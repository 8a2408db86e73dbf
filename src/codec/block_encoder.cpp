#include "codec/block_encoder.hpp"

#include "codec/block_decoder.hpp"
#include "codec/tables.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace pev {
namespace {

constexpr std::uint8_t kEscapeNibble = 0x0F;
constexpr std::size_t kRawBlockBytes = static_cast<std::size_t>(kRawBlock);

// The code of every step (modulo 256); the delta table reaches each step
// from exactly one code, so this is its inverse.
constexpr std::array<std::uint8_t, 256> make_code_of_step() {
    std::array<std::uint8_t, 256> codes{};
    for (int c = 0; c < 256; ++c) {
        codes[kDelta[c]] = static_cast<std::uint8_t>(c);
    }
    return codes;
}
constexpr std::array<std::uint8_t, 256> kCodeOfStep = make_code_of_step();

constexpr std::uint8_t code_between(std::uint8_t from, std::uint8_t to) {
    return kCodeOfStep[static_cast<std::uint8_t>(to - from)];
}

constexpr bool needs_escape(std::uint8_t code) {
    return code >= kEscapeNibble;
}

// Nibbles go into bytes low half first, as the decoder reads them.
class NibbleWriter {
  public:
    explicit NibbleWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void put(std::uint8_t nibble) {
        if (high_) {
            out_.back() = static_cast<std::uint8_t>(out_.back() | (nibble << 4));
        } else {
            out_.push_back(nibble);
        }
        high_ = !high_;
    }

  private:
    std::vector<std::uint8_t>& out_;
    bool high_ = false;
};

// Nibbles of the block before any size adjustment: one per plain code, three
// per escape.
std::size_t count_nibbles(std::span<const std::uint8_t> levels) {
    std::size_t nibbles = 0;
    std::uint8_t level = 0;
    for (const std::uint8_t next : levels) {
        nibbles += needs_escape(code_between(level, next)) ? 3 : 1;
        level = next;
    }
    return nibbles;
}

bool all_silent(std::span<const std::uint8_t> levels) {
    return std::all_of(levels.begin(), levels.end(),
                       [](std::uint8_t level) { return level == kSilenceLevel; });
}

void append_block(std::span<const std::uint8_t> levels, EncodedEntry& entry) {
    std::size_t stored = 0;
    switch (choose_block_kind(levels)) {
    case BlockKind::silent:
        ++entry.silent_blocks;
        break;
    case BlockKind::raw:
        entry.bytes.insert(entry.bytes.end(), levels.begin(), levels.end());
        stored = kRawBlockBytes;
        ++entry.raw_blocks;
        break;
    case BlockKind::delta:
        stored = encode_delta_block(levels, entry.bytes);
        ++entry.delta_blocks;
        break;
    }
    entry.block_sizes.push_back(static_cast<std::int16_t>(stored));
}

} // namespace

std::uint8_t nearest_level(std::int16_t sample) {
    const auto above = std::lower_bound(kExpansion.begin(), kExpansion.end(), sample);
    if (above == kExpansion.begin()) {
        return 0;
    }
    if (above == kExpansion.end()) {
        return 255;
    }
    const auto hi = static_cast<std::uint8_t>(above - kExpansion.begin());
    const auto lo = static_cast<std::uint8_t>(hi - 1);
    const int to_hi = kExpansion[hi] - sample;
    const int to_lo = sample - kExpansion[lo];
    if (to_hi != to_lo) {
        return to_hi < to_lo ? hi : lo;
    }
    // Halfway: both levels lie on the same side of silence (silence is a
    // level itself), so the nearer one is the smaller in magnitude.
    return std::abs(kExpansion[hi]) < std::abs(kExpansion[lo]) ? hi : lo;
}

std::vector<std::uint8_t> quantise(std::span<const std::int16_t> samples) {
    std::vector<std::uint8_t> levels(samples.size());
    std::transform(samples.begin(), samples.end(), levels.begin(), nearest_level);
    return levels;
}

std::size_t delta_block_size(std::span<const std::uint8_t> levels) {
    const std::size_t stored = count_nibbles(levels) / 2;
    return stored == kRawBlockBytes ? stored + 1 : stored;
}

std::size_t encode_delta_block(std::span<const std::uint8_t> levels,
                               std::vector<std::uint8_t>& out) {
    // A size of 1024 would read back as a raw block. Writing the first plain
    // code as an escape costs two nibbles, one byte, and avoids it. Such a
    // block always has a plain code: with n codes all escapes it would take
    // 3n/2 bytes, which is never 1024.
    bool widen_one = count_nibbles(levels) / 2 == kRawBlockBytes;
    NibbleWriter writer(out);
    std::uint8_t level = 0;
    for (const std::uint8_t next : levels) {
        const std::uint8_t code = code_between(level, next);
        if (needs_escape(code) || widen_one) {
            widen_one = widen_one && needs_escape(code);
            writer.put(kEscapeNibble);
            writer.put(static_cast<std::uint8_t>(code & 0x0F));
            writer.put(static_cast<std::uint8_t>(code >> 4));
        } else {
            writer.put(code);
        }
        level = next;
    }
    return delta_block_size(levels);
}

BlockKind choose_block_kind(std::span<const std::uint8_t> levels) {
    if (levels.size() != kSamplesPerBlock) {
        return BlockKind::delta; // only a full block can be silent or raw
    }
    if (all_silent(levels)) {
        return BlockKind::silent;
    }
    return delta_block_size(levels) < kRawBlockBytes ? BlockKind::delta : BlockKind::raw;
}

std::uint64_t blocks_for_samples(std::uint64_t sample_count) {
    const std::uint64_t stored = sample_count + sample_count % 2;
    return (stored + kSamplesPerBlock - 1) / kSamplesPerBlock;
}

EncodedEntry encode_entry(std::span<const std::int16_t> samples) {
    const std::vector<std::uint8_t> levels = quantise(samples);
    return encode_levels(levels);
}

EncodedEntry encode_levels(std::span<const std::uint8_t> levels) {
    EncodedEntry entry;
    entry.padded = levels.size() % 2 == 1;
    entry.sample_count = levels.size() + (entry.padded ? 1 : 0);
    entry.block_sizes.reserve(static_cast<std::size_t>(blocks_for_samples(levels.size())));
    std::size_t start = 0;
    while (levels.size() - start >= kSamplesPerBlock) {
        append_block(levels.subspan(start, kSamplesPerBlock), entry);
        start += kSamplesPerBlock;
    }
    if (start < levels.size()) {
        // The last, short block. An odd clip repeats its last level once, so
        // the spare nibble is a code 0 that decodes as exactly that sample.
        std::vector<std::uint8_t> last(levels.begin() + static_cast<std::ptrdiff_t>(start),
                                       levels.end());
        if (entry.padded) {
            last.push_back(last.back());
        }
        append_block(last, entry);
    }
    return entry;
}

} // namespace pev
