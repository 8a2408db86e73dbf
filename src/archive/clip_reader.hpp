#pragma once
// Streaming one sound clip: read any number of samples at a time and seek to
// any sample. Opening scans the clip once for where each block starts, and
// takes every buffer the reader will use: one block's stored bytes and one
// block's samples. Reading and seeking then allocate nothing, so a player
// can call them from its audio thread, and a seek costs at most the decoding
// of the one block it lands in, when the next read needs it.

#include "archive/archive_reader.hpp"
#include "archive/clip_blocks.hpp"
#include "common/error.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pev::archive {

class ClipReader {
  public:
    // Opens clip `index` of `reader`, which must outlive this. A clip that
    // cannot be decoded gives clip_refused; a short read, cannot_read.
    Error open(const ArchiveReader& reader, std::size_t index);

    std::uint64_t length() const { return starts_.empty() ? 0 : starts_.back().sample; }
    std::uint64_t position() const { return position_; }

    // Copies up to out.size() samples from the position on and moves past
    // them; `got` is how many (fewer only at the clip's end). The samples
    // are exactly those whole-clip decoding gives at those positions.
    Error read(std::span<std::int16_t> out, std::size_t& got);

    // Moves to sample `frame`, at most length(). The block is decoded by the
    // next read.
    void seek(std::uint64_t frame) { position_ = frame; }

  private:
    std::size_t block_of(std::uint64_t sample) const;
    // Decodes `block` into `into`, which holds its samples.
    Error decode(std::size_t block, std::span<std::int16_t> into);
    // Decodes `block` into samples_, for reads of part of it.
    Error load(std::size_t block);

    const ArchiveReader* reader_ = nullptr;
    ClipBuffers buffers_; // holds the block sizes clip_ refers to
    ClipInfo clip_;
    std::vector<BlockStart> starts_; // each block's start, then the clip's end
    ScratchBuffer<std::uint8_t> bytes_;
    std::optional<std::span<const std::uint8_t>> in_place_; // the clip's bytes, in memory
    ScratchBuffer<std::int16_t> sample_buffer_;             // taken once, never cleared
    std::span<std::int16_t> samples_;                       // the decoded block
    std::size_t block_ = 0;                                 // the block in samples_
    std::size_t next_block_ = 0; // where a read that goes on from the last begins
    bool loaded_ = false;
    std::uint64_t position_ = 0;
};

} // namespace pev::archive
