#pragma once
// Encodes one clip from samples that arrive a run at a time, as a converted
// recording hands them over: full blocks are quantised and encoded as soon
// as they are there (blocks are coded independently), so what is held is the
// clip's stored bytes, about a third of its samples' size, and one run of
// levels. Past the most blocks a clip may have, samples are only counted, so
// that the packer's check can say how long the recording was.

#include "codec/block_encoder.hpp"
#include "pack/input_converter.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace pev::pack {

class ClipEncoder final : public SampleSink {
  public:
    // Forgets the last clip; its buffers are kept for the next.
    void start();
    void take(std::span<const std::int16_t> samples) override;
    // Encodes what is left (the last block, padded when its length is odd).
    void finish();

    std::span<const std::int16_t> sizes() const { return {sizes_.data(), counts_.blocks}; }
    std::span<const std::uint8_t> stored() const { return {bytes_.data(), counts_.bytes}; }
    const EncodedCounts& counts() const { return counts_; }
    std::uint64_t sample_count() const { return samples_; }

  private:
    void encode_pending();

    std::vector<std::uint8_t> pending_; // levels not yet encoded
    std::size_t pending_count_ = 0;
    std::vector<std::int16_t> sizes_;
    std::vector<std::uint8_t> bytes_;
    EncodedCounts counts_;
    std::uint64_t samples_ = 0;
};

} // namespace pev::pack
