#pragma once
// Writes 16-bit PCM WAV files: the canonical 44-byte RIFF/WAVE header and the
// samples after it, little-endian whatever the host.

#include "wav/frame.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace pev::wav {

// The header of a file holding `data_bytes` bytes of samples:
//   "RIFF", data_bytes + 36, "WAVE", "fmt ", 16,
//   format record (tag 1, channels, rate, byte rate, block align, 16 bits),
//   "data", data_bytes.
// The sample width is fixed at 16 bits: block align is channels x 2 and the
// byte rate is block align (as an unsigned 16-bit value) x rate, in 32 bits.
std::array<std::uint8_t, kHeaderSize> make_header(std::uint32_t data_bytes, std::uint16_t channels,
                                                  std::uint32_t rate);

// Turns `frame` into the bytes of a whole WAV file, in place: fills the room
// with the header and, on a big-endian host, turns the samples into
// little-endian order. Returns those bytes, which alias `frame`.
std::span<const std::uint8_t> frame_to_file_bytes(const Frame& frame, std::uint16_t channels,
                                                  std::uint32_t rate);

// Writes a whole file, header and samples, with one fwrite (on an unbuffered
// stream, one call to the system), from the bytes frame_to_file_bytes makes
// of `frame`. False when the write came up short.
bool write_file(std::FILE* file, const Frame& frame, std::uint16_t channels, std::uint32_t rate);

} // namespace pev::wav
