#pragma once
// Writes voice archives: the 32-byte header, the entry table, and for each
// entry its block-size table followed by its compressed bytes.
//
// The writer streams: it reserves room for the header and the table, appends
// the entries one at a time as they are encoded (so only one clip is held in
// memory), and fills in the header and the table last, once every entry's
// offset is known.

#include "archive/archive_layout.hpp"
#include "archive/archive_reader.hpp"
#include "archive/byte_sink.hpp"
#include "common/error.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pev::archive {

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;

// What a repacked archive keeps from the archive it replaces: the entry ids
// and the header bytes the unpacker never reads (6..15, 20..23, 28..31).
struct ArchiveTemplate {
    HeaderBytes header{}; // only the unread bytes are used
    std::vector<std::uint16_t> entry_ids;
};

// The entry ids and unread header bytes of an archive the reader accepted.
ArchiveTemplate template_of(const ArchiveReader& reader);

// The header of an archive of `count` clips at `rate`, with the unread bytes
// taken from `kept`.
HeaderBytes make_archive_header(std::int32_t count, std::uint32_t rate, const HeaderBytes& kept);

// One row of the entry table.
std::array<std::uint8_t, kEntryRowSize> make_entry_row(std::uint16_t id, std::uint16_t block_count,
                                                       std::uint32_t data_offset);

class ArchiveWriter {
  public:
    // `sink` is empty; `clip_count` is the number of entries that will be
    // added.
    ArchiveWriter(ByteSink& sink, std::size_t clip_count);

    // Appends one entry after the ones before it. The error has no subject:
    // the caller knows which file it concerns.
    Error add_entry(std::uint16_t id, std::span<const std::int16_t> block_sizes,
                    std::span<const std::uint8_t> compressed);

    // Writes the header and the table once every entry has been added, and
    // flushes.
    Error finish(std::uint32_t rate, const HeaderBytes& kept);

    // The archive's size so far, in bytes.
    std::uint64_t size() const { return end_; }

  private:
    bool write(std::span<const std::uint8_t> bytes);

    ByteSink& sink_;
    std::size_t clip_count_;
    std::vector<std::uint8_t> table_; // the entry table, filled as entries come
    std::size_t added_ = 0;
    std::uint64_t end_ = 0;
    bool failed_ = false;
};

} // namespace pev::archive
