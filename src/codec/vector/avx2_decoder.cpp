// The block decoder on AVX2 (x86-64 processors since about 2013), used when
// the processor has it and the bit instructions that came with it (POPCNT,
// BMI1, BMI2; decoder_paths.cpp asks). Built with -mavx2 -mpopcnt -mbmi -mbmi2;
// nothing here may run before that question is answered.
//
// A window's 32 positions fill one 256-bit register: its first 16 stored
// bytes in the low 128-bit lane and bytes 8..23 in the high one, so that
// after splitting the nibbles each lane holds 16 positions and, in a second
// register, the 16 after them, which per-lane instructions (byte shifts,
// shuffles, alignr) need.

#include "codec/decoder_functions.hpp"

#if PEV_DECODER_X86

#include "codec/vector/vector_decoder.hpp"

#include <immintrin.h>

namespace pev::codec {
namespace {

// Constants, loaded from memory as values the compiler cannot see into:
// it would otherwise build each again from an immediate, three instructions,
// at every use inside the loops.
struct alignas(32) Bytes32 {
    std::int8_t bytes[32];

    __m256i get() const {
        __m256i value = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
        __asm__("" : "+x"(value));
        return value;
    }
};

constexpr Bytes32 splat(std::int8_t b) {
    Bytes32 all{};
    for (std::int8_t& each : all.bytes) {
        each = b;
    }
    return all;
}

constexpr Bytes32 kLow4 = splat(0x0F);
constexpr Bytes32 kFifteen = splat(0x0F);
constexpr Bytes32 kOnes = splat(1);
constexpr Bytes32 kAllSet = splat(-1);
constexpr Bytes32 kHighSet = splat(-16);
constexpr Bytes32 kOffset = splat(-128);
// What each plain nibble takes off the level: the delta table's steps,
// negated.
constexpr Bytes32 kNibbleFalls = {{0, -1, 1, -2, 2, -3, 3, -4, 4, -5, 5, -6, 6, -7, 7, -8, //
                                   0, -1, 1, -2, 2, -3, 3, -4, 4, -5, 5, -6, 6, -7, 7, -8}};

struct Avx2Lanes {
    using Level = __m256i; // the level, in every byte
    static constexpr bool kShuffles = true;

    struct Window {
        __m256i positions; // nibbles of positions 0..31
        __m256i next;      // positions 16..31 | 32..47
        __m256i escapes;   // 0xFF where a position holds 15
    };

    static Level level(std::uint8_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    static std::uint8_t level_value(Level level) {
        return static_cast<std::uint8_t>(_mm256_extract_epi8(level, 0));
    }

    static __m256i load_halves(const std::uint8_t* low, const std::uint8_t* high) {
        return _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
    }

    static Window load(const std::uint8_t* in) {
        const __m256i bytes = load_halves(in, in + 8);
        const __m256i low4 = kLow4.get();
        const __m256i low = _mm256_and_si256(bytes, low4);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), low4);
        const __m256i positions = _mm256_unpacklo_epi8(low, high);
        return {positions, _mm256_unpackhi_epi8(low, high),
                _mm256_cmpeq_epi8(positions, kFifteen.get())};
    }

    static std::uint32_t escape_nibbles(const Window& window) {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(window.escapes));
    }

    // 64 positions from 32 bytes: a byte's low nibble is 15 when the byte
    // with its high bits set is 0xFF, its high nibble likewise.
    static std::uint64_t escape_positions(const std::uint8_t* in) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m256i ones = kAllSet.get();
        const __m256i low = _mm256_cmpeq_epi8(_mm256_or_si256(bytes, kHighSet.get()), ones);
        const __m256i high = _mm256_cmpeq_epi8(_mm256_or_si256(bytes, kLow4.get()), ones);
        const __m256i a = _mm256_unpacklo_epi8(low, high); // positions 0..15 | 32..47
        const __m256i b = _mm256_unpackhi_epi8(low, high); // 16..31 | 48..63
        const auto first =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_permute2x128_si256(a, b, 0x20)));
        const auto second =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_permute2x128_si256(a, b, 0x31)));
        return first | (std::uint64_t{second} << 32);
    }

    // The levels after each of 32 falls (steps down), from `level` on:
    // `level` less their running sums. `level` becomes the last.
    static __m256i levels_after(__m256i falls, Level& level) {
        falls = _mm256_add_epi8(falls, _mm256_slli_si256(falls, 1));
        falls = _mm256_add_epi8(falls, _mm256_slli_si256(falls, 2));
        falls = _mm256_add_epi8(falls, _mm256_slli_si256(falls, 4));
        falls = _mm256_add_epi8(falls, _mm256_slli_si256(falls, 8));
        const __m256i last_of_lane = kFifteen.get();
        const __m256i lane_totals = _mm256_shuffle_epi8(falls, last_of_lane);
        falls = _mm256_add_epi8(falls, _mm256_permute2x128_si256(lane_totals, lane_totals, 0x08));
        const __m256i levels = _mm256_sub_epi8(level, falls);
        level = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(levels, last_of_lane), 0xFF);
        return levels;
    }

    // The square law on offset levels (signed bytes v): 2·v·|v| is |v|·v +
    // |v|·v, one multiply-add of unsigned by signed bytes, exact even for
    // v = -128 (|v| = 128 as an unsigned byte). Bytes 0..7 of `v` go to
    // out[0..7], 8..15 from out + second, 16..23 from out + third, 24..31
    // from out + fourth.
    static void store_samples(__m256i v, std::int16_t* out, std::size_t second, std::size_t third,
                              std::size_t fourth) {
        const __m256i size = _mm256_abs_epi8(v);
        const __m256i firsts =
            _mm256_maddubs_epi16(_mm256_unpacklo_epi8(size, size), _mm256_unpacklo_epi8(v, v));
        const __m256i seconds =
            _mm256_maddubs_epi16(_mm256_unpackhi_epi8(size, size), _mm256_unpackhi_epi8(v, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(firsts));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + second), _mm256_castsi256_si128(seconds));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + third),
                         _mm256_extracti128_si256(firsts, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + fourth),
                         _mm256_extracti128_si256(seconds, 1));
    }

    static void plain(const Window& window, Level& level, std::int16_t* out) {
        const __m256i falls = _mm256_shuffle_epi8(kNibbleFalls.get(), window.positions);
        store_samples(levels_after(falls, level), out, 8, 16, 24);
    }

    // What code c takes off the level: (c + 1) / 2 for odd c, -(c / 2) for
    // even c, the rounded-up half either way with the sign of c's low bit:
    // shifted up to bit 7 of its byte (the bits shifted in from below do not
    // matter, and the 1 keeps the byte from being 0), it is the sign that
    // vpsignb gives the half.
    static __m256i fall_of(__m256i code) {
        const __m256i half = _mm256_avg_epu8(code, _mm256_setzero_si256()); // (c + 1) >> 1
        return _mm256_sign_epi8(half, _mm256_or_si256(_mm256_slli_epi16(code, 7), kOnes.get()));
    }

    static std::size_t codes(const Window& window, const std::uint8_t*, std::uint32_t starts,
                             Level& level, std::int16_t* out) {
        const __m256i nibble = window.positions;
        const __m256i after = _mm256_alignr_epi8(window.next, nibble, 1);
        const __m256i after_next = _mm256_alignr_epi8(window.next, nibble, 2);
        const __m256i code = _mm256_blendv_epi8(
            nibble, _mm256_or_si256(after, _mm256_slli_epi16(after_next, 4)), window.escapes);
        // One compaction row per eight positions: the even ones index the
        // low half of a lane, the odd ones the high half.
        const __m128i rows =
            _mm_add_epi32(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(starts))),
                          _mm_setr_epi32(0, 256, 0, 256));
        const __m256i order =
            _mm256_i32gather_epi64(reinterpret_cast<const long long*>(kCompaction.rows), rows, 8);
        const __m256i levels = levels_after(_mm256_shuffle_epi8(fall_of(code), order), level);
        store_samples(levels, out, count_bits(starts & 0xFFu), count_bits(starts & 0xFFFFu),
                      count_bits(starts & 0xFFFFFFu));
        return count_bits(starts);
    }

    static void silence32(std::int16_t* out) {
        const __m256i zero = _mm256_setzero_si256();
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), zero);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), zero);
    }

    static void raw32(const std::uint8_t* in, std::int16_t* out) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        store_samples(_mm256_xor_si256(bytes, kOffset.get()), out, 8, 16, 24);
    }
};

} // namespace

const DecoderFunctions kAvx2Decoder = VectorDecoder<Avx2Lanes>::functions();

} // namespace pev::codec

#endif
