#pragma once
// A clip as an archive stores it: its block sizes and compressed bytes. The
// packers can copy such a clip into a new archive as it is, without decoding
// and encoding it again, so it decodes exactly as it did in its source,
// whoever encoded it (a raw block where delta would be smaller, escapes where
// a nibble would do, a spare nibble: all are kept).

#include "archive/archive_reader.hpp"
#include "common/error.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pev::pack {

struct StoredClip {
    std::span<const std::int16_t> block_sizes;
    std::span<const std::uint8_t> bytes; // the compressed bytes of all blocks
    // As the decoder gives them back; none when they were not counted.
    std::optional<std::uint64_t> sample_count;
    std::uint32_t rate = 0;
};

// Whether read_stored_clip counts the clip's samples: copying needs no
// count, only what reports it does, and counting means reading every byte.
enum class CountSamples : bool { no, yes };

// Reads clip `index` (below reader.clip_count(), of an opened archive) as it
// is stored, into `buffers` (or in place, from an archive in memory), and
// counts its samples when asked. A clip the reader refuses cannot be copied:
// clip_refused, with the clip and the problem; a read that came up short is
// cannot_read, with the clip. The caller names the archive.
Error read_stored_clip(const archive::ArchiveReader& reader, std::size_t index,
                       archive::ClipBuffers& buffers, StoredClip& clip,
                       CountSamples count = CountSamples::yes);

// Why `clip` cannot be copied (clip_refused: a malformed block size, sizes
// that claim more bytes than it has, too many blocks); ok() when it can. On
// success `covered` is the number of its bytes the sizes take: any after
// those belong to no block and are left out.
Error check_stored_clip(const StoredClip& clip, std::size_t& covered);

} // namespace pev::pack
