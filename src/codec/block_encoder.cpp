#include "codec/block_encoder.hpp"

#include "codec/block_decoder.hpp"
#include "codec/tables.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace pev {
namespace {

constexpr std::uint8_t kEscapeNibble = 0x0F;
constexpr std::size_t kRawBlockBytes = static_cast<std::size_t>(kRawBlock);

// --- quantising --------------------------------------------------------------

// The first sample that goes to level `hi` rather than to the level below:
// past the midpoint of the two, or on it when `hi` is nearer silence.
constexpr int first_sample_of_level(int hi) {
    const int sum = kExpansion[hi - 1] + kExpansion[hi];
    const bool tie_goes_up = (sum % 2 == 0) && hi <= kSilenceLevel; // both at or below silence
    const int half = sum >> 1;                                      // floor(sum / 2)
    return sum % 2 == 0 && tie_goes_up ? half : half + 1;
}

// The level of every 16-bit sample, indexed by the sample + 32768. 64 KiB,
// built at compile time: one load per sample instead of a binary search.
constexpr std::array<std::uint8_t, 65536> make_level_of_sample() {
    std::array<std::uint8_t, 65536> table{};
    std::size_t index = 0;
    for (int level = 0; level < 256; ++level) {
        const int end = level == 255 ? 32768 : first_sample_of_level(level + 1);
        for (; static_cast<int>(index) - 32768 < end; ++index) {
            table[index] = static_cast<std::uint8_t>(level);
        }
    }
    return table;
}
constexpr std::array<std::uint8_t, 65536> kLevelOfSample = make_level_of_sample();

constexpr std::uint8_t level_of(std::int16_t sample) {
    return kLevelOfSample[static_cast<std::size_t>(sample + 32768)];
}

static_assert(level_of(-32768) == 0 && level_of(32767) == 255 && level_of(0) == kSilenceLevel);
static_assert(level_of(32005) == 254 && level_of(32006) == 255); // a tie goes toward silence
static_assert(level_of(-32513) == 1 && level_of(-32514) == 0);

// --- coding a block ------------------------------------------------------------

// The code of the step from level `from` to `to`. Odd codes step up by
// (code + 1) / 2 and even codes step down by code / 2, so the code is the
// zigzag form of the step downwards, from - to, taken as a signed byte.
constexpr std::uint8_t code_between(std::uint8_t from, std::uint8_t to) {
    const auto down = static_cast<std::int8_t>(static_cast<std::uint8_t>(from - to));
    return static_cast<std::uint8_t>((down * 2) ^ (down >> 7));
}

constexpr bool codes_match_the_delta_table() {
    for (int code = 0; code < 256; ++code) {
        if (code_between(0, kDelta[code]) != code) {
            return false;
        }
    }
    return true;
}
static_assert(codes_match_the_delta_table());

constexpr bool needs_escape(std::uint8_t code) {
    return code >= kEscapeNibble;
}

// What decides a block's kind, gathered while its codes are worked out.
struct CodedBlock {
    std::array<std::uint8_t, kSamplesPerBlock> codes;
    std::size_t count = 0;
    std::size_t escapes = 0;
    bool silent = false; // every level is silence
};

// Codes `levels` (at most 1024) into `block`. One pass the compiler turns
// into vector instructions: no table, no branch.
void code_block(std::span<const std::uint8_t> levels, CodedBlock& block) {
    const std::size_t count = levels.size();
    const std::uint8_t* level = levels.data();
    std::uint8_t* codes = block.codes.data();
    unsigned escapes = 0;
    unsigned not_silent = 0;
    if (count > 0) {
        codes[0] = code_between(0, level[0]);
        escapes += needs_escape(codes[0]) ? 1u : 0u;
        not_silent |= level[0] ^ kSilenceLevel;
    }
    for (std::size_t i = 1; i < count; ++i) {
        const std::uint8_t code = code_between(level[i - 1], level[i]);
        codes[i] = code;
        escapes += needs_escape(code) ? 1u : 0u;
        not_silent |= level[i] ^ kSilenceLevel;
    }
    block.count = count;
    block.escapes = escapes;
    block.silent = not_silent == 0;
}

// Nibbles before any size adjustment: one per plain code, three per escape.
std::size_t nibbles_of(const CodedBlock& block) {
    return block.count + 2 * block.escapes;
}

// A size of 1024 would read back as a raw block. Writing the first plain
// code as an escape costs two nibbles, one byte, and avoids it. Such a block
// always has a plain code: with n codes all escapes it would take 3n/2
// bytes, which is never 1024.
bool must_widen(const CodedBlock& block) {
    return nibbles_of(block) / 2 == kRawBlockBytes;
}

std::size_t delta_size_of(const CodedBlock& block) {
    const std::size_t stored = nibbles_of(block) / 2;
    return stored == kRawBlockBytes ? stored + 1 : stored;
}

BlockKind kind_of(const CodedBlock& block) {
    if (block.count != kSamplesPerBlock) {
        return BlockKind::delta; // only a full block can be silent or raw
    }
    if (block.silent) {
        return BlockKind::silent;
    }
    return delta_size_of(block) < kRawBlockBytes ? BlockKind::delta : BlockKind::raw;
}

// Up to 64 bits of nibbles waiting to be stored, low nibble first; whole
// 32-bit words are stored as soon as they are complete.
class NibbleAccumulator {
  public:
    explicit NibbleAccumulator(std::uint8_t* out) : out_(out) {}

    // `count` nibbles (at most 8) in the low bits of `nibbles`.
    void put(std::uint64_t nibbles, unsigned count) {
        pending_ |= nibbles << bits_;
        bits_ += 4 * count;
        if (bits_ >= 32) {
            for (int i = 0; i < 4; ++i) {
                *out_++ = static_cast<std::uint8_t>(pending_ >> (8 * i));
            }
            pending_ >>= 32;
            bits_ -= 32;
        }
    }

    void put_code(std::uint8_t code, bool escape) {
        if (escape) {
            put(kEscapeNibble | (std::uint64_t{code} << 4), 3);
        } else {
            put(code, 1);
        }
    }

    // Stores what is left (a whole number of bytes: every block has an even
    // number of nibbles) and returns the end of the output.
    std::uint8_t* finish() {
        for (; bits_ > 0; bits_ -= 8, pending_ >>= 8) {
            *out_++ = static_cast<std::uint8_t>(pending_);
        }
        return out_;
    }

  private:
    std::uint8_t* out_;
    std::uint64_t pending_ = 0;
    unsigned bits_ = 0;
};

// Eight codes from `codes`, the first in the low byte.
std::uint64_t load_eight(const std::uint8_t* codes) {
    std::uint64_t word = 0;
    for (int i = 0; i < 8; ++i) {
        word |= std::uint64_t{codes[i]} << (8 * i);
    }
    return word;
}

// Whether any of the eight codes in `word` needs an escape. A code of 15
// carries into its high half when 1 is added, a larger one has it already;
// the carry out of a code 255 can only make a false alarm, which the slow
// path settles.
bool may_escape(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighHalves = 0xF0F0F0F0F0F0F0F0;
    return ((word + kOnes) | word) & kHighHalves;
}

// Eight codes below 16 as eight nibbles, the first lowest.
std::uint64_t pack_eight(std::uint64_t word) {
    word = (word | (word >> 4)) & 0x00FF00FF00FF00FF;
    word = (word | (word >> 8)) & 0x0000FFFF0000FFFF;
    return (word | (word >> 16)) & 0xFFFFFFFF;
}

// Writes the delta codes of `block` to `out`; returns the stored size.
std::size_t write_delta(const CodedBlock& block, std::uint8_t* out) {
    const std::uint8_t* codes = block.codes.data();
    const std::size_t count = block.count;
    bool widen = must_widen(block);
    if (block.escapes == 0 && !widen) {
        // All plain: two codes to a byte.
        for (std::size_t i = 0; i < count / 2; ++i) {
            out[i] = static_cast<std::uint8_t>(codes[2 * i] | (codes[2 * i + 1] << 4));
        }
        return count / 2;
    }
    NibbleAccumulator nibbles(out);
    std::size_t i = 0;
    if (widen) {
        for (; i < count; ++i) {
            const bool plain = !needs_escape(codes[i]);
            nibbles.put_code(codes[i], true);
            if (plain) {
                ++i;
                break;
            }
        }
    }
    // Eight codes at a time where none needs an escape, one by one elsewhere.
    for (; i + 8 <= count; i += 8) {
        const std::uint64_t word = load_eight(codes + i);
        if (!may_escape(word)) {
            nibbles.put(pack_eight(word), 8);
            continue;
        }
        for (std::size_t j = i; j < i + 8; ++j) {
            nibbles.put_code(codes[j], needs_escape(codes[j]));
        }
    }
    for (; i < count; ++i) {
        nibbles.put_code(codes[i], needs_escape(codes[i]));
    }
    return static_cast<std::size_t>(nibbles.finish() - out);
}

// Encodes one block of `levels` (even length, at most 1024) into `out`,
// which has room for its largest form; counts it in `counts` and returns its
// stored size.
std::int16_t encode_block(std::span<const std::uint8_t> levels, std::uint8_t* out,
                          EncodedCounts& counts) {
    CodedBlock block;
    code_block(levels, block);
    std::size_t stored = 0;
    switch (kind_of(block)) {
    case BlockKind::silent:
        ++counts.silent_blocks;
        break;
    case BlockKind::raw:
        std::memcpy(out, levels.data(), kRawBlockBytes);
        stored = kRawBlockBytes;
        ++counts.raw_blocks;
        break;
    case BlockKind::delta:
        stored = write_delta(block, out);
        ++counts.delta_blocks;
        break;
    }
    return static_cast<std::int16_t>(stored);
}

} // namespace

std::uint8_t nearest_level(std::int16_t sample) {
    return level_of(sample);
}

void quantise(std::span<const std::int16_t> samples, std::span<std::uint8_t> levels) {
    const std::int16_t* in = samples.data();
    std::uint8_t* out = levels.data();
    const std::size_t count = samples.size();
    std::size_t i = 0;
    // Four at a time, to spend the loop's own instructions on four samples.
    for (; i + 4 <= count; i += 4) {
        out[i] = level_of(in[i]);
        out[i + 1] = level_of(in[i + 1]);
        out[i + 2] = level_of(in[i + 2]);
        out[i + 3] = level_of(in[i + 3]);
    }
    for (; i < count; ++i) {
        out[i] = level_of(in[i]);
    }
}

std::vector<std::uint8_t> quantise(std::span<const std::int16_t> samples) {
    std::vector<std::uint8_t> levels(samples.size());
    quantise(samples, levels);
    return levels;
}

std::size_t delta_block_size(std::span<const std::uint8_t> levels) {
    CodedBlock block;
    code_block(levels, block);
    return delta_size_of(block);
}

std::size_t encode_delta_block(std::span<const std::uint8_t> levels,
                               std::vector<std::uint8_t>& out) {
    CodedBlock block;
    code_block(levels, block);
    const std::size_t start = out.size();
    out.resize(start + delta_size_of(block));
    return write_delta(block, out.data() + start);
}

BlockKind choose_block_kind(std::span<const std::uint8_t> levels) {
    CodedBlock block;
    code_block(levels, block);
    return kind_of(block);
}

std::uint64_t blocks_for_samples(std::uint64_t sample_count) {
    const std::uint64_t stored = sample_count + sample_count % 2;
    return (stored + kSamplesPerBlock - 1) / kSamplesPerBlock;
}

std::uint64_t stored_bytes_bound(std::uint64_t sample_count) {
    return blocks_for_samples(sample_count) * kRawBlockBytes + 512;
}

EncodedCounts encode_levels_into(std::span<const std::uint8_t> levels,
                                 std::span<std::int16_t> block_sizes, std::span<std::uint8_t> out) {
    EncodedCounts counts;
    std::uint8_t* const first = out.data();
    std::uint8_t* end = first;
    std::size_t start = 0;
    while (levels.size() - start >= kSamplesPerBlock) {
        const std::int16_t stored =
            encode_block(levels.subspan(start, kSamplesPerBlock), end, counts);
        block_sizes[counts.blocks++] = stored;
        end += stored;
        start += kSamplesPerBlock;
    }
    if (start < levels.size()) {
        // The last, short block. An odd clip repeats its last level once, so
        // the spare nibble is a code 0 that decodes as exactly that sample.
        std::array<std::uint8_t, kSamplesPerBlock> last;
        const std::size_t count = levels.size() - start;
        std::copy(levels.begin() + static_cast<std::ptrdiff_t>(start), levels.end(), last.begin());
        const std::size_t even = count + count % 2;
        last[even - 1] = last[count - 1];
        const std::int16_t stored = encode_block(std::span(last.data(), even), end, counts);
        block_sizes[counts.blocks++] = stored;
        end += stored;
    }
    counts.bytes = static_cast<std::size_t>(end - first);
    return counts;
}

EncodedEntry encode_entry(std::span<const std::int16_t> samples) {
    const std::vector<std::uint8_t> levels = quantise(samples);
    return encode_levels(levels);
}

EncodedEntry encode_levels(std::span<const std::uint8_t> levels) {
    EncodedEntry entry;
    entry.padded = levels.size() % 2 == 1;
    entry.sample_count = levels.size() + (entry.padded ? 1 : 0);
    entry.block_sizes.resize(static_cast<std::size_t>(blocks_for_samples(levels.size())));
    entry.bytes.resize(static_cast<std::size_t>(stored_bytes_bound(levels.size())));
    const EncodedCounts counts = encode_levels_into(levels, entry.block_sizes, entry.bytes);
    entry.bytes.resize(counts.bytes);
    entry.silent_blocks = counts.silent_blocks;
    entry.raw_blocks = counts.raw_blocks;
    entry.delta_blocks = counts.delta_blocks;
    return entry;
}

} // namespace pev
