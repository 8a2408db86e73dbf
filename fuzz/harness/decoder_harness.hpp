#pragma once
// Runs the entry decoder, on every path this processor runs (the scalar
// decoder and the vector ones), over an arbitrary block-size table and
// bytes, and checks each against a plain reference decoder, its sample
// bound and its own scan.

#include <cstdint>
#include <span>
#include <string>

namespace pev::fuzz {

// `input` is laid out as: block count (u16 little-endian, trimmed to what the
// input holds), one byte choosing the sample span (below), the stored sizes
// (i16 little-endian each), then the compressed bytes. The span is the
// entry's sample bound (capped to keep runs fast), shortened by the low 7 bits
// of the choice byte when its top bit is set, or lengthened by its low 6 bits
// when bit 6 is set. Returns an empty string when the decoder kept every
// promise, else what broke.
std::string check_decoder(std::span<const std::uint8_t> input);

} // namespace pev::fuzz
