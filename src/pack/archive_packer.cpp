#include "pack/archive_packer.hpp"

#include "archive/archive_layout.hpp"

#include <utility>

namespace pev::pack {

ClipSummary summarise(const EncodedEntry& entry, std::uint64_t input_samples) {
    EncodedCounts counts;
    counts.bytes = entry.bytes.size();
    counts.blocks = entry.block_sizes.size();
    counts.silent_blocks = entry.silent_blocks;
    counts.raw_blocks = entry.raw_blocks;
    counts.delta_blocks = entry.delta_blocks;
    return summarise(counts, input_samples);
}

ClipSummary summarise(const EncodedCounts& counts, std::uint64_t input_samples) {
    ClipSummary summary;
    summary.input_samples = input_samples;
    summary.padded = input_samples % 2 == 1;
    summary.stored_samples = input_samples + (summary.padded ? 1 : 0);
    summary.blocks = counts.blocks;
    summary.silent_blocks = counts.silent_blocks;
    summary.raw_blocks = counts.raw_blocks;
    summary.delta_blocks = counts.delta_blocks;
    summary.stored_bytes = counts.bytes + archive::kBlockSizeFieldSize * summary.blocks;
    return summary;
}

ClipSummary summarise(const StoredClip& clip, std::size_t covered_bytes) {
    ClipSummary summary;
    summary.input_samples = clip.sample_count.value_or(0);
    summary.stored_samples = summary.input_samples;
    summary.blocks = clip.block_sizes.size();
    for (const std::int16_t size : clip.block_sizes) {
        summary.silent_blocks += size == kSilentBlock ? 1 : 0;
        summary.raw_blocks += size == kRawBlock ? 1 : 0;
    }
    summary.delta_blocks = summary.blocks - summary.silent_blocks - summary.raw_blocks;
    summary.stored_bytes = covered_bytes + archive::kBlockSizeFieldSize * summary.blocks;
    return summary;
}

Error check_clip(std::uint64_t sample_count, std::uint32_t rate, std::uint32_t archive_rate) {
    Error error;
    // The archive stores rate 0 for 22050, so a clip cannot have it.
    if (rate == 0) {
        error.code = ErrorCode::rate_zero;
    } else if (archive_rate != 0 && rate != archive_rate) {
        error.code = ErrorCode::rate_mismatch;
        error.value = rate;
        error.limit = archive_rate;
    } else if (const std::uint64_t blocks = blocks_for_samples(sample_count);
               blocks > kMaxBlocksPerClip) {
        error.code = ErrorCode::clip_too_long;
        error.value = sample_count;
        error.limit = blocks;
    }
    return error;
}

LayoutResult layout_for(std::size_t clip_count, const archive::ArchiveTemplate* like) {
    LayoutResult result;
    if (like == nullptr) {
        result.layout.entry_ids.resize(clip_count);
        for (std::size_t i = 0; i < clip_count; ++i) {
            result.layout.entry_ids[i] = static_cast<std::uint16_t>(i);
        }
    } else if (like->entry_ids.size() != clip_count) {
        result.error.code = ErrorCode::like_count_mismatch;
        result.error.value = like->entry_ids.size();
        result.error.limit = clip_count;
    } else {
        result.layout = *like;
    }
    return result;
}

ArchivePacker::ArchivePacker(archive::ByteSink& sink, archive::ArchiveTemplate layout)
    : layout_(std::move(layout)), writer_(sink, layout_.entry_ids.size()) {}

Error ArchivePacker::add_clip(std::span<const std::int16_t> samples, std::uint32_t rate,
                              ClipSummary* summary) {
    if (added_ >= layout_.entry_ids.size()) {
        return error_about(ErrorCode::more_clips_than_laid_out, "");
    }
    if (Error error = check_clip(samples.size(), rate, rate_); !error.ok()) {
        return error;
    }
    // Into buffers kept from clip to clip: no allocation once the largest
    // clip so far has been seen, and nothing to zero.
    const std::span<std::uint8_t> levels = levels_.take(samples.size());
    quantise(samples, levels);
    const std::span<std::int16_t> sizes = block_sizes_.take(blocks_for_samples(samples.size()));
    const std::span<std::uint8_t> bytes = bytes_.take(stored_bytes_bound(samples.size()));
    const EncodedCounts counts = encode_levels_into(levels, sizes, bytes);
    return write_entry(sizes, bytes.first(counts.bytes), summarise(counts, samples.size()), rate,
                       summary);
}

Error ArchivePacker::add_encoded_clip(std::span<const std::int16_t> block_sizes,
                                      std::span<const std::uint8_t> bytes,
                                      const EncodedCounts& counts, std::uint64_t sample_count,
                                      std::uint32_t rate, ClipSummary* summary) {
    if (added_ >= layout_.entry_ids.size()) {
        return error_about(ErrorCode::more_clips_than_laid_out, "");
    }
    if (Error error = check_clip(sample_count, rate, rate_); !error.ok()) {
        return error;
    }
    return write_entry(block_sizes, bytes, summarise(counts, sample_count), rate, summary);
}

Error ArchivePacker::add_stored_clip(const StoredClip& clip, ClipSummary* summary) {
    if (added_ >= layout_.entry_ids.size()) {
        return error_about(ErrorCode::more_clips_than_laid_out, "");
    }
    // Its length is bounded by its block count (check_stored_clip); the
    // samples those blocks decode to, counted or not, change nothing.
    if (Error error = check_clip(0, clip.rate, rate_); !error.ok()) {
        return error;
    }
    std::size_t covered = 0;
    if (Error error = check_stored_clip(clip, covered); !error.ok()) {
        return error;
    }
    return write_entry(clip.block_sizes, clip.bytes.first(covered), summarise(clip, covered),
                       clip.rate, summary);
}

Error ArchivePacker::write_entry(std::span<const std::int16_t> block_sizes,
                                 std::span<const std::uint8_t> bytes, const ClipSummary& stored,
                                 std::uint32_t rate, ClipSummary* summary) {
    if (Error error = writer_.add_entry(layout_.entry_ids[added_], block_sizes, bytes);
        !error.ok()) {
        return error;
    }
    ++added_;
    rate_ = rate;
    stored_samples_ += stored.stored_samples;
    if (summary != nullptr) {
        *summary = stored;
    }
    return {};
}

Error ArchivePacker::finish() {
    return writer_.finish(rate_, layout_.header);
}

} // namespace pev::pack
