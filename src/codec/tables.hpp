#pragma once
// The codec's two lookup tables. They are compile-time constants: built
// before the program starts and read-only for its whole life.

#include <array>
#include <cstdint>

namespace pev {

// Expansion table: a stored byte b is an offset-binary level v = b - 128
// (128 is silence), expanded by a square law to -2v^2 below 128 and +2v^2
// from 128 up. The table is asymmetric: -32768 .. 32258.
constexpr std::array<std::int16_t, 256> make_expansion_table() {
    std::array<std::int16_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        const int v = b - 128;
        table[b] = static_cast<std::int16_t>(b < 128 ? -2 * v * v : 2 * v * v);
    }
    return table;
}

// Delta table: odd codes step up, even codes step down, alternating outward
// from 0 (0, +1, -1, +2, -2, ... +127, -127, +128). Steps are held modulo
// 256, so +128 is the same byte as -128.
constexpr std::array<std::uint8_t, 256> make_delta_table() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const int step = (c % 2 == 1) ? (c + 1) / 2 : -(c / 2);
        table[c] = static_cast<std::uint8_t>(step & 0xFF);
    }
    return table;
}

inline constexpr std::array<std::int16_t, 256> kExpansion = make_expansion_table();
inline constexpr std::array<std::uint8_t, 256> kDelta = make_delta_table();

// The level of silence: expansion[128] == 0.
inline constexpr std::uint8_t kSilenceLevel = 128;

static_assert(kExpansion[0] == -32768 && kExpansion[1] == -32258 && kExpansion[2] == -31752);
static_assert(kExpansion[127] == -2 && kExpansion[128] == 0 && kExpansion[129] == 2);
static_assert(kExpansion[130] == 8 && kExpansion[254] == 31752 && kExpansion[255] == 32258);
static_assert(kDelta[0] == 0 && kDelta[1] == 1 && kDelta[2] == 0xFF && kDelta[13] == 7);
static_assert(kDelta[14] == 0xF9 && kDelta[15] == 8 && kDelta[16] == 0xF8);
static_assert(kDelta[253] == 127 && kDelta[254] == 0x81 && kDelta[255] == 0x80);

} // namespace pev
