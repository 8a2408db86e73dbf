#include "archive/archive_header.hpp"

#include "common/little_endian.hpp"

#include <algorithm>

namespace pev::archive {

bool parse_archive_header(ArchiveHeader& header) {
    if (!std::equal(kMagic.begin(), kMagic.end(), header.bytes.begin())) {
        return false;
    }
    header.wave_file_count = static_cast<std::int32_t>(load_u32le(header.bytes, kCountOffset));
    header.samples_per_sec = static_cast<std::int32_t>(load_u32le(header.bytes, kRateOffset));
    return true;
}

} // namespace pev::archive
