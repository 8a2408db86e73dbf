// The block decoder on NEON, which every 64-bit ARM processor has.

#include "codec/decoder_functions.hpp"

#if PEV_DECODER_NEON

#include "codec/vector/lanes128.hpp"
#include "codec/vector/vector_decoder.hpp"

#include <arm_neon.h>

namespace pev::codec {
namespace {

struct NeonOps {
    using V = uint8x16_t;
    static constexpr bool kShuffles = true;

    static V load(const std::uint8_t* in) { return vld1q_u8(in); }
    static void store(std::int16_t* out, V a) { vst1q_s16(out, vreinterpretq_s16_u8(a)); }
    static V splat(std::uint8_t b) { return vdupq_n_u8(b); }
    static V and_(V a, V b) { return vandq_u8(a, b); }
    static V and_not(V mask, V a) { return vbicq_u8(a, mask); }
    static V or_(V a, V b) { return vorrq_u8(a, b); }
    static V xor_(V a, V b) { return veorq_u8(a, b); }
    static V add(V a, V b) { return vaddq_u8(a, b); }
    static V sub(V a, V b) { return vsubq_u8(a, b); }
    static V avg(V a, V b) { return vrhaddq_u8(a, b); }
    static V eq(V a, V b) { return vceqq_u8(a, b); }
    static V high_nibbles(V a) { return vshrq_n_u8(a, 4); }
    static V shl4(V a) { return vshlq_n_u8(a, 4); }
    static V zip_low(V a, V b) { return vzip1q_u8(a, b); }
    static V zip_high(V a, V b) { return vzip2q_u8(a, b); }
    template <int k> static V shift_up(V a) { return vextq_u8(vdupq_n_u8(0), a, 16 - k); }
    template <int k> static V after(V a, V b) { return vextq_u8(a, b, k); }
    // No move-mask instruction: each byte's top bit weighted by its place in
    // its half, and each half summed.
    static std::uint32_t bitmask(V a) {
        const uint8x16_t weights = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        const uint8x16_t bits = vandq_u8(vcltq_s8(vreinterpretq_s8_u8(a), vdupq_n_s8(0)), weights);
        return vaddv_u8(vget_low_u8(bits)) |
               (static_cast<std::uint32_t>(vaddv_u8(vget_high_u8(bits))) << 8);
    }
    static V last_to_all(V a) { return vdupq_laneq_u8(a, 15); }
    static std::uint8_t first_byte(V a) { return vgetq_lane_u8(a, 0); }
    static V shuffle(V bytes, V indices) { return vqtbl1q_u8(bytes, indices); }
    static V rows(std::uint64_t low, std::uint64_t high) {
        return vcombine_u8(vcreate_u8(low), vcreate_u8(high));
    }
    static V nibble_steps(V nibble) {
        const uint8x16_t steps = {0,    1, 0xFF, 2, 0xFE, 3, 0xFD, 4,
                                  0xFC, 5, 0xFB, 6, 0xFA, 7, 0xF9, 8};
        return vqtbl1q_u8(steps, nibble);
    }
    static void store_square_law(std::int16_t* out, V v, bool high) {
        const int8x8_t half = vreinterpret_s8_u8(high ? vget_high_u8(v) : vget_low_u8(v));
        const int16x8_t wide = vmovl_s8(half);
        vst1q_s16(out, vshlq_n_s16(vmulq_s16(wide, vabsq_s16(wide)), 1));
    }
};

} // namespace

const DecoderFunctions kNeonDecoder = VectorDecoder<Lanes128<NeonOps>>::functions();

} // namespace pev::codec

#endif
