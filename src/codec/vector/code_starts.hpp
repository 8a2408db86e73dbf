#pragma once
// Where the codes of a delta block begin, a window of nibble positions at a
// time, from where its escape nibbles are; the tables that move the steps of
// those codes together; and one code's step and one level's sample, for the
// few samples decoded one at a time. Scalar arithmetic, shared by every
// vector decoder.
//
// Internal linkage throughout (see vector_decoder.hpp): each decoder's
// translation unit keeps its own copy, built for its own instruction set.

#include <cstddef>
#include <cstdint>

// For the few functions of a stretch that take the level by reference:
// inlined, the level stays in a register; called, it would go through
// memory (in WebAssembly, the module's own memory) at every window.
#define PEV_INLINE_STRETCH [[gnu::always_inline]] inline

namespace pev::codec {
namespace {

struct CodeStarts {
    std::uint64_t starts = 0;  // bit k: a code begins at position k
    std::uint64_t carried = 0; // positions 0 and 1 of the next window that the last escape takes
};

// The positions of a window of `width` nibbles where codes begin, from the
// positions holding the nibble 15 (`escape_nibbles`). A code begins where the
// one before it ends; an escape takes its own position and the two after it,
// so a 15 among those is part of its code, not an escape of its own.
// `carried` are the positions at the window's start that an escape begun in
// the window before takes; only the first `left` positions belong to the
// block.
template <unsigned width>
inline CodeStarts find_code_starts(std::uint64_t escape_nibbles, std::uint64_t carried,
                                   std::size_t left) {
    static_assert(width == 32 || width == 64);
    const std::uint64_t all = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    const std::uint64_t in_block = left >= width ? all : (std::uint64_t{1} << left) - 1;
    const std::uint64_t escapes = escape_nibbles & in_block & ~carried;
    // The escapes that begin a code are those no escape that begins a code
    // takes. That rule, applied to a guess, settles at least one more
    // position from the low end, and only the answer stays as it is, so the
    // rounds from "all of them" end there: after two for a window whose
    // escapes lie three or more positions apart.
    std::uint64_t guess = escapes;
    for (;;) {
        const std::uint64_t better = escapes & ~((guess << 1) | (guess << 2));
        if (better == guess) {
            break;
        }
        guess = better;
    }
    const std::uint64_t taken = carried | (guess << 1) | (guess << 2);
    // An escape in the last position takes the next window's first two, one
    // in the last but one its first.
    return {~taken & in_block, ((guess >> (width - 2)) | (guess >> (width - 1))) & 3};
}

// The delta table's step of `code` (0..255), modulo 256: (code + 1) / 2 up
// for odd codes, code / 2 down for even ones.
constexpr std::uint8_t step_of_code(unsigned code) {
    return static_cast<std::uint8_t>(code % 2 == 1 ? (code + 1) / 2 : 256 - code / 2);
}

// The expansion table's sample of `level`: with v = level - 128, 2·v·|v|.
constexpr std::int16_t square_law(std::uint8_t level) {
    const int v = level - 128;
    return static_cast<std::int16_t>(2 * v * (v < 0 ? -v : v));
}
static_assert(square_law(0) == -32768 && square_law(127) == -2 && square_law(128) == 0);
static_assert(square_law(255) == 32258 && step_of_code(0) == 0 && step_of_code(255) == 0x80);
static_assert(step_of_code(2) == 0xFF && step_of_code(13) == 7 && step_of_code(254) == 0x81);

inline unsigned count_bits(std::uint64_t bits) {
    return static_cast<unsigned>(__builtin_popcountll(bits));
}

// For every byte of code starts, the positions of its set bits in order,
// then 0x80, where a byte shuffle gives 0: eight shuffle indices that move
// eight positions' steps of codes together, ahead of zeros. Rows 256..511
// are the same for the second eight positions of sixteen (indices + 8).
struct CompactionRows {
    std::uint64_t rows[512];
};

constexpr CompactionRows make_compaction_rows() {
    CompactionRows table{};
    for (unsigned half = 0; half < 2; ++half) {
        for (unsigned bits = 0; bits < 256; ++bits) {
            std::uint64_t row = 0;
            unsigned filled = 0;
            for (unsigned k = 0; k < 8; ++k) {
                if ((bits >> k) & 1) {
                    row |= std::uint64_t{k + 8 * half} << (8 * filled++);
                }
            }
            for (; filled < 8; ++filled) {
                row |= std::uint64_t{0x80} << (8 * filled);
            }
            table.rows[256 * half + bits] = row;
        }
    }
    return table;
}

constexpr CompactionRows kCompaction = make_compaction_rows();
static_assert(kCompaction.rows[0] == 0x8080808080808080ULL);
static_assert(kCompaction.rows[0b1010'0101] == 0x8080808007050200ULL);
static_assert(kCompaction.rows[256 + 0xFF] == 0x0F0E0D0C0B0A0908ULL);

} // namespace
} // namespace pev::codec
