#pragma once
// Drives the public C API over arbitrary archive bytes the way a careful
// user would, and checks what it promises beyond not crashing: sizes asked
// first and honoured exactly, nothing written past what a call reports,
// WAV images that match the samples, and packing that gives them back.

#include <cstdint>
#include <span>
#include <string>

namespace pev::fuzz {

// Opens `archive` from memory, queries everything and decodes every clip
// (until a budget of samples is spent) into exact and too-small buffers and
// into WAV images, then packs the decoded clips "like" it and reads them
// back. Returns an empty string when every promise held, else what broke.
std::string check_capi(std::span<const std::uint8_t> archive);

} // namespace pev::fuzz
