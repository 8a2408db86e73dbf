#include "pack/pack_session.hpp"

#include "archive/archive_layout.hpp"

#include <utility>

namespace pev::pack {

PackSession::PackSession(std::optional<archive::ArchiveTemplate> like, std::uint32_t rate)
    : like_(std::move(like)), rate_(rate) {}

Error PackSession::add_clip(std::span<const std::int16_t> samples, std::uint32_t rate,
                            ClipSummary* summary) {
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
    if (Error error = check_clip(samples.size(), rate, rate_); !error.ok()) {
        return error;
    }
    clips_.push_back(encode_entry(samples));
    clips_.back().bytes.shrink_to_fit(); // kept for long: no spare capacity
    rate_ = rate;
    stored_samples_ += clips_.back().sample_count;
    if (summary != nullptr) {
        *summary = summarise(clips_.back(), samples.size());
    }
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
