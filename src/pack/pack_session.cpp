#include "pack/pack_session.hpp"

#include "archive/archive_layout.hpp"

#include <utility>

namespace pev::pack {

PackSession::PackSession(std::optional<archive::ArchiveTemplate> like, std::uint32_t rate)
    : like_(std::move(like)), rate_(rate) {}

Error PackSession::check_next(std::uint64_t sample_count, std::uint32_t rate) const {
    if (clips_.size() >= static_cast<std::size_t>(archive::kMaxWaveFiles)) {
        Error error = error_about(ErrorCode::too_many_inputs, "");
        error.value = clips_.size() + 1;
        return error;
    }
    if (like_ && clips_.size() >= like_->entry_ids.size()) {
        Error error = error_about(ErrorCode::like_count_mismatch, "");
        error.value = like_->entry_ids.size();
        error.limit = clips_.size() + 1;
        return error;
    }
    return check_clip(sample_count, rate, rate_);
}

void PackSession::keep(EncodedEntry clip, std::uint32_t rate, const ClipSummary& stored,
                       ClipSummary* summary) {
    clips_.push_back(std::move(clip));
    clips_.back().bytes.shrink_to_fit(); // kept for long: no spare capacity
    rate_ = rate;
    stored_samples_ += stored.stored_samples;
    if (summary != nullptr) {
        *summary = stored;
    }
}

Error PackSession::add_clip(std::span<const std::int16_t> samples, std::uint32_t rate,
                            ClipSummary* summary) {
    if (Error error = check_next(samples.size(), rate); !error.ok()) {
        return error;
    }
    EncodedEntry entry = encode_entry(samples);
    const ClipSummary stored = summarise(entry, samples.size());
    keep(std::move(entry), rate, stored, summary);
    return {};
}

Error PackSession::add_stored_clip(const StoredClip& clip, ClipSummary* summary) {
    if (Error error = check_next(clip.sample_count, clip.rate); !error.ok()) {
        return error;
    }
    std::size_t covered = 0;
    if (Error error = check_stored_clip(clip, covered); !error.ok()) {
        return error;
    }
    const ClipSummary stored = summarise(clip, covered);
    EncodedEntry entry;
    entry.block_sizes.assign(clip.block_sizes.begin(), clip.block_sizes.end());
    entry.bytes.assign(clip.bytes.begin(),
                       clip.bytes.begin() + static_cast<std::ptrdiff_t>(covered));
    entry.sample_count = clip.sample_count;
    entry.silent_blocks = stored.silent_blocks;
    entry.raw_blocks = stored.raw_blocks;
    entry.delta_blocks = stored.delta_blocks;
    keep(std::move(entry), clip.rate, stored, summary);
    return {};
}

Error PackSession::write_to(archive::ByteSink& sink) const {
    const LayoutResult layout = layout_for(clips_.size(), like_ ? &*like_ : nullptr);
    if (!layout.error.ok()) {
        return layout.error;
    }
    archive::ArchiveWriter writer(sink, clips_.size());
    for (std::size_t i = 0; i < clips_.size(); ++i) {
        const EncodedEntry& clip = clips_[i];
        if (Error error =
                writer.add_entry(layout.layout.entry_ids[i], clip.block_sizes, clip.bytes);
            !error.ok()) {
            return error;
        }
    }
    return writer.finish(rate_, layout.layout.header);
}

} // namespace pev::pack
