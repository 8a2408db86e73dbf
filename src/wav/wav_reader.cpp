#include "wav/wav_reader.hpp"

#include "common/little_endian.hpp"
#include "platform/whole_file.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>

namespace pev::wav {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::size_t kRiffHeaderSize = 12; // "RIFF", size, form type
constexpr std::size_t kChunkHeaderSize = 8; // id, size
constexpr std::size_t kPcmFormatSize = 16;
constexpr std::size_t kExtensibleFormatSize = 40;

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatAdpcm = 0x0002;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatAlaw = 0x0006;
constexpr std::uint16_t kFormatMulaw = 0x0007;
constexpr std::uint16_t kFormatImaAdpcm = 0x0011;
constexpr std::uint16_t kFormatGsm = 0x0031;
constexpr std::uint16_t kFormatMpeg = 0x0050;
constexpr std::uint16_t kFormatMp3 = 0x0055;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// The extensible header names its real format by a GUID whose first two
// bytes are the classic format tag and whose other fourteen are always these.
constexpr std::array<std::uint8_t, 14> kSubFormatGuidTail = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool has_tag(Bytes bytes, std::size_t at, const char (&tag)[5]) {
    return std::equal(tag, tag + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

// The first four bytes, as text when they are printable, for messages about
// files that are not WAV at all.
std::string describe_start(Bytes bytes) {
    std::string shown;
    for (std::size_t i = 0; i < std::min<std::size_t>(4, bytes.size()); ++i) {
        const std::uint8_t b = bytes[i];
        if (b < 0x20 || b > 0x7E) {
            return "";
        }
        shown += static_cast<char>(b);
    }
    return shown.empty() ? "" : " (it starts with \"" + shown + "\")";
}

std::string format_name(std::uint16_t tag) {
    switch (tag) {
    case kFormatPcm:
        return "PCM";
    case kFormatFloat:
        return "floating-point";
    case kFormatAdpcm:
        return "ADPCM-compressed";
    case kFormatImaAdpcm:
        return "IMA-ADPCM-compressed";
    case kFormatAlaw:
        return "A-law-compressed";
    case kFormatMulaw:
        return "mu-law-compressed";
    case kFormatGsm:
        return "GSM-compressed";
    case kFormatMpeg:
    case kFormatMp3:
        return "MPEG-compressed";
    default: {
        char name[48];
        std::snprintf(name, sizeof name, "compressed (format tag 0x%04X)", tag);
        return name;
    }
    }
}

std::string channels_name(std::uint16_t channels) {
    switch (channels) {
    case 1:
        return "mono";
    case 2:
        return "stereo";
    default:
        return std::to_string(channels) + "-channel";
    }
}

struct Chunk {
    std::size_t offset = 0;    // of the chunk's body
    std::uint64_t claimed = 0; // the size its header gives
    std::size_t present = 0;   // how much of that the file holds
};

struct Chunks {
    std::optional<Chunk> format;
    std::optional<Chunk> data;
};

// Walks the chunks after the RIFF header up to the end of the bytes. The
// RIFF size is not trusted (streaming writers leave it 0 or too large); the
// first "fmt " and the first "data" chunk count, any other chunk is skipped,
// and a chunk of odd size is followed by one pad byte.
Chunks find_chunks(Bytes bytes) {
    Chunks chunks;
    std::uint64_t at = kRiffHeaderSize;
    while (at + kChunkHeaderSize <= bytes.size()) {
        const auto header = static_cast<std::size_t>(at);
        const std::uint64_t claimed = load_u32le(bytes, header + 4);
        const std::size_t body = header + kChunkHeaderSize;
        const auto present =
            static_cast<std::size_t>(std::min<std::uint64_t>(claimed, bytes.size() - body));
        const Chunk chunk{body, claimed, present};
        if (has_tag(bytes, header, "fmt ") && !chunks.format) {
            chunks.format = chunk;
        } else if (has_tag(bytes, header, "data") && !chunks.data) {
            chunks.data = chunk;
        }
        at = body + claimed + (claimed % 2);
    }
    return chunks;
}

struct Format {
    std::uint16_t tag = 0; // the sub-format's tag for an extensible header
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t block_align = 0;
    std::uint16_t bits = 0;
};

// Reads the format chunk; an error message when it cannot be read.
std::string read_format(Bytes bytes, const Chunk& chunk, Format& format) {
    if (chunk.present < kPcmFormatSize) {
        return "its fmt chunk is too short (" + std::to_string(chunk.present) + " bytes)";
    }
    const Bytes body = bytes.subspan(chunk.offset, chunk.present);
    format.tag = load_u16le(body, 0);
    format.channels = load_u16le(body, 2);
    format.rate = load_u32le(body, 4);
    format.block_align = load_u16le(body, 12);
    format.bits = load_u16le(body, 14);
    if (format.tag != kFormatExtensible) {
        return "";
    }
    if (body.size() < kExtensibleFormatSize) {
        return "its extensible fmt chunk is too short (" + std::to_string(body.size()) + " bytes)";
    }
    const Bytes guid = body.subspan(24, 16);
    if (!std::equal(kSubFormatGuidTail.begin(), kSubFormatGuidTail.end(), guid.begin() + 2)) {
        format.tag = kFormatExtensible;
        return "it is an extensible WAV file with an unknown sub-format";
    }
    format.tag = load_u16le(guid, 0);
    return "";
}

std::string check_format(const Format& format) {
    if (format.tag != kFormatPcm || format.bits != 16 || format.channels != 1) {
        return "it is " + std::to_string(format.bits) + "-bit " + channels_name(format.channels) +
               " " + format_name(format.tag) + "; only 16-bit mono PCM can be packed";
    }
    if (format.block_align != 2) {
        return "its block align is " + std::to_string(format.block_align) +
               ", which does not fit 16-bit mono PCM";
    }
    if (format.rate == 0) {
        return "its sample rate is 0";
    }
    return "";
}

// The samples of a data chunk, read as little-endian pairs of bytes; lets
// the sample vector be filled as it is allocated, with no zeroing first.
class SampleIterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::int16_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::int16_t*;
    using reference = std::int16_t;

    SampleIterator() = default;
    explicit SampleIterator(const std::uint8_t* at) : at_(at) {}

    std::int16_t operator*() const { return static_cast<std::int16_t>(at_[0] | (at_[1] << 8)); }
    SampleIterator& operator++() {
        at_ += 2;
        return *this;
    }
    SampleIterator operator++(int) {
        SampleIterator before = *this;
        at_ += 2;
        return before;
    }
    bool operator==(const SampleIterator& other) const { return at_ == other.at_; }

  private:
    const std::uint8_t* at_ = nullptr;
};

WavReadResult refuse(std::string error) {
    WavReadResult result;
    result.error = std::move(error);
    return result;
}

} // namespace

WavReadResult parse_wav(std::span<const std::uint8_t> bytes, std::vector<std::int16_t> reuse,
                        Samples samples) {
    if (bytes.size() >= 4 && has_tag(bytes, 0, "RIFX")) {
        return refuse("it is a big-endian RIFX file, not a WAV file");
    }
    if (bytes.size() >= 4 && has_tag(bytes, 0, "RF64")) {
        return refuse("it is an RF64 file (64-bit sizes), which is not supported");
    }
    if (bytes.size() < kRiffHeaderSize || !has_tag(bytes, 0, "RIFF")) {
        if (bytes.empty()) {
            return refuse("it is empty, not a WAV file");
        }
        return refuse("it is not a RIFF file" + describe_start(bytes));
    }
    if (!has_tag(bytes, 8, "WAVE")) {
        return refuse("it is a RIFF file but not WAVE" + describe_start(bytes.subspan(8)));
    }

    const Chunks chunks = find_chunks(bytes);
    if (!chunks.format) {
        return refuse("it has no fmt chunk");
    }
    Format format;
    if (std::string error = read_format(bytes, *chunks.format, format); !error.empty()) {
        return refuse(std::move(error));
    }
    if (std::string error = check_format(format); !error.empty()) {
        return refuse(std::move(error));
    }
    if (!chunks.data) {
        return refuse("it has no data chunk");
    }

    WavReadResult result;
    const Chunk& data = *chunks.data;
    if (data.claimed > data.present) {
        result.clip.warnings.push_back("its data chunk claims " + std::to_string(data.claimed) +
                                       " bytes but the file holds only " +
                                       std::to_string(data.present) + "; packing those");
    }
    if (data.present % 2 != 0) {
        result.clip.warnings.push_back("its data ends in half a sample; that last byte is ignored");
    }
    result.clip.sample_rate = format.rate;
    const Bytes sample_bytes = bytes.subspan(data.offset, data.present - data.present % 2);
    result.clip.sample_bytes = sample_bytes;
    if (samples == Samples::copied) {
        result.clip.samples = std::move(reuse);
        result.clip.samples.assign(SampleIterator(sample_bytes.data()),
                                   SampleIterator(sample_bytes.data() + sample_bytes.size()));
    }
    return result;
}

WavReadResult read_wav_file(const std::string& path) {
    WavReadBuffers buffers;
    return read_wav_file(path, buffers);
}

WavReadResult read_wav_file(const std::string& path, WavReadBuffers& buffers, Samples samples) {
    const WholeFileRead read = read_whole_file(path, buffers.bytes, buffers.capacity);
    const auto reason = [&] { return std::generic_category().message(read.os_error); };
    switch (read.problem) {
    case WholeFileProblem::none:
        return parse_wav(read.bytes, std::move(buffers.samples), samples);
    case WholeFileProblem::cannot_open:
        return refuse("cannot open it: " + reason());
    case WholeFileProblem::not_seekable:
        return refuse("cannot read it: it is not a seekable file");
    case WholeFileProblem::cannot_read:
        return refuse("cannot read it: " + reason());
    case WholeFileProblem::too_large:
        break;
    }
    return refuse("it is too large to read (" + std::to_string(read.size) + " bytes)");
}

} // namespace pev::wav
