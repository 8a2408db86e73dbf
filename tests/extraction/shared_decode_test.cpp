// Two parts of a clip decoded apart and joined give the very samples of one
// decode, wherever the split falls: after silent, raw or short delta blocks,
// and with escapes that run across block edges.

#include "extraction/shared_decode.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace pev::test {
namespace {

TEST(SharedDecode, JoinsToWhatOneDecodeGives) {
    std::vector<std::int16_t> sizes;
    for (int run = 0; run < 3; ++run) {
        sizes.insert(sizes.end(), {600, 0, 1024, 300, 1});
    }
    const EntryMeasure measure = measure_entry(sizes);
    std::vector<std::uint8_t> bytes(measure.compressed_bytes);
    for (std::size_t b = 0; b < bytes.size(); ++b) {
        bytes[b] = static_cast<std::uint8_t>(b * 37 + (b >> 3)); // many escapes
    }
    std::vector<std::int16_t> whole(measure.sample_bound);
    whole.resize(decode_entry(sizes, bytes, whole));

    for (std::size_t split = 1; split <= sizes.size(); ++split) {
        std::vector<std::int16_t> buffer(wav::Frame::buffer_size(measure.sample_bound), -1);
        extraction::SharedDecode decode(sizes, bytes, wav::Frame(buffer, measure.sample_bound));
        for (std::size_t end = 1; end <= split; ++end) {
            decode.decode_front(end);
        }
        if (split < sizes.size()) {
            decode.decode_tail(split);
        }
        const std::span<std::int16_t> joined = decode.join().samples();
        EXPECT_TRUE(std::equal(joined.begin(), joined.end(), whole.begin(), whole.end()))
            << "split before block " << split;
    }
}

} // namespace
} // namespace pev::test
