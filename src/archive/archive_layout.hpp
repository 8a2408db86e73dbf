#pragma once
// The layout of a voice archive, written down once.
//
//   offset 0   header, 32 bytes: magic "PEVPAC" (6 bytes), 10 unread bytes,
//              wave file count (signed 32-bit at 16), 4 unread bytes,
//              nSamplesPerSec (32-bit at 24; 0 stands for 22050), 4 unread.
//   offset 32  entry table: count rows of 8 bytes, in clip order:
//              entry id (u16), block count (u16), data offset (u32).
//   per entry, at its data offset: block count signed 16-bit stored sizes,
//              then the compressed bytes of all its blocks, back to back.
//
// All fields are little-endian. The bytes of an entry run up to the next
// row's data offset (the file's end for the last row).

#include <array>
#include <cstddef>
#include <cstdint>

namespace pev::archive {

inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::array<std::uint8_t, 6> kMagic = {'P', 'E', 'V', 'P', 'A', 'C'};
inline constexpr std::size_t kCountOffset = 16;
inline constexpr std::size_t kRateOffset = 24;

inline constexpr std::size_t kEntryRowSize = 8;
inline constexpr std::size_t kRowIdOffset = 0;
inline constexpr std::size_t kRowBlockCountOffset = 2;
inline constexpr std::size_t kRowDataOffset = 4;

inline constexpr std::size_t kBlockSizeFieldSize = 2;

inline constexpr std::int32_t kMaxWaveFiles = 9999;
inline constexpr std::uint32_t kDefaultSampleRate = 22050;

// The row the extraction adds after the last entry, so that every entry's
// room is the next row's data offset minus its own.
inline constexpr std::uint16_t kSentinelId = 0xFFFF;

} // namespace pev::archive
