#pragma once
// Runs the packer's WAV parser over arbitrary bytes and checks what it
// promises: a verdict for every input, and samples that were really in it.

#include <cstdint>
#include <span>
#include <string>

namespace pev::fuzz {

// Returns an empty string when the parser kept every promise, else what broke.
std::string check_wav_reader(std::span<const std::uint8_t> input);

} // namespace pev::fuzz
