#pragma once
// The vector decoder's Lanes (vector_decoder.hpp) for instruction sets of
// 128-bit registers, written once over `Ops`, a handful of byte operations
// each set provides: SSE2 (sse2_decoder.cpp), NEON (neon_decoder.cpp) and
// WebAssembly's SIMD128 (simd128_decoder.cpp). A window's 32 positions are
// two registers of 16.
//
// Ops provides, on its register type V of 16 bytes: load, store (16 bytes
// to samples), splat, bitwise
// and/or/xor, and_not(m, x) (x where m is 0), add/sub, avg (the average
// rounded up) and equality per byte, high_nibbles (each byte >> 4),
// shl4 (each byte << 4, for values below 16), zip_low/zip_high (interleave
// the bytes of two registers' low or high halves), shift_up<k> (bytes move
// up k places, 0s come in), after<k>(a, b) (bytes k.. of a, then b's),
// bitmask (bit k: byte k has its top bit), last_to_all (byte 15 everywhere),
// first_byte, nibble_steps (the delta table's steps of nibbles 0..14),
// store_square_law(out, v, high) (the samples of the offset levels in v's
// low or high eight bytes, 2·v·|v|), and, when kShuffles, shuffle(bytes,
// indices) (indices of 0x80 give 0) and rows(low, high) (a register of two
// 64-bit compaction rows). Without kShuffles, the scalar decoder takes a
// block over at its first stretch with an escape (vector_decoder.hpp).
//
// Internal linkage throughout (see vector_decoder.hpp).

#include "codec/vector/code_starts.hpp"

#include <cstddef>
#include <cstdint>

namespace pev::codec {
namespace {

template <class Ops> struct Lanes128 {
    using V = typename Ops::V;
    using Level = V; // the level, in every byte

    struct Window {
        V low;   // nibbles of positions 0..15
        V high;  // 16..31
        V after; // 32..47
    };

    static constexpr bool kShuffles = Ops::kShuffles;

    static Level level(std::uint8_t v) { return Ops::splat(v); }
    static std::uint8_t level_value(Level level) { return Ops::first_byte(level); }

    static Window load(const std::uint8_t* in) {
        const V low4 = Ops::splat(0x0F);
        const V first = Ops::load(in);
        const V second = Ops::load(in + 8);
        const V first_low = Ops::and_(first, low4);
        const V first_high = Ops::high_nibbles(first);
        const V second_low = Ops::and_(second, low4);
        const V second_high = Ops::high_nibbles(second);
        return {Ops::zip_low(first_low, first_high), Ops::zip_high(first_low, first_high),
                Ops::zip_high(second_low, second_high)};
    }

    static std::uint32_t escape_nibbles(const Window& window) {
        const V fifteen = Ops::splat(0x0F);
        return Ops::bitmask(Ops::eq(window.low, fifteen)) |
               (Ops::bitmask(Ops::eq(window.high, fifteen)) << 16);
    }

    // 32 positions of 16 bytes: a byte's low nibble is 15 when the byte
    // with its high bits set is 0xFF, its high nibble likewise.
    static std::uint32_t escape_positions16(const std::uint8_t* in) {
        const V bytes = Ops::load(in);
        const V ones = Ops::splat(0xFF);
        const V low = Ops::eq(Ops::or_(bytes, Ops::splat(0xF0)), ones);
        const V high = Ops::eq(Ops::or_(bytes, Ops::splat(0x0F)), ones);
        return Ops::bitmask(Ops::zip_low(low, high)) |
               (Ops::bitmask(Ops::zip_high(low, high)) << 16);
    }

    static std::uint64_t escape_positions(const std::uint8_t* in) {
        return escape_positions16(in) | (std::uint64_t{escape_positions16(in + 16)} << 32);
    }

    // Running sums of the 16 bytes from `level` on; `level` becomes the last.
    PEV_INLINE_STRETCH static V running_levels(V steps, Level& level) {
        steps = Ops::add(steps, Ops::template shift_up<1>(steps));
        steps = Ops::add(steps, Ops::template shift_up<2>(steps));
        steps = Ops::add(steps, Ops::template shift_up<4>(steps));
        steps = Ops::add(steps, Ops::template shift_up<8>(steps));
        steps = Ops::add(steps, level);
        level = Ops::last_to_all(steps);
        return steps;
    }

    PEV_INLINE_STRETCH static void plain(const Window& window, Level& level, std::int16_t* out) {
        const V first = running_levels(Ops::nibble_steps(window.low), level);
        Ops::store_square_law(out, first, false);
        Ops::store_square_law(out + 8, first, true);
        const V second = running_levels(Ops::nibble_steps(window.high), level);
        Ops::store_square_law(out + 16, second, false);
        Ops::store_square_law(out + 24, second, true);
    }

    // The step of code c: (c + 1) / 2 up for odd c, c / 2 down for even c.
    static V step_of(V code) {
        const V zero = Ops::splat(0);
        const V size = Ops::avg(code, zero); // (c + 1) >> 1
        const V down = Ops::eq(Ops::and_(code, Ops::splat(1)), zero);
        return Ops::sub(Ops::xor_(size, down), down);
    }

    // The codes beginning at `starts` (16 bits) among the positions in
    // `nibbles`, the next 16 following.
    PEV_INLINE_STRETCH static std::size_t half_codes(V nibbles, V next, std::uint32_t starts,
                                                     Level& level, std::int16_t* out) {
        const V escape = Ops::eq(nibbles, Ops::splat(0x0F));
        const V escape_code = Ops::or_(Ops::template after<1>(nibbles, next),
                                       Ops::shl4(Ops::template after<2>(nibbles, next)));
        const V code = Ops::or_(Ops::and_(escape, escape_code), Ops::and_not(escape, nibbles));
        const V order =
            Ops::rows(kCompaction.rows[starts & 0xFFu], kCompaction.rows[256 + (starts >> 8)]);
        const V levels = running_levels(Ops::shuffle(step_of(code), order), level);
        const unsigned first = count_bits(starts & 0xFFu);
        Ops::store_square_law(out, levels, false);
        Ops::store_square_law(out + first, levels, true);
        return first + count_bits(starts >> 8);
    }

    // Only for Ops with byte shuffles; vector_decoder.hpp hands the others'
    // blocks to the scalar decoder where escapes begin.
    PEV_INLINE_STRETCH static std::size_t codes(const Window& window, const std::uint8_t*,
                                                std::uint32_t starts, Level& level,
                                                std::int16_t* out) {
        const std::size_t first = half_codes(window.low, window.high, starts & 0xFFFFu, level, out);
        return first + half_codes(window.high, window.after, starts >> 16, level, out + first);
    }

    static void silence32(std::int16_t* out) {
        const V zero = Ops::splat(0);
        for (int i = 0; i < 4; ++i) {
            Ops::store(out + 8 * i, zero);
        }
    }

    static void raw32(const std::uint8_t* in, std::int16_t* out) {
        const V offset = Ops::splat(0x80);
        const V first = Ops::xor_(Ops::load(in), offset);
        const V second = Ops::xor_(Ops::load(in + 16), offset);
        Ops::store_square_law(out, first, false);
        Ops::store_square_law(out + 8, first, true);
        Ops::store_square_law(out + 16, second, false);
        Ops::store_square_law(out + 24, second, true);
    }
};

} // namespace
} // namespace pev::codec
