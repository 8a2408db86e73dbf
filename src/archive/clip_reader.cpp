#include "archive/clip_reader.hpp"

#include "codec/block_decoder.hpp"

#include <algorithm>

namespace pev::archive {

Error ClipReader::open(const ArchiveReader& reader, std::size_t index) {
    reader_ = &reader;
    loaded_ = false;
    position_ = 0;
    next_block_ = 0;
    clip_ = reader.inspect(index, buffers_);
    if (!clip_.ok()) {
        Error error;
        error.code = ErrorCode::clip_refused;
        error.clip = ClipRef{index, clip_.row.id};
        error.problem = clip_.problem;
        return error;
    }
    if (!clip_.table_read_whole()) {
        return read_failure(clip_, clip_.table_read);
    }
    // Every buffer reads will need, taken now, each as large as this clip
    // needs (a few KiB, where the largest possible block would take 160):
    // a block's bytes and the one after it, where they are not in memory,
    // and the samples of its largest block.
    in_place_ = clip_bytes_in_place(reader.source(), clip_);
    if (!in_place_) {
        std::uint64_t largest = 0;
        for (const std::int16_t size : clip_.block_sizes) {
            largest = std::max<std::uint64_t>(largest, is_malformed_block_size(size) ? 0 : size);
        }
        bytes_.take(largest + 1);
    }
    starts_.resize(clip_.block_sizes.size() + 1);
    std::uint64_t count = 0;
    if (Error error = scan_clip(reader.source(), clip_, bytes_, count, starts_)) {
        starts_.clear();
        return error;
    }
    std::uint64_t largest_block = 0;
    for (std::size_t block = 0; block + 1 < starts_.size(); ++block) {
        largest_block = std::max(largest_block, starts_[block + 1].sample - starts_[block].sample);
    }
    samples_ = sample_buffer_.take(largest_block);
    return {};
}

// The block holding `sample` (below length()): the last one starting at or
// before it. Blocks of no samples are passed over, since none starts after
// them at the same sample.
std::size_t ClipReader::block_of(std::uint64_t sample) const {
    const auto after =
        std::upper_bound(starts_.begin(), starts_.end() - 1, sample,
                         [](std::uint64_t s, const BlockStart& start) { return s < start.sample; });
    return static_cast<std::size_t>(after - starts_.begin()) - 1;
}

Error ClipReader::decode(std::size_t block, std::span<std::int16_t> into) {
    const std::int16_t size = clip_.block_sizes[block];
    std::span<const std::uint8_t> bytes;
    if (in_place_) {
        bytes = block_in_place(*in_place_, size, starts_[block].byte);
    } else if (size != kSilentBlock) {
        if (Error error =
                read_block(reader_->source(), clip_, block, starts_[block].byte, bytes_, bytes)) {
            return error;
        }
    }
    const std::size_t decoded = decode_block(size, bytes, into);
    // The bytes changed since the scan (a source that does not keep them):
    // what they decode to now would not line up with the other blocks.
    if (decoded != starts_[block + 1].sample - starts_[block].sample) {
        return read_failure(clip_, {});
    }
    return {};
}

Error ClipReader::load(std::size_t block) {
    loaded_ = false;
    if (Error error = decode(block, samples_)) {
        return error;
    }
    block_ = block;
    loaded_ = true;
    return {};
}

Error ClipReader::read(std::span<std::int16_t> out, std::size_t& got) {
    got = 0;
    while (got < out.size() && position_ < length()) {
        if (!loaded_ || position_ < starts_[block_].sample ||
            position_ >= starts_[block_ + 1].sample) {
            // Reading on, the next block; after a seek, a search.
            std::size_t block = next_block_;
            if (block + 1 >= starts_.size() || position_ < starts_[block].sample ||
                position_ >= starts_[block + 1].sample) {
                block = block_of(position_);
            }
            next_block_ = block + 1;
            const std::uint64_t block_samples = starts_[block + 1].sample - starts_[block].sample;
            if (position_ == starts_[block].sample && out.size() - got >= block_samples) {
                // A whole block goes straight into the caller's samples.
                if (Error error = decode(block, out.subspan(got, block_samples))) {
                    return error;
                }
                got += block_samples;
                position_ += block_samples;
                continue;
            }
            if (Error error = load(block)) {
                return error;
            }
        }
        const std::uint64_t first = starts_[block_].sample;
        const auto from = static_cast<std::size_t>(position_ - first);
        const std::size_t count =
            std::min<std::uint64_t>(out.size() - got, starts_[block_ + 1].sample - position_);
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(from), count,
                    out.begin() + static_cast<std::ptrdiff_t>(got));
        got += count;
        position_ += count;
    }
    return {};
}

} // namespace pev::archive
