#pragma once
// One clip's blocks decoded in two parts by two threads at once, put
// together into the same frame that decoding them in one go gives.

#include "codec/block_decoder.hpp"
#include "wav/frame.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace pev::extraction {

// A sound clip decoded by two threads. One decodes the front, a few blocks
// at a time, each straight behind the last. Meanwhile the other may take the
// tail, the blocks from some point on to the end: it counts the front's
// samples from their stored bytes (a scan, several times cheaper than
// decoding them) and decodes the tail right where the front will end, so
// nothing needs moving once both parts are done. Every delta block starts
// from level 0, so the parts do not depend on each other, and the decoder
// writes nothing past the samples it gives, so the parts never touch.
class SharedDecode {
  public:
    SharedDecode() = default;
    // `room` has room for every sample the blocks can give.
    SharedDecode(std::span<const std::int16_t> sizes, std::span<const std::uint8_t> compressed,
                 wav::Frame room)
        : sizes_(sizes), compressed_(compressed), room_(room), samples_(room.samples()) {}

    std::size_t block_count() const { return sizes_.size(); }

    // Decodes the front on up to block `end`. The compressed bytes handed to
    // the decoder run on past those blocks: an escape begun in a block's last
    // nibble takes its code from the next block's first byte.
    void decode_front(std::size_t end) {
        const auto sizes = sizes_.subspan(front_blocks_, end - front_blocks_);
        const EntryMeasure measure = measure_entry(sizes);
        front_samples_ += decode_entry(sizes, compressed_.subspan(front_bytes_),
                                       samples_.subspan(front_samples_, measure.sample_bound));
        front_bytes_ += measure.compressed_bytes;
        front_blocks_ = end;
    }

    // Decodes the blocks from `first` on, behind where the blocks before them
    // end.
    void decode_tail(std::size_t first) {
        const auto front = sizes_.first(first);
        const std::uint64_t front_bytes = measure_entry(front).compressed_bytes;
        const std::uint64_t tail_start = count_entry_samples(front, compressed_);
        tail_samples_ = decode_entry(sizes_.subspan(first), compressed_.subspan(front_bytes),
                                     samples_.subspan(tail_start));
    }

    // The clip's frame, once both parts are done.
    wav::Frame join() const { return wav::Frame(room_.whole(), front_samples_ + tail_samples_); }

  private:
    std::span<const std::int16_t> sizes_;
    std::span<const std::uint8_t> compressed_;
    wav::Frame room_;
    std::span<std::int16_t> samples_;
    std::size_t front_blocks_ = 0;
    std::uint64_t front_bytes_ = 0;
    std::size_t front_samples_ = 0;
    // Written by the thread that decodes the tail, apart from the front's.
    std::size_t tail_samples_ = 0;
};

} // namespace pev::extraction
