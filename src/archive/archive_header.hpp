#pragma once
// Recognises a voice archive and reads its clip count and sample rate.

#include "archive/archive_layout.hpp"

#include <array>
#include <cstdint>

namespace pev::archive {

struct ArchiveHeader {
    std::array<std::uint8_t, kHeaderSize> bytes{};
    std::int32_t wave_file_count = 0;
    std::int32_t samples_per_sec = 0; // nSamplesPerSec as stored; 0 means 22050
};

// Checks the magic of a header read into `header.bytes` and takes the clip
// count and the rate from it. False when the magic differs.
bool parse_archive_header(ArchiveHeader& header);

} // namespace pev::archive
