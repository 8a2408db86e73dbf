#include "pack/archive_packer.hpp"

#include "archive/archive_layout.hpp"

#include <utility>

namespace pev::pack {

ClipSummary summarise(const EncodedEntry& entry, std::uint64_t input_samples) {
    ClipSummary summary;
    summary.input_samples = input_samples;
    summary.stored_samples = entry.sample_count;
    summary.blocks = entry.block_sizes.size();
    summary.silent_blocks = entry.silent_blocks;
    summary.raw_blocks = entry.raw_blocks;
    summary.delta_blocks = entry.delta_blocks;
    summary.stored_bytes = entry.bytes.size() + archive::kBlockSizeFieldSize * summary.blocks;
    summary.padded = entry.padded;
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
    const EncodedEntry entry = encode_entry(samples);
    if (Error error = writer_.add_entry(layout_.entry_ids[added_], entry.block_sizes, entry.bytes);
        !error.ok()) {
        return error;
    }
    ++added_;
    rate_ = rate;
    stored_samples_ += entry.sample_count;
    if (summary != nullptr) {
        *summary = summarise(entry, samples.size());
    }
    return {};
}

Error ArchivePacker::finish() {
    return writer_.finish(rate_, layout_.header);
}

} // namespace pev::pack
