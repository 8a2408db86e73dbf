#include "codec/block_decoder.hpp"

#include "codec/decoder_functions.hpp"
#include "codec/tables.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

// The scalar decoder: the reference the vector decoders (src/codec/vector/)
// must agree with, and the one used where there is no vector unit.
//
// Built without GCC's vectoriser (see src/CMakeLists.txt): it turns the
// table-lookup loops below into vector loads taken apart again lane by lane.

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

// The top bit of every nibble of `word` that is an escape (all four bits
// set), possibly with more above it; 0 when there is none. Adding 1 to every
// nibble carries out of exactly the all-ones nibbles, which lose their top
// bit; any other nibble keeps its top bit or never had it, unless a carry came
// in from below, which only an escape starts. The byte order of the load does
// not matter.
constexpr std::uint64_t escape_bits(std::uint64_t word) {
    return word & ~(word + 0x1111111111111111ULL) & 0x8888888888888888ULL;
}
static_assert(escape_bits(0) == 0 && escape_bits(0xEEEEEEEEEEEEEEEEULL) == 0);
static_assert(escape_bits(0x7E7E7E7E7E7E7E7EULL) == 0 && escape_bits(0x8E8E8E8E8E8E8E8EULL) == 0);
static_assert(escape_bits(0xF) != 0 && escape_bits(0xF000000000000000ULL) != 0);
static_assert(escape_bits(0xEEEEEEEEEEEEEEEFULL) != 0 && escape_bits(0x00000000F0000000ULL) != 0);

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

// One table read per byte. The fixed inner count lets the compiler unroll
// it, spreading the loop's own count and branch over 16 samples.
void expand_bytes(const std::uint8_t* in, std::size_t count, std::int16_t* out) {
    std::size_t i = 0;
    for (; count - i >= 16; i += 16) {
#pragma GCC unroll 16
        for (std::size_t k = 0; k < 16; ++k) {
            out[i + k] = kExpansion[in[i + k]];
        }
    }
    for (; i < count; ++i) {
        out[i] = kExpansion[in[i]];
    }
}

void decode_raw_block(const ByteSource& source, std::uint64_t start, SampleSink& sink) {
    const std::size_t count = std::min(kSamplesPerBlock, sink.room());
    std::int16_t* out = sink.cursor();
    const std::size_t present = source.present(start, count);
    if (present > 0) {
        expand_bytes(source.pointer(start), present, out);
    }
    // Bytes missing at the entry's end read as 0.
    std::fill_n(out + present, count - present, kExpansion[0]);
    sink.written += count;
}

// Two samples from a byte without escapes, low nibble first.
inline void decode_plain_byte(std::uint8_t b, std::uint8_t& acc, std::int16_t* out) {
    acc = static_cast<std::uint8_t>(acc + kLowNibbleStep[b]);
    out[0] = kExpansion[acc];
    acc = static_cast<std::uint8_t>(acc + kHighNibbleStep[b]);
    out[1] = kExpansion[acc];
}

// Decodes whole bytes without escape nibbles, two samples each, from `in`
// until `limit` bytes are done or a byte holds an escape. Returns the number
// of bytes decoded. This is where nearly all delta samples are made, 16 bytes
// at a time after one check of their two words for escapes, so that the check
// and the loop's own count are spread over 32 samples.
std::size_t decode_plain_bytes(const std::uint8_t* in, std::size_t limit, std::uint8_t& level,
                               std::int16_t* out) {
    std::size_t done = 0;
    std::uint8_t acc = level;
    std::uint64_t words[2];
    while (limit - done >= sizeof words) {
        std::memcpy(words, in + done, sizeof words);
        if ((escape_bits(words[0]) | escape_bits(words[1])) != 0) {
            break;
        }
#pragma GCC unroll 16
        for (std::size_t i = 0; i < sizeof words; ++i) {
            decode_plain_byte(in[done + i], acc, out + 2 * (done + i));
        }
        done += sizeof words;
    }
    if (limit - done >= sizeof words[0]) {
        std::memcpy(words, in + done, sizeof words[0]);
        if (escape_bits(words[0]) == 0) {
#pragma GCC unroll 8
            for (std::size_t i = 0; i < sizeof words[0]; ++i) {
                decode_plain_byte(in[done + i], acc, out + 2 * (done + i));
            }
            done += sizeof words[0];
        }
    }
    while (done < limit && !byte_has_escape(in[done])) {
        decode_plain_byte(in[done], acc, out + 2 * done);
        ++done;
    }
    level = acc;
    return done;
}

// Eight bytes as one little-endian word: nibble k of the bytes is then bits
// 4k to 4k + 3 of the word, whatever the host.
inline std::uint64_t load_le64(const std::uint8_t* in) {
    std::uint64_t word;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, in, sizeof word);
    } else {
        word = 0;
        for (int i = 7; i >= 0; --i) {
            word = (word << 8) | in[i];
        }
    }
    return word;
}

// One code from the front of a nibble window: its step is added to `acc` and
// the window moves past it. Branch-free: where escapes come at random, a
// branch on them would be mispredicted more often than the work it saves.
// Returns the nibbles the code took, 1 or 3.
inline unsigned take_code(std::uint64_t& window, std::uint8_t& acc) {
    const unsigned nibble = window & 0x0F;
    const bool escape = nibble == kEscapeNibble;
    const unsigned code = escape ? static_cast<unsigned>((window >> 4) & 0xFF) : nibble;
    const unsigned length = escape ? 3 : 1;
    window >>= 4 * length;
    acc = static_cast<std::uint8_t>(acc + kDelta[code]);
    return length;
}

// Five codes from the window at nibble `j` of `in`: together they take 5 to
// 15 nibbles, so they always fit in the 15 or 16 nibbles one load brings.
// The caller makes sure those nibbles belong to the block. Returns the
// nibbles taken.
inline std::size_t decode_five_codes(const std::uint8_t* in, std::size_t j, std::uint8_t& level,
                                     std::int16_t* out) {
    std::uint64_t window = load_le64(in + j / 2) >> (4 * (j % 2));
    std::uint8_t acc = level;
    std::size_t used = 0;
    for (int i = 0; i < 5; ++i) {
        used += take_code(window, acc);
        out[i] = kExpansion[acc];
    }
    level = acc;
    return used;
}

// Decodes codes one by one from a window of the next 15 or 16 nibbles (from
// nibble `j` of `in`), as long as each code begins within the first 13, so an
// escape's three nibbles always lie inside the window, and within `limit`
// nibbles. Returns the nibbles consumed. For the stretch just before a
// block's end, where five codes at once might overrun it.
inline std::size_t decode_window(const std::uint8_t* in, std::size_t j, std::size_t limit,
                                 std::uint8_t& level, std::int16_t*& out, const std::int16_t* end) {
    std::uint64_t window = load_le64(in + j / 2) >> (4 * (j % 2));
    limit = std::min<std::size_t>(limit, 13);
    std::uint8_t acc = level;
    std::size_t used = 0;
    while (used < limit && out != end) {
        used += take_code(window, acc);
        *out++ = kExpansion[acc];
    }
    level = acc;
    return used;
}

// Nibble j of the bytes from `in` on, low half first.
inline unsigned nibble_at(const std::uint8_t* in, std::size_t j) {
    const std::uint8_t b = in[j / 2];
    return (j % 2 == 0) ? (b & 0x0Fu) : (b >> 4);
}

// One delta block of `stored` bytes starting at `start`. An escape begun in
// the block's last two nibbles takes its missing nibbles from the byte right
// after the block, which the next block with stored bytes decodes again as its
// own.
//
// Decodes from nibble `j` on, at `level`: from the start (0, 0) but for the
// SSE2 decoder, which hands a block over where its first escape is.
void decode_delta_block(const ByteSource& source, std::uint64_t start, std::size_t stored,
                        SampleSink& sink, std::size_t j = 0, std::uint8_t level = 0) {
    const std::size_t nibbles = 2 * stored;
    // The block's bytes and the one after it, as far as they exist.
    const std::size_t reachable = source.present(start, stored + 1);
    const std::uint8_t* in = reachable == 0 ? nullptr : source.pointer(start);
    std::int16_t* const first = sink.cursor();
    std::int16_t* const end = first + sink.room();
    std::int16_t* out = first;

    // Direct reads while all three nibbles an escape may need are in reach.
    // Runs of whole bytes without escapes go to the fast loop; a run is only
    // tried when its first word is free of escapes, so escape-heavy stretches
    // do not pay for setting it up at every byte.
    const std::size_t direct_end = std::min(nibbles, reachable >= 2 ? 2 * reachable - 2 : 0);
    while (j < direct_end && out != end) {
        const std::size_t room = static_cast<std::size_t>(end - out);
        if (j % 2 == 0 && direct_end - j >= 16 && room >= 16) {
            std::uint64_t word;
            std::memcpy(&word, in + j / 2, sizeof word);
            if (escape_bits(word) == 0) {
                const std::size_t limit = std::min(std::min(stored, reachable) - j / 2, room / 2);
                const std::size_t done = decode_plain_bytes(in + j / 2, limit, level, out);
                out += 2 * done;
                j += 2 * done;
                continue;
            }
        }
        if (direct_end - j >= 15 && room >= 5) {
            // Escape-dense stretches: five codes per load while they surely
            // lie within the block, until five in a row were plain and the
            // fast byte loop may take over again.
            std::size_t used = 0;
            do {
                used = decode_five_codes(in, j, level, out);
                out += 5;
                j += used;
            } while (used != 5 && direct_end - j >= 15 && end - out >= 5);
            continue;
        }
        if (j / 2 + sizeof(std::uint64_t) <= reachable) {
            j += decode_window(in, j, direct_end - j, level, out, end);
            continue;
        }
        unsigned code = nibble_at(in, j++);
        if (code == kEscapeNibble) {
            // After an escape in a high half the code is the next whole byte.
            code = j % 2 == 0 ? in[j / 2] : nibble_at(in, j) | (nibble_at(in, j + 1) << 4);
            j += 2;
        }
        level = static_cast<std::uint8_t>(level + kDelta[code]);
        *out++ = kExpansion[level];
    }

    // The block's last codes, whose escape may reach past the bytes that
    // exist: those read as 0.
    auto nibble = [&](std::size_t k) -> unsigned {
        const std::uint8_t b = source.at(start + k / 2);
        return (k % 2 == 0) ? (b & 0x0Fu) : (b >> 4);
    };
    while (j < nibbles && out != end) {
        unsigned code = nibble(j++);
        if (code == kEscapeNibble) {
            code = nibble(j) | (nibble(j + 1) << 4);
            j += 2;
        }
        level = static_cast<std::uint8_t>(level + kDelta[code]);
        *out++ = kExpansion[level];
    }
    sink.written += static_cast<std::size_t>(out - first);
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

namespace {

void decode_one_block(const ByteSource& source, std::uint64_t position, std::int16_t size,
                      SampleSink& sink) {
    if (is_malformed_block_size(size)) {
        return;
    }
    if (size == kSilentBlock) {
        decode_silent_block(sink);
    } else if (size == kRawBlock) {
        decode_raw_block(source, position, sink);
    } else {
        decode_delta_block(source, position, static_cast<std::size_t>(size), sink);
    }
}

// The low bit of every nibble of `word` that is an escape (all four bits set).
constexpr std::uint64_t escape_nibbles(std::uint64_t word) {
    const std::uint64_t pairs = word & (word >> 2); // bits 0 and 1 of each nibble: both pairs set
    return pairs & (pairs >> 1) & 0x1111111111111111ULL;
}
static_assert(escape_nibbles(0xF0F0) == 0x1010 && escape_nibbles(0x7EEF) == 0x1);

// Takes away the codes of escapes that start one, from `escapes` (the escape
// nibbles of the word at nibble `first`), one by one; `next_code` is where
// the next code starts. For the words the fast loop leaves.
void take_escapes_one_by_one(std::uint64_t escapes, std::size_t first, std::size_t nibbles,
                             std::size_t& next_code, std::size_t& codes) {
    for (; escapes != 0; escapes &= escapes - 1) {
        const std::size_t at = first + static_cast<std::size_t>(std::countr_zero(escapes)) / 4;
        if (at >= next_code) {
            next_code = at + 3;
            codes -= std::min(next_code, nibbles) - (at + 1);
        }
    }
}

// Of the escape nibbles of a word (none of them inside the code of an escape
// in the word before), those that start a code: every one not among the two
// nibbles after an escape that starts one. That rule, applied to a guess,
// gives a better one: each round settles at least one more nibble, from the
// low end, so rounds from "all of them" reach the answer, in two for nearly
// every word (no escape within two nibbles of another, or a pair of them).
// The answer is the only guess the rule keeps, so the rounds stop there.
constexpr std::uint64_t code_starting_escapes(std::uint64_t escapes) {
    const auto round = [escapes](std::uint64_t guess) {
        return escapes & ~((guess | (guess << 4)) << 4);
    };
    // Two rounds unconditionally, so that the usual word takes no branch
    // that is hard to predict.
    std::uint64_t guess = round(escapes);
    std::uint64_t better = round(guess);
    while (better != guess) {
        guess = better;
        better = round(guess);
    }
    return better;
}
static_assert(code_starting_escapes(0x1111) == 0x1001);
static_assert(code_starting_escapes(0x10101) == 0x10001);

// The codes of a delta block of `stored` bytes. Every nibble starts a code
// but the two an escape takes its code from, so only the escapes that start
// a code need finding, sixteen nibbles at a time: each takes two codes away,
// and the last one's code may take the next word's first nibbles. Words near
// the block's end, whose escapes may take fewer, go one escape at a time.
// Missing bytes read as 0, which holds no escape.
std::size_t count_delta_codes(std::span<const std::uint8_t> bytes, std::size_t stored) {
    const std::size_t present = std::min(bytes.size(), stored);
    const std::size_t nibbles = 2 * stored;
    std::size_t codes = nibbles;
    std::uint64_t last = 0; // the code-starting escapes of the word before
    std::size_t i = 0;
    for (; i + 8 <= present && 2 * i + 18 <= nibbles; i += 8) {
        // Resolved as if no escape reached into the word, so that words do
        // not wait for each other; redone in the few where one did: one in
        // nibble 15 of the word before takes nibbles 0 and 1, one in nibble
        // 14 takes nibble 0.
        const std::uint64_t escapes = escape_nibbles(load_le64(bytes.data() + i));
        std::uint64_t starts = code_starting_escapes(escapes);
        const std::uint64_t reaching = last >> 56; // nibbles 14 and 15, as bits 0 and 4
        if (const std::uint64_t taken = (reaching | (reaching >> 4)) & 0x11;
            (escapes & taken) != 0) {
            starts = code_starting_escapes(escapes & ~taken);
        }
        // Their number, summed into the top nibble: at most six, since they
        // lie three nibbles apart (and no popcount instruction is assumed).
        codes -= 2 * static_cast<std::size_t>((starts * 0x1111111111111111ULL) >> 60);
        last = starts;
    }
    std::size_t next_code = 2 * i + 2 * ((last >> 60) & 1) + ((last >> 56) & 1);
    for (; i < present; i += 8) {
        std::uint64_t word = 0;
        for (std::size_t k = std::min<std::size_t>(8, present - i); k-- > 0;) {
            word = (word << 8) | bytes[i + k];
        }
        take_escapes_one_by_one(escape_nibbles(word), 2 * i, nibbles, next_code, codes);
    }
    return codes;
}

// The scalar decoder, behind the same plain-pointer functions as the vector
// ones (decoder_functions.hpp).
std::size_t scalar_decode_entry(const std::int16_t* sizes, std::size_t block_count,
                                const std::uint8_t* bytes, std::size_t byte_count,
                                std::int16_t* samples, std::size_t room) {
    const ByteSource source({bytes, byte_count});
    SampleSink sink{{samples, room}};
    std::uint64_t position = 0;
    for (std::size_t i = 0; i < block_count; ++i) {
        if (sink.room() == 0) {
            break;
        }
        decode_one_block(source, position, sizes[i], sink);
        if (!is_malformed_block_size(sizes[i])) {
            position += static_cast<std::uint64_t>(sizes[i]);
        }
    }
    return sink.written;
}

std::size_t scalar_decode_block(std::int16_t stored_size, const std::uint8_t* bytes,
                                std::size_t byte_count, std::int16_t* samples, std::size_t room) {
    const ByteSource source({bytes, byte_count});
    SampleSink sink{{samples, room}};
    decode_one_block(source, 0, stored_size, sink);
    return sink.written;
}

std::size_t scalar_count_block(std::int16_t stored_size, const std::uint8_t* bytes,
                               std::size_t byte_count) {
    if (is_malformed_block_size(stored_size)) {
        return 0;
    }
    if (stored_size == kSilentBlock || stored_size == kRawBlock) {
        return kSamplesPerBlock;
    }
    return count_delta_codes({bytes, byte_count}, static_cast<std::size_t>(stored_size));
}

} // namespace

namespace codec {

std::size_t decode_delta_rest_scalar(const std::uint8_t* bytes, std::size_t byte_count,
                                     std::uint64_t start, std::size_t stored, std::size_t from,
                                     std::uint8_t level, std::int16_t* samples, std::size_t room) {
    const ByteSource source({bytes, byte_count});
    SampleSink sink{{samples, room}};
    decode_delta_block(source, start, stored, sink, from, level);
    return sink.written;
}

const DecoderFunctions kScalarDecoder = {&scalar_decode_entry, &scalar_decode_block,
                                         &scalar_count_block};
} // namespace codec

} // namespace pev
