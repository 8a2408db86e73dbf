#include "pack/clip_encoder.hpp"

#include "pack/archive_packer.hpp"

#include <algorithm>

namespace pev::pack {
namespace {

// Levels gathered before they are encoded: 64 full blocks.
constexpr std::size_t kRunSamples = 64 * 1024;
constexpr std::uint64_t kMostSamples = kMaxBlocksPerClip * 1024;

void add_counts(EncodedCounts& total, const EncodedCounts& run) {
    total.bytes += run.bytes;
    total.blocks += run.blocks;
    total.silent_blocks += run.silent_blocks;
    total.raw_blocks += run.raw_blocks;
    total.delta_blocks += run.delta_blocks;
}

} // namespace

void ClipEncoder::start() {
    pending_.resize(kRunSamples);
    pending_count_ = 0;
    counts_ = {};
    samples_ = 0;
}

void ClipEncoder::take(std::span<const std::int16_t> samples) {
    while (!samples.empty()) {
        // Too long for a clip: counted, no longer kept.
        const std::uint64_t room = samples_ < kMostSamples ? kMostSamples - samples_ : 0;
        const std::size_t kept = static_cast<std::size_t>(
            std::min<std::uint64_t>({room, samples.size(), kRunSamples - pending_count_}));
        if (kept == 0) {
            samples_ += samples.size();
            return;
        }
        quantise(samples.first(kept), std::span(pending_).subspan(pending_count_, kept));
        pending_count_ += kept;
        samples_ += kept;
        samples = samples.subspan(kept);
        if (pending_count_ == kRunSamples) {
            encode_pending();
        }
    }
}

void ClipEncoder::finish() {
    if (pending_count_ > 0) {
        encode_pending();
    }
}

void ClipEncoder::encode_pending() {
    const std::span<const std::uint8_t> levels(pending_.data(), pending_count_);
    const std::size_t blocks = counts_.blocks + blocks_for_samples(levels.size());
    const std::size_t bytes = counts_.bytes + stored_bytes_bound(levels.size());
    // Grown by half again at least, so a long clip costs few copies.
    if (sizes_.size() < blocks) {
        sizes_.resize(std::max(blocks, sizes_.size() + sizes_.size() / 2));
    }
    if (bytes_.size() < bytes) {
        bytes_.resize(std::max(bytes, bytes_.size() + bytes_.size() / 2));
    }
    add_counts(counts_, encode_levels_into(levels, std::span(sizes_).subspan(counts_.blocks),
                                           std::span(bytes_).subspan(counts_.bytes)));
    pending_count_ = 0;
}

} // namespace pev::pack
