#pragma once
// The voice codec's entry decoder.
//
// An entry is a run of blocks, each described by one signed 16-bit stored
// size: 0 is a silent block (1024 samples of silence, no stored bytes), 1024
// a raw block (1024 bytes, one expanded sample each), and 1..32767 otherwise
// a delta block of that many bytes of 4-bit codes (low nibble first), where
// the nibble 15 escapes to a full 8-bit code in the next two nibbles. Every
// delta block starts from level 0.
//
// Safety promise: these functions never read outside `compressed` and never
// write outside `samples`, whatever the block sizes claim. Bytes the sizes
// place beyond the end of `compressed` read as 0; samples that do not fit in
// `samples` are not written. They allocate nothing, touch no global mutable
// state and cannot fail.

#include <cstddef>
#include <cstdint>
#include <span>

namespace pev {

inline constexpr std::int16_t kSilentBlock = 0;
inline constexpr std::int16_t kRawBlock = 1024;
inline constexpr std::size_t kSamplesPerBlock = 1024;
// The most samples one block can hold: a delta block of 32767 bytes without
// escapes, one sample per nibble.
inline constexpr std::size_t kMaxSamplesPerBlock = 2 * 32767;

// A stored size with bit 15 set lies outside the format: the decoder yields
// nothing for such a block and does not move its read position, and callers
// refuse such entries before decoding.
constexpr bool is_malformed_block_size(std::int16_t stored_size) {
    return stored_size < 0;
}

struct EntryMeasure {
    std::uint64_t compressed_bytes = 0; // sum of the stored sizes
    std::uint64_t sample_bound = 0;     // most samples the decoder can write
    bool malformed = false;             // some stored size has bit 15 set
};

// Sums the stored sizes and the sample bound: 1024 samples for a silent or
// raw block, twice the stored size for a delta block (one sample per nibble;
// every escape makes a block shorter than that, never longer). Malformed
// sizes count as 0 in both sums.
EntryMeasure measure_entry(std::span<const std::int16_t> block_sizes);

// Decodes every block into `samples` and returns how many samples were
// written (at most samples.size(), at most the entry's sample bound).
std::size_t decode_entry(std::span<const std::int16_t> block_sizes,
                         std::span<const std::uint8_t> compressed, std::span<std::int16_t> samples);

// Decodes one block of stored size `stored_size` whose bytes begin `bytes`;
// `bytes` should also hold the byte after the block when the entry has one,
// since an escape in a block's last nibbles takes its code from it. Gives
// exactly what decode_entry gives for that block; returns the samples
// written (at most samples.size()).
std::size_t decode_block(std::int16_t stored_size, std::span<const std::uint8_t> bytes,
                         std::span<std::int16_t> samples);

// How many samples decode_block would give for the block, from its stored
// bytes alone, without writing any: a silent or raw block holds 1024, a
// delta block one per code (a code is one nibble, or three for an escape).
// Bytes missing from `bytes` count as 0, as the decoder reads them.
std::size_t count_block_samples(std::int16_t stored_size, std::span<const std::uint8_t> bytes);

// The same for a whole entry: exactly what decode_entry returns given room
// for the entry's sample bound.
std::uint64_t count_entry_samples(std::span<const std::int16_t> block_sizes,
                                  std::span<const std::uint8_t> compressed);

} // namespace pev
