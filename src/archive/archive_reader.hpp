#pragma once
// Random access to the clips of a voice archive: the header, the entry
// table, and for each entry its block sizes, a verdict on whether it can be
// extracted, and its decoded samples. Every front end (the unpacker, the
// `pev` tool, the C library) reads archives through this one reader, so they
// all accept and refuse the same entries.
//
// A reader is immutable once opened: inspect() and decode() take the buffers
// they work in from the caller, so different clips of one archive can be
// decoded from several threads at once, each with buffers of its own.

#include "archive/archive_header.hpp"
#include "archive/byte_source.hpp"
#include "archive/scratch_buffer.hpp"
#include "codec/block_decoder.hpp"
#include "common/error.hpp"
#include "wav/frame.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pev::archive {

// The reader's verdicts belong to the core's error vocabulary.
using pev::ClipProblem;
using pev::OpenResult;

struct EntryRow {
    std::uint16_t id = 0;
    std::uint16_t block_count = 0;
    std::uint64_t data_offset = 0; // 32-bit in the file; the sentinel holds the file size
};

// The buffers one clip is read and decoded in. They only grow, so reading
// thousands of clips costs a handful of allocations and peak memory is set by
// the largest clip. Use one set per thread.
struct ClipBuffers {
    ScratchBuffer<std::uint8_t> size_bytes;
    ScratchBuffer<std::int16_t> block_sizes;
    ScratchBuffer<std::uint8_t> compressed;
    ScratchBuffer<std::int16_t> samples; // a wav::Frame
};

struct ClipInfo {
    std::size_t index = 0; // 0-based position in the entry table
    EntryRow row;
    EntryMeasure measure;
    std::uint32_t silent_blocks = 0;
    std::uint32_t raw_blocks = 0;
    std::uint32_t delta_blocks = 0;
    ClipProblem problem = ClipProblem::none;
    // The stored sizes, in the ClipBuffers given to inspect(); empty when the
    // block-size table was refused before it was read.
    std::span<const std::int16_t> block_sizes;
    // How reading the block-size table went: a source that held fewer bytes
    // than it claimed (a file cut short after it was opened) reads as 0.
    ReadOutcome table_read;

    bool ok() const { return problem == ClipProblem::none; }
    bool table_read_whole() const { return table_read.got == block_sizes.size() * 2; }
    // Where the compressed bytes begin in the archive.
    std::uint64_t compressed_offset() const {
        return row.data_offset + 2 * std::uint64_t{row.block_count};
    }
    // The block-size table and the compressed bytes.
    std::uint64_t stored_bytes() const {
        return 2 * std::uint64_t{row.block_count} + measure.compressed_bytes;
    }
};

class ArchiveReader {
  public:
    // Reads the header and the entry table of `source`, which must outlive
    // the reader. Check open_result() before anything else.
    explicit ArchiveReader(const ByteSource& source);

    OpenResult open_result() const { return open_result_; }
    // Valid unless the result is not_an_archive.
    const ArchiveHeader& header() const { return header_; }
    // The rate every clip is written at: nSamplesPerSec, 22050 when it is 0.
    std::uint32_t sample_rate() const;
    std::uint64_t archive_size() const { return source_.size(); }
    const ByteSource& source() const { return source_; }
    // 0 unless the archive was opened.
    std::size_t clip_count() const { return rows_.empty() ? 0 : rows_.size() - 1; }
    const EntryRow& row(std::size_t index) const { return rows_[index]; }

    // Reads entry `index`'s block sizes into `buffers` and judges it. A
    // refused entry takes no buffer beyond its sizes, and none at all when
    // its size table lies past the end of the file.
    ClipInfo inspect(std::size_t index, ClipBuffers& buffers) const;

    // Reads and decodes a clip that inspect() found sound, with the same
    // `buffers`, into a frame: its WAV file's header room, then its samples.
    wav::Frame decode(const ClipInfo& clip, ClipBuffers& buffers) const;

    // The first half of decode(), for callers that decode a clip's blocks in
    // parts: reads the stored bytes of a clip that inspect() found sound into
    // `buffers`.
    std::span<const std::uint8_t> read_stored_bytes(const ClipInfo& clip,
                                                    ClipBuffers& buffers) const;

  private:
    OpenResult open();
    // Reads `into.size()` bytes at `offset`; what the source cannot supply
    // (a file cut short while it is read) reads as 0, so the output stays
    // deterministic.
    ReadOutcome read_zero_filled(std::uint64_t offset, std::span<std::uint8_t> into) const;
    ClipProblem judge(const EntryRow& row, const EntryRow& next, const EntryMeasure& measure) const;

    const ByteSource& source_;
    ArchiveHeader header_;
    std::vector<EntryRow> rows_; // the entry table and the sentinel row
    OpenResult open_result_;
};

} // namespace pev::archive
