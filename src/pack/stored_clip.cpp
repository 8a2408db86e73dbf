#include "pack/stored_clip.hpp"

#include "codec/block_decoder.hpp"

namespace pev::pack {
namespace {

Error refused(ClipProblem problem) {
    Error error = error_about(ErrorCode::clip_refused, "");
    error.problem = problem;
    return error;
}

} // namespace

Error read_stored_clip(const archive::ArchiveReader& reader, std::size_t index,
                       archive::ClipBuffers& buffers, StoredClip& clip) {
    const archive::ClipInfo info = reader.inspect(index, buffers);
    if (!info.ok()) {
        Error error = refused(info.problem);
        error.clip = ClipRef{index, info.row.id};
        return error;
    }
    clip.block_sizes = info.block_sizes;
    clip.bytes = reader.read_stored_bytes(info, buffers);
    clip.rate = reader.sample_rate();
    // Escapes make a delta block shorter than its bound, and a spare nibble
    // makes one sample more: only decoding tells the length. The samples
    // themselves are not kept.
    const std::span<std::int16_t> samples = buffers.samples.take(info.measure.sample_bound);
    clip.sample_count = decode_entry(clip.block_sizes, clip.bytes, samples);
    return {};
}

Error check_stored_clip(const StoredClip& clip, std::size_t& covered) {
    if (clip.block_sizes.size() > 0xFFFF) {
        Error error = error_about(ErrorCode::clip_too_long, "");
        error.value = clip.sample_count;
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
