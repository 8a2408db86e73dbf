#include "codec/block_decoder.hpp"

#include "codec/tables.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace pev {
namespace {

// The delta steps of a byte's low and high nibble, indexed by the whole byte,
// so the common path needs neither a mask nor a shift per sample.
constexpr std::array<std::uint8_t, 256> make_nibble_steps(bool high) {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        table[b] = kDelta[high ? (b >> 4) : (b & 0x0F)];
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> kLowNibbleStep = make_nibble_steps(false);
constexpr std::array<std::uint8_t, 256> kHighNibbleStep = make_nibble_steps(true);

constexpr unsigned kEscapeNibble = 0x0F;

constexpr bool byte_has_escape(std::uint8_t b) {
    return (b & 0x0F) == kEscapeNibble || (b >> 4) == kEscapeNibble;
}

// True when any of the sixteen nibbles of `word` is an escape (all four bits
// set). Only the lowest bit of each nibble survives the mask, so nibbles never
// mix; the byte order of the load does not matter.
constexpr bool word_has_escape(std::uint64_t word) {
    return (word & (word >> 1) & (word >> 2) & (word >> 3) & 0x1111111111111111ULL) != 0;
}

// The entry's compressed bytes, with every byte past their end reading as 0.
class ByteSource {
  public:
    explicit ByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint8_t at(std::uint64_t index) const {
        return index < bytes_.size() ? bytes_[static_cast<std::size_t>(index)] : 0;
    }
    // How many of the `wanted` bytes from `index` on are really present.
    std::size_t present(std::uint64_t index, std::size_t wanted) const {
        if (index >= bytes_.size()) {
            return 0;
        }
        return static_cast<std::size_t>(std::min<std::uint64_t>(wanted, bytes_.size() - index));
    }
    const std::uint8_t* pointer(std::uint64_t index) const {
        return bytes_.data() + static_cast<std::size_t>(index);
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

// Output cursor that never passes the end of the sample span.
struct SampleSink {
    std::span<std::int16_t> samples;
    std::size_t written = 0;

    std::size_t room() const { return samples.size() - written; }
    std::int16_t* cursor() { return samples.data() + written; }
};

void decode_silent_block(SampleSink& sink) {
    const std::size_t count = std::min(kSamplesPerBlock, sink.room());
    std::fill_n(sink.cursor(), count, std::int16_t{0});
    sink.written += count;
}

void decode_raw_block(const ByteSource& source, std::uint64_t start, SampleSink& sink) {
    const std::size_t count = std::min(kSamplesPerBlock, sink.room());
    std::int16_t* out = sink.cursor();
    if (source.present(start, count) == count) {
        const std::uint8_t* in = source.pointer(start);
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = kExpansion[in[i]];
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = kExpansion[source.at(start + i)];
        }
    }
    sink.written += count;
}

// Decodes whole bytes without escape nibbles, two samples each, from `in`
// until `limit` bytes are done or a byte holds an escape. Returns the number
// of bytes decoded. This is where nearly all delta samples are made.
std::size_t decode_plain_bytes(const std::uint8_t* in, std::size_t limit, std::uint8_t& level,
                               std::int16_t* out) {
    std::size_t done = 0;
    std::uint8_t acc = level;
    while (limit - done >= 8) {
        std::uint64_t word;
        std::memcpy(&word, in + done, sizeof word);
        if (word_has_escape(word)) {
            break;
        }
        for (std::size_t i = 0; i < 8; ++i) {
            const std::uint8_t b = in[done + i];
            acc = static_cast<std::uint8_t>(acc + kLowNibbleStep[b]);
            out[2 * (done + i)] = kExpansion[acc];
            acc = static_cast<std::uint8_t>(acc + kHighNibbleStep[b]);
            out[2 * (done + i) + 1] = kExpansion[acc];
        }
        done += 8;
    }
    while (done < limit && !byte_has_escape(in[done])) {
        const std::uint8_t b = in[done];
        acc = static_cast<std::uint8_t>(acc + kLowNibbleStep[b]);
        out[2 * done] = kExpansion[acc];
        acc = static_cast<std::uint8_t>(acc + kHighNibbleStep[b]);
        out[2 * done + 1] = kExpansion[acc];
        ++done;
    }
    level = acc;
    return done;
}

// One delta block of `stored` bytes starting at `start`. Nibble j lies in
// byte j / 2, low half first. An escape begun in the block's last two nibbles
// takes its missing nibbles from the byte right after the block, which the
// next block with stored bytes decodes again as its own.
void decode_delta_block(const ByteSource& source, std::uint64_t start, std::size_t stored,
                        SampleSink& sink) {
    const std::size_t nibbles = 2 * stored;
    auto nibble = [&](std::size_t j) -> unsigned {
        const std::uint8_t b = source.at(start + j / 2);
        return (j % 2 == 0) ? (b & 0x0Fu) : (b >> 4);
    };

    std::uint8_t level = 0;
    std::size_t j = 0;
    while (j < nibbles) {
        if (j % 2 == 0) {
            const std::size_t byte = j / 2;
            const std::size_t limit =
                std::min(source.present(start + byte, stored - byte), sink.room() / 2);
            const std::size_t done = limit == 0 ? 0
                                                : decode_plain_bytes(source.pointer(start + byte),
                                                                     limit, level, sink.cursor());
            sink.written += 2 * done;
            j += 2 * done;
            if (j >= nibbles) {
                break;
            }
        }
        if (sink.room() == 0) {
            break;
        }
        unsigned code = nibble(j++);
        if (code == kEscapeNibble) {
            code = nibble(j) | (nibble(j + 1) << 4);
            j += 2;
        }
        level = static_cast<std::uint8_t>(level + kDelta[code]);
        sink.samples[sink.written++] = kExpansion[level];
    }
}

} // namespace

EntryMeasure measure_entry(std::span<const std::int16_t> block_sizes) {
    EntryMeasure measure;
    for (const std::int16_t size : block_sizes) {
        if (is_malformed_block_size(size)) {
            measure.malformed = true;
        } else if (size == kSilentBlock || size == kRawBlock) {
            measure.compressed_bytes += static_cast<std::uint64_t>(size);
            measure.sample_bound += kSamplesPerBlock;
        } else {
            measure.compressed_bytes += static_cast<std::uint64_t>(size);
            measure.sample_bound += 2 * static_cast<std::uint64_t>(size);
        }
    }
    return measure;
}

std::size_t decode_entry(std::span<const std::int16_t> block_sizes,
                         std::span<const std::uint8_t> compressed,
                         std::span<std::int16_t> samples) {
    const ByteSource source(compressed);
    SampleSink sink{samples};
    std::uint64_t position = 0;
    for (const std::int16_t size : block_sizes) {
        if (sink.room() == 0) {
            break;
        }
        if (is_malformed_block_size(size)) {
            continue;
        }
        if (size == kSilentBlock) {
            decode_silent_block(sink);
        } else if (size == kRawBlock) {
            decode_raw_block(source, position, sink);
        } else {
            decode_delta_block(source, position, static_cast<std::size_t>(size), sink);
        }
        position += static_cast<std::uint64_t>(size);
    }
    return sink.written;
}

} // namespace pev
