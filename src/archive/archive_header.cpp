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

int read_archive_header(std::FILE* archive, ArchiveHeader& header, std::FILE* out) {
    if (archive == nullptr) {
        return -1;
    }
    std::rewind(archive);
    if (std::fread(header.bytes.data(), header.bytes.size(), 1, archive) != 1) {
        return -1;
    }
    if (!parse_archive_header(header)) {
        return -1;
    }
    std::fprintf(out, "Found %d wave files. (nSamplesPerSec: %d)\n", header.wave_file_count,
                 header.samples_per_sec);
    return header.wave_file_count > kMaxWaveFiles ? -1 : 0;
}

} // namespace pev::archive
