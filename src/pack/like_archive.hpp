#pragma once
// The archive a new one is made "like": its entry ids and the header bytes
// the unpacker never reads are kept, so a repacked archive differs from the
// original only where its clips do.

#include "archive/archive_writer.hpp"
#include "common/error.hpp"

#include <string>

namespace pev::pack {

struct LikeRead {
    archive::ArchiveTemplate kept;
    // cannot_open, or archive_refused with the archive's size as `value` and
    // the clip count its header claims as `limit`.
    Error error;
};

// Reads the header and the entry table of the archive at `path` (UTF-8).
LikeRead read_like_archive(const std::string& path);

} // namespace pev::pack
