// The block decoder on WebAssembly's SIMD128, for the web page. Built with
// -msimd128; a browser without SIMD128 cannot load the module at all, which
// the page says (web/src/engine.js).

#include "codec/decoder_functions.hpp"

#if PEV_DECODER_SIMD128

#include "codec/vector/lanes128.hpp"
#include "codec/vector/vector_decoder.hpp"

#include <wasm_simd128.h>

namespace pev::codec {
namespace {

struct Simd128Ops {
    using V = v128_t;
    static constexpr bool kShuffles = true;

    static V load(const std::uint8_t* in) { return wasm_v128_load(in); }
    static void store(std::int16_t* out, V a) { wasm_v128_store(out, a); }
    static V splat(std::uint8_t b) { return wasm_u8x16_splat(b); }
    static V and_(V a, V b) { return wasm_v128_and(a, b); }
    static V and_not(V mask, V a) { return wasm_v128_andnot(a, mask); }
    static V or_(V a, V b) { return wasm_v128_or(a, b); }
    static V xor_(V a, V b) { return wasm_v128_xor(a, b); }
    static V add(V a, V b) { return wasm_i8x16_add(a, b); }
    static V sub(V a, V b) { return wasm_i8x16_sub(a, b); }
    static V avg(V a, V b) { return wasm_u8x16_avgr(a, b); }
    static V eq(V a, V b) { return wasm_i8x16_eq(a, b); }
    static V high_nibbles(V a) { return wasm_u8x16_shr(a, 4); }
    // Per 16-bit lane, which is the same for values below 16 and one
    // instruction where a byte shift is several.
    static V shl4(V a) { return wasm_i16x8_shl(a, 4); }
    static V zip_low(V a, V b) {
        return wasm_i8x16_shuffle(a, b, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    }
    static V zip_high(V a, V b) {
        return wasm_i8x16_shuffle(a, b, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15,
                                  31);
    }
    // Byte k of the result is byte k - shift of `a`, or 0 below: bytes
    // 16 - shift.. of a register of zeros followed by `a`. Consecutive
    // indices, so that the engine makes one alignr of it, not a shuffle.
    template <int shift> static V shift_up(V a) {
        const V zero = wasm_i8x16_splat(0);
        if constexpr (shift == 1) {
            return wasm_i8x16_shuffle(zero, a, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
                                      28, 29, 30);
        } else if constexpr (shift == 2) {
            return wasm_i8x16_shuffle(zero, a, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
                                      27, 28, 29);
        } else if constexpr (shift == 4) {
            return wasm_i8x16_shuffle(zero, a, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                                      25, 26, 27);
        } else {
            static_assert(shift == 8);
            return wasm_i8x16_shuffle(zero, a, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                      22, 23);
        }
    }
    template <int shift> static V after(V a, V b) {
        if constexpr (shift == 1) {
            return wasm_i8x16_shuffle(a, b, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
        } else {
            static_assert(shift == 2);
            return wasm_i8x16_shuffle(a, b, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17);
        }
    }
    static std::uint32_t bitmask(V a) { return wasm_i8x16_bitmask(a); }
    static V last_to_all(V a) {
        return wasm_i8x16_shuffle(a, a, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
                                  15);
    }
    static std::uint8_t first_byte(V a) { return wasm_u8x16_extract_lane(a, 0); }
    static V shuffle(V bytes, V indices) { return wasm_i8x16_swizzle(bytes, indices); }
    static V rows(std::uint64_t low, std::uint64_t high) {
        return wasm_i64x2_make(static_cast<std::int64_t>(low), static_cast<std::int64_t>(high));
    }
    static V nibble_steps(V nibble) {
        const V steps =
            wasm_u8x16_make(0, 1, 0xFF, 2, 0xFE, 3, 0xFD, 4, 0xFC, 5, 0xFB, 6, 0xFA, 7, 0xF9, 8);
        return wasm_i8x16_swizzle(steps, nibble);
    }
    static void store_square_law(std::int16_t* out, V v, bool high) {
        const V wide = high ? wasm_i16x8_extend_high_i8x16(v) : wasm_i16x8_extend_low_i8x16(v);
        wasm_v128_store(out, wasm_i16x8_shl(wasm_i16x8_mul(wide, wasm_i16x8_abs(wide)), 1));
    }
};

} // namespace

const DecoderFunctions kSimd128Decoder = VectorDecoder<Lanes128<Simd128Ops>>::functions();

} // namespace pev::codec

#endif
