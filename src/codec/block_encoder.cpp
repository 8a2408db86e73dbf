#include "codec/block_encoder.hpp"

#include "codec/block_decoder.hpp"
#include "codec/tables.hpp"

#include <algorithm>
#include <array>
#include <bit>
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
    const int half = sum >> 1; // floor(sum / 2): the midpoint, or just below it
    // On the midpoint itself `hi` is the nearer silence when both levels are
    // at or below it.
    const bool midpoint_goes_up = sum % 2 == 0 && hi <= kSilenceLevel;
    return midpoint_goes_up ? half : half + 1;
}

// The level of every 16-bit sample, indexed by the sample's bit pattern (so
// that a lookup needs no arithmetic). 64 KiB, built at compile time: one
// load per sample instead of a binary search.
constexpr std::array<std::uint8_t, 65536> make_level_of_sample() {
    std::array<std::uint8_t, 65536> table{};
    int sample = -32768;
    for (int level = 0; level < 256; ++level) {
        const int end = level == 255 ? 32768 : first_sample_of_level(level + 1);
        for (; sample < end; ++sample) {
            table[static_cast<std::uint16_t>(sample)] = static_cast<std::uint8_t>(level);
        }
    }
    return table;
}
constexpr std::array<std::uint8_t, 65536> kLevelOfSample = make_level_of_sample();

constexpr std::uint8_t level_of(std::int16_t sample) {
    return kLevelOfSample[static_cast<std::uint16_t>(sample)];
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

// Codes `levels` (at most 1024) into `block`, in one pass the compiler turns
// into vector instructions: no table, no branch. Escapes are counted in
// byte-wide lanes, a run of at most 255 codes at a time.
void code_block(std::span<const std::uint8_t> levels, CodedBlock& block) {
    constexpr std::size_t kRun = 240; // a multiple of 16, below 256
    const std::size_t count = levels.size();
    const std::uint8_t* level = levels.data();
    std::uint8_t* codes = block.codes.data();
    // The first code steps from level 0; `count` is never 0.
    codes[0] = code_between(0, level[0]);
    std::size_t escapes = needs_escape(codes[0]) ? 1 : 0;
    auto not_silent = static_cast<std::uint8_t>(level[0] ^ kSilenceLevel);
    for (std::size_t start = 1; start < count; start += kRun) {
        const std::size_t end = std::min(count, start + kRun);
        std::uint8_t run_escapes = 0;
        for (std::size_t i = start; i < end; ++i) {
            const std::uint8_t code = code_between(level[i - 1], level[i]);
            codes[i] = code;
            run_escapes = static_cast<std::uint8_t>(run_escapes + (needs_escape(code) ? 1 : 0));
            not_silent = static_cast<std::uint8_t>(not_silent | (level[i] ^ kSilenceLevel));
        }
        escapes += run_escapes;
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

// Every code takes an odd number of nibbles, so code i starts on a byte
// boundary exactly when i is even: each pair of codes fills 1, 2 or 3 whole
// bytes of its own, whatever came before. A table of all 65,536 pairs gives
// those bytes (low 24 bits, first byte lowest) and their number (top 8
// bits), and a block is written a pair at a time.
//
// A pair is looked up by its two bytes as they lie in memory, read as one
// 16-bit word in the host's order; the table is built with the same key, so
// it is right on any host.
static_assert(std::endian::native == std::endian::little ||
              std::endian::native == std::endian::big);

constexpr std::uint16_t pair_key(std::uint8_t first, std::uint8_t second) {
    return std::endian::native == std::endian::little
               ? static_cast<std::uint16_t>(first | second << 8)
               : static_cast<std::uint16_t>(first << 8 | second);
}

std::uint16_t pair_key_at(const std::uint8_t* codes) {
    std::uint16_t key = 0;
    std::memcpy(&key, codes, sizeof key);
    return key;
}

// The nibbles of one code, the first lowest: the code itself, or for an
// escape the escape nibble and then the code's low and high halves.
constexpr std::uint32_t nibbles_of_code(std::uint8_t code, bool escape) {
    return escape ? kEscapeNibble | std::uint32_t{code} << 4 : code;
}

// `widths` in bits: 4, or 12 for an escape.
constexpr std::uint32_t pair_entry(std::uint32_t first_nibbles, unsigned first_width,
                                   std::uint32_t second_nibbles, unsigned second_width) {
    return first_nibbles | second_nibbles << first_width | (first_width + second_width) / 8 << 24;
}

struct PairTable {
    std::uint32_t entries[65536];

    constexpr std::uint32_t operator[](std::uint16_t key) const { return entries[key]; }
};

constexpr PairTable make_pair_table() {
    std::uint32_t nibbles[256] = {};
    unsigned widths[256] = {};
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<std::uint8_t>(code);
        nibbles[c] = nibbles_of_code(c, needs_escape(c));
        widths[c] = needs_escape(c) ? 12 : 4;
    }
    // Plain arrays and one statement per entry: compilers bound the steps of
    // a constant evaluation, and 65,536 entries come close.
    PairTable table{};
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            table.entries[pair_key(static_cast<std::uint8_t>(first),
                                   static_cast<std::uint8_t>(second))] =
                nibbles[first] | nibbles[second] << widths[first] |
                (widths[first] + widths[second]) / 8 << 24;
        }
    }
    return table;
}
constexpr PairTable kPairBytes = make_pair_table();

static_assert(kPairBytes[pair_key(1, 2)] == (0x21 | 1u << 24));           // two plain codes
static_assert(kPairBytes[pair_key(0xFF, 0)] == (0x0FFF | 2u << 24));      // escape, then code 0
static_assert(kPairBytes[pair_key(3, 0x10)] == (0x10F3 | 2u << 24));      // code 3, then escape
static_assert(kPairBytes[pair_key(0x20, 0x10)] == (0x10F20F | 3u << 24)); // two escapes

// Stores one pair's bytes at `out` as four bytes, which it has room for
// (those past the pair's own are garbage for the next pair to overwrite);
// returns the end of its bytes.
std::uint8_t* put_pair(std::uint32_t entry, std::uint8_t* out) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(entry >> (8 * i));
    }
    return out + (entry >> 24);
}

// Writing a delta block takes up to three bytes of room beyond its end: its
// last pair may be one byte long and is stored as four.
constexpr std::size_t kDeltaWriteSlack = 3;

// Writes the delta codes of `block` to `out`, which has room for its size
// plus kDeltaWriteSlack; returns the stored size.
std::size_t write_delta(const CodedBlock& block, std::uint8_t* out) {
    const std::uint8_t* codes = block.codes.data();
    const std::size_t count = block.count;
    if (block.escapes == 0) {
        // All plain (so no widening either: that needs 2048 nibbles): two
        // codes to a byte.
        for (std::size_t i = 0; i < count / 2; ++i) {
            out[i] = static_cast<std::uint8_t>(codes[2 * i] | (codes[2 * i + 1] << 4));
        }
        return count / 2;
    }
    std::uint8_t* end = out;
    std::size_t i = 0;
    if (must_widen(block)) {
        // The first plain code goes as an escape; every pair before its own
        // is all escapes, so the table has them.
        std::size_t plain = 0;
        while (needs_escape(codes[plain])) {
            ++plain;
        }
        for (; i + 2 <= plain; i += 2) {
            end = put_pair(kPairBytes[pair_key_at(codes + i)], end);
        }
        const bool second_escapes = plain == i + 1 || needs_escape(codes[i + 1]);
        end = put_pair(pair_entry(nibbles_of_code(codes[i], true), 12,
                                  nibbles_of_code(codes[i + 1], second_escapes),
                                  second_escapes ? 12 : 4),
                       end);
        i += 2;
    }
    for (const std::uint8_t* pair = codes + i; pair < codes + count; pair += 2) {
        end = put_pair(kPairBytes[pair_key_at(pair)], end);
    }
    return static_cast<std::size_t>(end - out);
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
    const std::int16_t* const end = in + samples.size();
    // Eight at a time, to spend the loop's own instructions on eight samples.
    for (; end - in >= 8; in += 8, out += 8) {
        for (int j = 0; j < 8; ++j) {
            out[j] = level_of(in[j]);
        }
    }
    for (; in < end; ++in, ++out) {
        *out = level_of(*in);
    }
}

void quantise_le(std::span<const std::uint8_t> sample_bytes, std::span<std::uint8_t> levels) {
    const std::uint8_t* in = sample_bytes.data();
    std::uint8_t* out = levels.data();
    const std::uint8_t* const end = in + (sample_bytes.size() & ~std::size_t{1});
    // The bit pattern indexes the table directly, whatever the host's order.
    const auto level_at = [](const std::uint8_t* pair) {
        return kLevelOfSample[static_cast<std::uint16_t>(pair[0] | (pair[1] << 8))];
    };
    for (; end - in >= 16; in += 16, out += 8) {
        for (int j = 0; j < 8; ++j) {
            out[j] = level_at(in + 2 * j);
        }
    }
    for (; in < end; in += 2, ++out) {
        *out = level_at(in);
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
    out.resize(start + delta_size_of(block) + kDeltaWriteSlack);
    const std::size_t stored = write_delta(block, out.data() + start);
    out.resize(start + stored);
    return stored;
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
