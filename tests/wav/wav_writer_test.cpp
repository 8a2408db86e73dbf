#include "wav/wav_writer.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace pev::test {
namespace {

TEST(WavHeader, KnownCaseByteForByte) {
    const std::array<std::uint8_t, 44> expected = {
        'R',  'I',  'F',  'F',  0x2C, 0x00, 0x00, 0x00, // 8 data bytes + 36
        'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',  //
        0x10, 0x00, 0x00, 0x00,                         // format record size
        0x01, 0x00,                                     // PCM
        0x01, 0x00,                                     // one channel
        0x22, 0x56, 0x00, 0x00,                         // 22050
        0x44, 0xAC, 0x00, 0x00,                         // 44100 bytes per second
        0x02, 0x00, 0x10, 0x00,                         // block align 2, 16 bits
        'd',  'a',  't',  'a',  0x08, 0x00, 0x00, 0x00,
    };
    EXPECT_EQ(wav::make_header(8, 1, 22050), expected);
}

TEST(WavHeader, SizesAndRates) {
    struct Case {
        std::uint32_t data_bytes;
        std::uint16_t channels;
        std::uint32_t rate;
        std::uint32_t riff_size, byte_rate;
        std::uint16_t block_align;
    };
    const Case cases[] = {
        {0, 1, 22050, 36, 44100, 2},
        {2 * 12345, 1, 8000, 2 * 12345 + 36, 16000, 2},
        {0xFFFFFFFFu - 36, 1, 48000, 0xFFFFFFFFu, 96000, 2},
        // Channels x 2 is taken as an unsigned 16-bit value before the product.
        {4, 0x8001, 10, 40, 20, 2},
        {4, 2, 0x80000000u, 40, 0, 4},
    };
    for (const Case& c : cases) {
        const auto h = wav::make_header(c.data_bytes, c.channels, c.rate);
        auto u32 = [&h](std::size_t at) {
            return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16) |
                   static_cast<std::uint32_t>(h[at + 3]) << 24;
        };
        EXPECT_EQ(u32(4), c.riff_size);
        EXPECT_EQ(u32(24), c.rate);
        EXPECT_EQ(u32(28), c.byte_rate);
        EXPECT_EQ(h[32] | h[33] << 8, c.block_align);
        EXPECT_EQ(u32(40), c.data_bytes);
    }
}

std::vector<std::uint8_t> contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::vector<std::uint8_t> bytes;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    return bytes;
}

// The header fills the room in front of the samples, whatever it held, and
// the samples follow little-endian whatever the host.
TEST(WavWriter, HeaderThenLittleEndianSamples) {
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{10000}}) {
        std::vector<std::int16_t> samples(count);
        for (std::size_t i = 0; i < count; ++i) {
            samples[i] = static_cast<std::int16_t>(i * 7919 - 32768);
        }
        std::vector<std::int16_t> buffer(wav::Frame::buffer_size(0), 0x5A5A);
        buffer.insert(buffer.end(), samples.begin(), samples.end());
        std::FILE* file = std::tmpfile();
        ASSERT_TRUE(wav::write_file(file, wav::Frame(buffer, count), 1, 11025));
        const auto bytes = contents(file);
        std::fclose(file);

        ASSERT_EQ(bytes.size(), 44 + 2 * count);
        const auto header = wav::make_header(static_cast<std::uint32_t>(2 * count), 1, 11025);
        EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
        for (std::size_t i = 0; i < count; ++i) {
            const auto value = static_cast<std::uint16_t>(samples[i]);
            ASSERT_EQ(bytes[44 + 2 * i], value & 0xFF) << i;
            ASSERT_EQ(bytes[45 + 2 * i], value >> 8) << i;
        }
    }
}

TEST(WavWriter, FullDeviceIsReported) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) {
        GTEST_SKIP() << "no /dev/full here";
    }
    std::vector<std::int16_t> buffer(wav::Frame::buffer_size(100000), 7);
    EXPECT_FALSE(wav::write_file(full, wav::Frame(buffer, 100000), 1, 22050));
    std::fclose(full);
}

} // namespace
} // namespace pev::test
