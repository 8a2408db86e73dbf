#pragma once
// The voice codec's encoder: the inverse of decode_entry.
//
// Every sample is first mapped to the nearest level of the expansion table
// (a tie goes to the level nearer silence); the levels are then cut into
// blocks of 1024 (the last one shorter) and each block is stored in the
// cheapest kind the decoder gives back exactly:
//   - silent (stored size 0): a full block whose every level is silence;
//   - raw (stored size 1024): a full block, one level byte per sample;
//   - delta: one code per sample, starting from level 0. A step of -7..+7 is
//     a single nibble (codes 0..14); any other step is the escape nibble 15
//     followed by its 8-bit code in the next two nibbles, low half first.
//
// Nibble parity: every code costs an odd number of nibbles (1 or 3), so a
// block of n codes takes n + 2e nibbles (e escapes), which is even exactly
// when n is. A delta block of s stored bytes holds 2s nibbles and the decoder
// reads codes while any of them are left, so a block with an odd number of
// codes would carry a spare nibble that decodes as one more sample. Full
// blocks are even; only the last block of an odd-length clip is odd, and for
// that one the encoder appends one sample repeating the last level (a final
// code 0) and reports it. Because each block holds whole codes only, no
// escape ever reaches past the block's end into the next one.
//
// Speed: a sample's level comes from a table of all 65,536 samples; each
// block is coded in one pass that also counts what decides its kind (its
// escapes, whether it is all silence), and delta codes go into the output a
// byte, or four, at a time. Everything writes into buffers the caller sized
// up front (see stored_bytes_bound); the functions that return vectors are
// thin wrappers for callers that do not keep buffers.
//
// Everything here is a pure function of its arguments.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pev {

// The index of the expansion level nearest to `sample`; a sample exactly
// halfway between two levels takes the one nearer silence.
std::uint8_t nearest_level(std::int16_t sample);

// The levels of `samples`, one per sample.
std::vector<std::uint8_t> quantise(std::span<const std::int16_t> samples);

// The same into `levels`, which holds at least samples.size() bytes.
void quantise(std::span<const std::int16_t> samples, std::span<std::uint8_t> levels);

// The same from samples as a WAV file holds them, little-endian pairs of
// bytes (sample_bytes.size() / 2 of them), into `levels`, which holds at
// least that many bytes: no copy of the samples is needed first.
void quantise_le(std::span<const std::uint8_t> sample_bytes, std::span<std::uint8_t> levels);

// The stored size of one delta block holding `levels`, as the encoder would
// write it (see encode_delta_block), in bytes. `levels` must have an even,
// non-zero length.
std::size_t delta_block_size(std::span<const std::uint8_t> levels);

// Appends the delta block for `levels` (even, non-zero length) to `out` and
// returns its stored size. A block that would come to exactly 1024 bytes,
// which the decoder would take for a raw block, stores one small step as an
// escape instead and so takes 1025.
std::size_t encode_delta_block(std::span<const std::uint8_t> levels,
                               std::vector<std::uint8_t>& out);

enum class BlockKind { silent, raw, delta };

// The kind the encoder picks for a block of `levels` (even, non-zero length,
// at most 1024): silent or raw only for a full block, whichever is smallest,
// raw winning a tie with delta.
BlockKind choose_block_kind(std::span<const std::uint8_t> levels);

struct EncodedEntry {
    std::vector<std::int16_t> block_sizes; // one stored size per block
    std::vector<std::uint8_t> bytes;       // the stored bytes of all blocks
    std::uint64_t sample_count = 0;        // samples the decoder gives back
    bool padded = false;                   // one sample was appended (odd length)
    std::size_t silent_blocks = 0;
    std::size_t raw_blocks = 0;
    std::size_t delta_blocks = 0;
};

// How many blocks a clip of `sample_count` samples takes once encoded,
// counting the sample appended to an odd length.
std::uint64_t blocks_for_samples(std::uint64_t sample_count);

// The room the stored bytes of a clip of `sample_count` levels take while
// they are written: a full block takes at most 1024 bytes (a delta one at
// most 1023, and up to 3 bytes of scratch past them while it is written);
// the last block at most 1533 (a short block of 1022 escapes) and its 3, so
// 1024 per block and 512 more cover them all.
std::uint64_t stored_bytes_bound(std::uint64_t sample_count);

// What encode_levels_into wrote.
struct EncodedCounts {
    std::size_t bytes = 0; // stored bytes written
    std::size_t blocks = 0;
    std::size_t silent_blocks = 0;
    std::size_t raw_blocks = 0;
    std::size_t delta_blocks = 0;
};

// Encodes the levels of a clip, or of a run of its blocks that starts at a
// block boundary (the last one padded when its length is odd), writing the
// stored sizes to `block_sizes` (at least blocks_for_samples(levels.size()))
// and the stored bytes to `out` (at least stored_bytes_bound(levels.size())).
// Blocks are coded independently, so runs of one clip can be encoded apart
// (on different threads) and joined.
EncodedCounts encode_levels_into(std::span<const std::uint8_t> levels,
                                 std::span<std::int16_t> block_sizes, std::span<std::uint8_t> out);

// Encodes a whole clip from its samples.
EncodedEntry encode_entry(std::span<const std::int16_t> samples);

// Encodes a whole clip from its levels (already quantised).
EncodedEntry encode_levels(std::span<const std::uint8_t> levels);

} // namespace pev
