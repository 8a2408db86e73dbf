#include "pack/stored_clip.hpp"

#include "archive/clip_blocks.hpp"
#include "codec/block_decoder.hpp"

#include <algorithm>

namespace pev::pack {
namespace {

Error refused(ClipProblem problem) {
    Error error = error_about(ErrorCode::clip_refused, "");
    error.problem = problem;
    return error;
}

// The stored bytes of `info` (a sound clip): in place when `source` holds
// them in memory, else read into `buffers`. Bytes the sizes place past the
// end of the archive read as 0, as the decoder reads them; those inside it
// must come.
Error read_bytes(const archive::ByteSource& source, const archive::ClipInfo& info,
                 archive::ClipBuffers& buffers, std::span<const std::uint8_t>& bytes) {
    const std::uint64_t offset = info.compressed_offset();
    const std::uint64_t size = info.measure.compressed_bytes;
    // At most 65535 blocks of 32767 bytes: under 2 GiB, a size_t everywhere.
    bytes = source.view(offset, static_cast<std::size_t>(size));
    if (bytes.size() == size) {
        return {};
    }
    const std::span<std::uint8_t> into = buffers.compressed.take(size);
    const archive::ReadOutcome outcome = source.read_some(offset, into);
    const std::uint64_t inside =
        offset < source.size() ? std::min(size, source.size() - offset) : 0;
    if (outcome.got < inside) {
        return archive::read_failure(info, outcome);
    }
    std::fill(into.begin() + static_cast<std::ptrdiff_t>(outcome.got), into.end(), std::uint8_t{0});
    bytes = into;
    return {};
}

} // namespace

Error read_stored_clip(const archive::ArchiveReader& reader, std::size_t index,
                       archive::ClipBuffers& buffers, StoredClip& clip, CountSamples count) {
    const archive::ClipInfo info = reader.inspect(index, buffers);
    if (!info.ok()) {
        Error error = refused(info.problem);
        error.clip = ClipRef{index, info.row.id};
        return error;
    }
    // A copy must hold what the archive holds: a read that came up short
    // (the file was cut after it was opened) is an error, never zeros.
    if (!info.table_read_whole()) {
        return archive::read_failure(info, info.table_read);
    }
    if (Error error = read_bytes(reader.source(), info, buffers, clip.bytes); !error.ok()) {
        return error;
    }
    clip.block_sizes = info.block_sizes;
    clip.rate = reader.sample_rate();
    clip.sample_count.reset();
    if (count == CountSamples::yes) {
        // Escapes make a delta block shorter than its bound, and a spare
        // nibble makes one sample more: the codes tell the length, and
        // counting them decodes nothing.
        clip.sample_count = count_entry_samples(clip.block_sizes, clip.bytes);
    }
    return {};
}

Error check_stored_clip(const StoredClip& clip, std::size_t& covered) {
    if (clip.block_sizes.size() > 0xFFFF) {
        Error error = error_about(ErrorCode::clip_too_long, "");
        error.value = clip.sample_count.value_or(0);
        error.limit = clip.block_sizes.size();
        return error;
    }
    const EntryMeasure measure = measure_entry(clip.block_sizes);
    if (measure.malformed) {
        return refused(ClipProblem::malformed_block_size);
    }
    if (measure.compressed_bytes > clip.bytes.size()) {
        return refused(ClipProblem::bytes_past_end);
    }
    covered = static_cast<std::size_t>(measure.compressed_bytes);
    return {};
}

} // namespace pev::pack
