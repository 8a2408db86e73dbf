#pragma once
// A sound clip read one block at a time from the archive's source: its exact
// sample count from a scan of the stored bytes, where each block starts, and
// its samples decoded straight into the caller's buffer. None of these holds
// more than one block's bytes at once, so a clip of 65535 blocks costs its
// samples and a block, not a second copy of it.
//
// A read that comes up short inside the archive's size (the file was cut
// after it was opened, a caller's read callback failed) is a cannot_read
// error here, never zeros: these serve the library, whose callers must be
// able to tell a damaged read from silence.

#include "archive/archive_reader.hpp"
#include "archive/scratch_buffer.hpp"
#include "common/error.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pev::archive {

// Room for a block's stored bytes and the byte after it, which an escape in
// the block's last nibbles takes its code from.
inline constexpr std::size_t kBlockBufferBytes = 32767 + 1;

// Where a block begins: in the clip's compressed bytes and in its samples.
struct BlockStart {
    std::uint64_t byte = 0;
    std::uint64_t sample = 0;
};

// The failure for a read of `clip` that came up short.
Error read_failure(const ClipInfo& clip, const ReadOutcome& outcome);

// Reads block `block` of `clip`, which begins `byte` bytes into its
// compressed bytes, with the byte after it when the clip has one; `bytes`
// gets them: in place for a source in memory (with up to 63 more of the
// clip's bytes after them, which the decoders do not use), else read into
// `buffer`, which then grows to at most kBlockBufferBytes.
Error read_block(const ByteSource& source, const ClipInfo& clip, std::size_t block,
                 std::uint64_t byte, ScratchBuffer<std::uint8_t>& buffer,
                 std::span<const std::uint8_t>& bytes);

// The stored bytes of `clip`, in place, when the source holds them in memory
// (as far as they lie inside the archive: the rest read as 0 anyway).
std::optional<std::span<const std::uint8_t>> clip_bytes_in_place(const ByteSource& source,
                                                                 const ClipInfo& clip);

// Block `block`'s bytes from `clip_bytes` (clip_bytes_in_place), which
// begin `byte` bytes into them, with those after it that read_block would
// give.
std::span<const std::uint8_t> block_in_place(std::span<const std::uint8_t> clip_bytes,
                                             std::int16_t size, std::uint64_t byte);

// Scans `clip` (one inspect() found sound) and stores its sample count. When
// `starts` is not empty it must hold block_count + 1 entries: each block's
// start, then the clip's end.
Error scan_clip(const ByteSource& source, const ClipInfo& clip, ScratchBuffer<std::uint8_t>& buffer,
                std::uint64_t& sample_count, std::span<BlockStart> starts = {});

// Decodes `clip` into `samples`, which holds at least its sample count, and
// stores how many samples were written.
Error decode_clip(const ByteSource& source, const ClipInfo& clip,
                  ScratchBuffer<std::uint8_t>& buffer, std::span<std::int16_t> samples,
                  std::uint64_t& written);

} // namespace pev::archive
