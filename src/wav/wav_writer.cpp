#include "wav/wav_writer.hpp"

#include "common/little_endian.hpp"

#include <algorithm>
#include <bit>

namespace pev::wav {
namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint32_t kFormatRecordSize = 16;
constexpr std::uint32_t kRiffSizeBeyondData = 36;

} // namespace

std::array<std::uint8_t, kHeaderSize> make_header(std::uint32_t data_bytes, std::uint16_t channels,
                                                  std::uint32_t rate) {
    const auto block_align = static_cast<std::uint16_t>(channels * 2);
    const std::uint32_t byte_rate = static_cast<std::uint32_t>(block_align) * rate;

    std::array<std::uint8_t, kHeaderSize> h{};
    auto tag = [&h](std::size_t at, const char(&text)[5]) {
        std::copy(text, text + 4, h.begin() + static_cast<std::ptrdiff_t>(at));
    };
    tag(0, "RIFF");
    store_u32le(h, 4, data_bytes + kRiffSizeBeyondData);
    tag(8, "WAVE");
    tag(12, "fmt ");
    store_u32le(h, 16, kFormatRecordSize);
    store_u16le(h, 20, kFormatPcm);
    store_u16le(h, 22, channels);
    store_u32le(h, 24, rate);
    store_u32le(h, 28, byte_rate);
    store_u16le(h, 32, block_align);
    store_u16le(h, 34, kBitsPerSample);
    tag(36, "data");
    store_u32le(h, 40, data_bytes);
    return h;
}

std::span<const std::uint8_t> frame_to_file_bytes(const Frame& frame, std::uint16_t channels,
                                                  std::uint32_t rate) {
    const std::span<std::int16_t> samples = frame.samples();
    if constexpr (std::endian::native != std::endian::little) {
        for (std::int16_t& sample : samples) {
            const auto value = static_cast<std::uint16_t>(sample);
            sample =
                static_cast<std::int16_t>(static_cast<std::uint16_t>((value >> 8) | (value << 8)));
        }
    }
    const auto data_bytes = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
    const auto header = make_header(data_bytes, channels, rate);
    auto* bytes = reinterpret_cast<std::uint8_t*>(frame.whole().data());
    std::copy(header.begin(), header.end(), bytes);
    return {bytes, kHeaderSize + samples.size() * sizeof(std::int16_t)};
}

bool write_file(std::FILE* file, const Frame& frame, std::uint16_t channels, std::uint32_t rate) {
    const std::span<const std::uint8_t> bytes = frame_to_file_bytes(frame, channels, rate);
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

} // namespace pev::wav
