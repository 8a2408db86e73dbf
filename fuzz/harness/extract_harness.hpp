#pragma once
// Runs the whole extraction over arbitrary archive bytes and checks what it
// promises beyond not crashing: memory in proportion to the file, and WAV
// files whose headers describe exactly the samples that follow them.

#include <cstdint>
#include <span>
#include <string>

namespace pev::fuzz {

// Extracts `archive` with every output kept in memory (only each file's
// header and length are kept) and the console sent to the null device, once
// on one thread and once decoding ahead on a second, which must agree.
// Returns an empty string when every promise held, else what broke.
std::string check_extraction(std::span<const std::uint8_t> archive);

} // namespace pev::fuzz
