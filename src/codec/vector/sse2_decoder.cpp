// The block decoder on SSE2, which every x86-64 processor has. SSE2 has no
// byte shuffle, so steps and square law are arithmetic, and from a delta
// block's first stretch with an escape on the scalar decoder takes the block
// over (vector_decoder.hpp); processors with AVX2 use avx2_decoder.cpp
// instead.

#include "codec/decoder_functions.hpp"

#if PEV_DECODER_X86

#include "codec/vector/lanes128.hpp"
#include "codec/vector/vector_decoder.hpp"

#include <emmintrin.h>

namespace pev::codec {
namespace {

struct Sse2Ops {
    using V = __m128i;
    static constexpr bool kShuffles = false;

    static V load(const std::uint8_t* in) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    }
    static void store(std::int16_t* out, V a) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a);
    }
    static V splat(std::uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
    static V and_(V a, V b) { return _mm_and_si128(a, b); }
    static V and_not(V mask, V a) { return _mm_andnot_si128(mask, a); }
    static V or_(V a, V b) { return _mm_or_si128(a, b); }
    static V xor_(V a, V b) { return _mm_xor_si128(a, b); }
    static V add(V a, V b) { return _mm_add_epi8(a, b); }
    static V sub(V a, V b) { return _mm_sub_epi8(a, b); }
    static V avg(V a, V b) { return _mm_avg_epu8(a, b); }
    static V eq(V a, V b) { return _mm_cmpeq_epi8(a, b); }
    static V high_nibbles(V a) { return _mm_and_si128(_mm_srli_epi16(a, 4), splat(0x0F)); }
    static V shl4(V a) { return _mm_slli_epi16(a, 4); }
    static V zip_low(V a, V b) { return _mm_unpacklo_epi8(a, b); }
    static V zip_high(V a, V b) { return _mm_unpackhi_epi8(a, b); }
    template <int k> static V shift_up(V a) { return _mm_slli_si128(a, k); }
    template <int k> static V after(V a, V b) {
        return _mm_or_si128(_mm_srli_si128(a, k), _mm_slli_si128(b, 16 - k));
    }
    static std::uint32_t bitmask(V a) { return static_cast<std::uint32_t>(_mm_movemask_epi8(a)); }
    static V last_to_all(V a) {
        const V high = _mm_unpackhi_epi8(a, a);                         // bytes 8..15, twice
        return _mm_shuffle_epi32(_mm_unpackhi_epi16(high, high), 0xFF); // 15, sixteen times
    }
    static std::uint8_t first_byte(V a) {
        return static_cast<std::uint8_t>(_mm_cvtsi128_si32(a) & 0xFF);
    }

    // The step of nibble c (0..14): (c + 1) / 2 up when c is odd, c / 2 down
    // when it is even.
    static V nibble_steps(V nibble) {
        const V zero = _mm_setzero_si128();
        const V size = _mm_avg_epu8(nibble, zero);
        const V down = _mm_cmpeq_epi8(_mm_and_si128(nibble, splat(1)), zero);
        return _mm_sub_epi8(_mm_xor_si128(size, down), down);
    }

    // 2·v·|v| with v in the high byte of each 16-bit lane (v·256): the high
    // half of its square is v², doubled, then negated where v < 0 (for
    // v = -128 the doubled square wraps to -32768, which negating keeps).
    static void store_square_law(std::int16_t* out, V v, bool high) {
        const V zero = _mm_setzero_si128();
        const V wide = high ? _mm_unpackhi_epi8(zero, v) : _mm_unpacklo_epi8(zero, v);
        const V square = _mm_mulhi_epi16(wide, wide);
        const V twice = _mm_add_epi16(square, square);
        const V negative = _mm_srai_epi16(wide, 15);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_sub_epi16(_mm_xor_si128(twice, negative), negative));
    }
};

} // namespace

const DecoderFunctions kSse2Decoder = VectorDecoder<Lanes128<Sse2Ops>>::functions();

} // namespace pev::codec

#endif
