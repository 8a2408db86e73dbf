#pragma once
// Recognises a voice archive and reads its clip count and sample rate.

#include "archive/archive_layout.hpp"

#include <array>
#include <cstdint>
#include <cstdio>

namespace pev::archive {

struct ArchiveHeader {
    std::array<std::uint8_t, kHeaderSize> bytes{};
    std::int32_t wave_file_count = 0;
    std::int32_t samples_per_sec = 0; // nSamplesPerSec as stored; 0 means 22050
};

// Checks the magic of a header read into `header.bytes` and takes the clip
// count and the rate from it. False when the magic differs.
bool parse_archive_header(ArchiveHeader& header);

// Rewinds `archive`, reads its 32-byte header and checks the magic. Prints
// "Found %d wave files. (nSamplesPerSec: %d)\n" to `out` once the magic
// matches. Returns 0 with the file at offset 32 when the archive is accepted,
// -1 when it is too short, has another magic, or holds more than 9999 clips
// (the count line is printed first, so the user sees what was refused). A
// negative count is passed on for the caller to refuse.
int read_archive_header(std::FILE* archive, ArchiveHeader& header, std::FILE* out);

} // namespace pev::archive
