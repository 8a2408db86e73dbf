#pragma once
// The block decoder on a vector unit, written once over a `Lanes` type that
// each instruction set provides (avx2_decoder.cpp, sse2_decoder.cpp, and
// lanes128.hpp for NEON and SIMD128).
//
// A delta block is decoded a stretch of 64 nibble positions (32 stored
// bytes) at a time, as two windows of 32 positions. Where the stretch holds
// no escape, every position is a code: the steps come from a 16-entry byte
// lookup, the levels are their running sum (shifts and adds, modulo 256, on
// from the level before) and the samples are the square law done in
// arithmetic: with v = level - 128 as a signed byte, the sample is 2·v·|v|,
// which is the expansion table exactly (-32768 .. 32258). Where it holds
// escapes, the positions where codes begin are found with bit arithmetic on
// the stretch's escape mask (code_starts.hpp); the step of each position is
// worked out as if a code began there, the steps of real codes are moved
// together with a byte shuffle, eight positions at a time, and summed and
// expanded the same way. A decoder whose instruction set has no byte shuffle
// (SSE2) hands a block to the scalar decoder from its first stretch with an
// escape on. Raw blocks are the square law alone; silent blocks a fill.
//
// The levels run in the offset form v = level - 128 (level 0, where every
// delta block starts, is 0x80), which is the signed byte the square law
// wants; adding a step modulo 256 is the same in either form.
//
// A stretch's loads take 40 bytes from its start, and only where all 40 are
// in the entry's bytes; near their end the stretch is copied, with 0s after
// the end, into a buffer on the stack. Stores write whole vectors: up to 64
// samples from where the stretch's samples begin, however few it gives.
// They go straight to the caller's samples only where at least 64 samples
// are still to come there (the codes left in the block, at least one per
// three nibbles, and the blocks after it), which overwrite the rest.
// Elsewhere a stretch's samples go through a buffer on the stack, and
// nothing is written past the last sample decoded.
//
// Everything here has internal linkage, on purpose: each translation unit
// that includes this header is built for its own instruction set (-mavx2 for
// one), and an inline function of external linkage would be merged by the
// linker with another unit's copy, which may use instructions the processor
// lacks. For the same reason only the standard library's plain C functions
// are called here.

#include "codec/decoder_functions.hpp"
#include "codec/vector/code_starts.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pev::codec {
namespace {

// Lanes::load reads 24 bytes from a window's start: its 16, the byte whose
// nibbles an escape in its last two positions takes, and the rest of a
// second 16-byte load that starts halfway.
constexpr std::size_t kWindowNibbles = 32;
constexpr unsigned kStretchNibbles = 64;
constexpr std::size_t kStretchLoadBytes = 40;
// What Lanes::escape_positions reads for the sample count: 64 positions.
constexpr std::size_t kScanBytes = 32;
constexpr std::size_t kBlockSamples = 1024;
constexpr std::int16_t kSilent = 0;
constexpr std::int16_t kRaw = 1024;
constexpr std::uint8_t kBlockStartLevel = 0x80; // level 0 in the offset form

// The entry's stored bytes; past them every byte reads as 0.
struct StoredBytes {
    const std::uint8_t* data;
    std::size_t size;

    // `count` bytes from `offset`: in place when they are all there, else
    // copied into `staged` (room for `count`) with 0s after the end.
    const std::uint8_t* at(std::uint64_t offset, std::size_t count, std::uint8_t* staged) const {
        if (offset <= size && size - offset >= count) {
            return data + offset;
        }
        std::memset(staged, 0, count);
        if (offset < size) {
            std::memcpy(staged, data + offset, static_cast<std::size_t>(size - offset));
        }
        return staged;
    }
};

struct SampleCursor {
    std::int16_t* at;
    std::int16_t* end;

    std::size_t room() const { return static_cast<std::size_t>(end - at); }
};

// The fewest samples a block gives, whatever its bytes: a delta block has a
// code at least every third nibble.
constexpr std::uint64_t least_samples(std::int16_t stored) {
    if (stored < 0) {
        return 0;
    }
    if (stored == kSilent || stored == kRaw) {
        return kBlockSamples;
    }
    return (2 * static_cast<std::uint64_t>(stored) + 2) / 3;
}

template <class Lanes> struct VectorDecoder {
    using Level = typename Lanes::Level;

    // A stretch of two windows with escapes: up to 64 samples from `out` on,
    // whatever their number.
    PEV_INLINE_STRETCH static std::size_t stretch(const typename Lanes::Window& first,
                                                  const typename Lanes::Window& second,
                                                  const std::uint8_t* in, std::uint64_t starts,
                                                  Level& level, std::int16_t* out) {
        const std::size_t count =
            Lanes::codes(first, in, static_cast<std::uint32_t>(starts), level, out);
        return count + Lanes::codes(second, in + kWindowNibbles / 2,
                                    static_cast<std::uint32_t>(starts >> 32), level, out + count);
    }

    // The codes of a stretch that holds escapes, `carried` positions at its
    // start taken by the stretch before, `left` in the block: up to 64
    // samples from `out` on.
    PEV_INLINE_STRETCH static std::size_t
    stretch_with_escapes(const typename Lanes::Window& first, const typename Lanes::Window& second,
                         const std::uint8_t* in, std::uint64_t escapes, std::uint64_t& carried,
                         std::size_t left, Level& level, std::int16_t* out) {
        const CodeStarts starts = find_code_starts<kStretchNibbles>(escapes, carried, left);
        carried = starts.carried;
        return stretch(first, second, in, starts.starts, level, out);
    }

    // Without a byte shuffle, code by code is all there is for escapes, and
    // the scalar decoder does it best, plain runs and all: the rest of the
    // block is its, from the first stretch with an escape on.
    static void hand_over(StoredBytes bytes, std::uint64_t start, std::size_t stored,
                          std::size_t from, Level level, std::int16_t*& at, std::int16_t* end) {
        const auto plain_level = static_cast<std::uint8_t>(Lanes::level_value(level) ^ 0x80);
        at += decode_delta_rest_scalar(bytes.data, bytes.size, start, stored, from, plain_level, at,
                                       static_cast<std::size_t>(end - at));
    }

    static std::uint64_t escapes_of(const typename Lanes::Window& first,
                                    const typename Lanes::Window& second) {
        return Lanes::escape_nibbles(first) |
               (std::uint64_t{Lanes::escape_nibbles(second)} << kWindowNibbles);
    }

    // One delta block of `stored` bytes from `start`, a stretch of 64
    // positions at a time. `promised` is the fewest samples the blocks after
    // it give.
    static void delta_block(StoredBytes bytes, std::uint64_t start, std::size_t stored,
                            std::uint64_t promised, SampleCursor& out) {
        const std::size_t nibbles = 2 * stored;
        // A stretch's stores may go straight out while at least one code per
        // three positions left, and the blocks after, cover them.
        const std::uint64_t direct_left =
            promised >= kStretchNibbles ? 0 : 3 * (kStretchNibbles - promised);
        Level level = Lanes::level(kBlockStartLevel);
        std::uint64_t carried = 0;
        std::int16_t* at = out.at; // a local, which stores through vectors cannot change

        // First the stretches that lie in the block and in the bytes and go
        // straight out, with nothing to check on the way.
        std::size_t bulk = nibbles / kStretchNibbles;
        bulk = bulk < out.room() / kStretchNibbles ? bulk : out.room() / kStretchNibbles;
        if (start > bytes.size || bytes.size - start < kStretchLoadBytes) {
            bulk = 0;
        } else if (const std::uint64_t in_bytes = (bytes.size - start - kStretchLoadBytes) / 32 + 1;
                   in_bytes < bulk) {
            bulk = static_cast<std::size_t>(in_bytes);
        }
        if (nibbles < direct_left) {
            bulk = 0;
        } else if (const std::uint64_t direct = (nibbles - direct_left) / kStretchNibbles + 1;
                   direct < bulk) {
            bulk = static_cast<std::size_t>(direct);
        }
        const std::uint8_t* in = bulk == 0 ? nullptr : bytes.data + start;
        for (std::size_t k = 0; k < bulk; ++k, in += kStretchNibbles / 2) {
            const typename Lanes::Window first = Lanes::load(in);
            const typename Lanes::Window second = Lanes::load(in + kWindowNibbles / 2);
            const std::uint64_t escapes = escapes_of(first, second);
            if ((escapes | carried) == 0) {
                Lanes::plain(first, level, at);
                Lanes::plain(second, level, at + kWindowNibbles);
                at += kStretchNibbles;
                continue;
            }
            if constexpr (Lanes::kShuffles) {
                at += stretch_with_escapes(first, second, in, escapes, carried, kStretchNibbles,
                                           level, at);
            } else {
                hand_over(bytes, start, stored, k * kStretchNibbles, level, at, out.end);
                out.at = at;
                return;
            }
        }

        // Then the rest, from a copy of the bytes near their end and through
        // a buffer where the samples near the end are. Without a byte shuffle
        // it is not worth a vector stretch so near the block's end.
        const std::size_t rest = bulk * kStretchNibbles;
        if constexpr (!Lanes::kShuffles) {
            if (rest < nibbles && at != out.end) {
                hand_over(bytes, start, stored, rest, level, at, out.end);
            }
        } else {
            for (std::size_t j = rest; j < nibbles && at != out.end; j += kStretchNibbles) {
                alignas(32) std::uint8_t staged[kStretchLoadBytes];
                const std::uint8_t* from = bytes.at(start + j / 2, kStretchLoadBytes, staged);
                const typename Lanes::Window first = Lanes::load(from);
                const typename Lanes::Window second = Lanes::load(from + kWindowNibbles / 2);
                const std::size_t left = nibbles - j;
                const std::uint64_t escapes = escapes_of(first, second);
                const auto room = static_cast<std::size_t>(out.end - at);
                if (room >= kStretchNibbles && left >= direct_left) {
                    at += stretch_with_escapes(first, second, from, escapes, carried, left, level,
                                               at);
                } else {
                    alignas(32) std::int16_t samples[kStretchNibbles];
                    std::size_t count = stretch_with_escapes(first, second, from, escapes, carried,
                                                             left, level, samples);
                    count = count < room ? count : room;
                    std::memcpy(at, samples, count * sizeof samples[0]);
                    at += count;
                }
            }
        }
        out.at = at;
    }

    static void raw_block(StoredBytes bytes, std::uint64_t start, SampleCursor& out) {
        const std::size_t count = out.room() < kBlockSamples ? out.room() : kBlockSamples;
        std::size_t present = 0;
        if (start < bytes.size) {
            const std::uint64_t there = bytes.size - start;
            present = there < count ? static_cast<std::size_t>(there) : count;
        }
        std::size_t i = 0;
        for (; present - i >= 32; i += 32) {
            Lanes::raw32(bytes.data + start + i, out.at + i);
        }
        for (; i < present; ++i) {
            out.at[i] = square_law(bytes.data[start + i]);
        }
        for (; i < count; ++i) {
            out.at[i] = square_law(0); // missing bytes read as 0
        }
        out.at += count;
    }

    static void silent_block(SampleCursor& out) {
        const std::size_t count = out.room() < kBlockSamples ? out.room() : kBlockSamples;
        std::size_t i = 0;
        for (; count - i >= 32; i += 32) {
            Lanes::silence32(out.at + i);
        }
        for (; i < count; ++i) {
            out.at[i] = 0;
        }
        out.at += count;
    }

    static void block(StoredBytes bytes, std::uint64_t start, std::int16_t stored,
                      std::uint64_t promised, SampleCursor& out) {
        if (stored < 0) {
            return;
        }
        if (stored == kSilent) {
            silent_block(out);
        } else if (stored == kRaw) {
            raw_block(bytes, start, out);
        } else {
            delta_block(bytes, start, static_cast<std::size_t>(stored), promised, out);
        }
    }

    static std::size_t decode_entry(const std::int16_t* sizes, std::size_t block_count,
                                    const std::uint8_t* bytes, std::size_t byte_count,
                                    std::int16_t* samples, std::size_t room) {
        std::uint64_t promised = 0;
        for (std::size_t i = 0; i < block_count; ++i) {
            promised += least_samples(sizes[i]);
        }
        SampleCursor out{samples, samples + room};
        std::uint64_t position = 0;
        for (std::size_t i = 0; i < block_count && out.at != out.end; ++i) {
            promised -= least_samples(sizes[i]);
            block({bytes, byte_count}, position, sizes[i], promised, out);
            if (sizes[i] > 0) {
                position += static_cast<std::uint64_t>(sizes[i]);
            }
        }
        return static_cast<std::size_t>(out.at - samples);
    }

    static std::size_t decode_block(std::int16_t stored, const std::uint8_t* bytes,
                                    std::size_t byte_count, std::int16_t* samples,
                                    std::size_t room) {
        SampleCursor out{samples, samples + room};
        if (room != 0) {
            block({bytes, byte_count}, 0, stored, 0, out);
        }
        return static_cast<std::size_t>(out.at - samples);
    }

    // The codes of a block: every position but those an escape takes, 64
    // positions a time. Only the block's own nibbles matter; bytes past it
    // may be loaded, and their positions are not counted.
    static std::size_t count_block(std::int16_t stored, const std::uint8_t* bytes,
                                   std::size_t byte_count) {
        if (stored < 0) {
            return 0;
        }
        if (stored == kSilent || stored == kRaw) {
            return kBlockSamples;
        }
        const std::size_t nibbles = 2 * static_cast<std::size_t>(stored);
        // First the stretches that lie in the block and in the bytes.
        std::size_t bulk = nibbles / kStretchNibbles;
        const std::size_t in_bytes =
            byte_count < kScanBytes ? 0 : (byte_count - kScanBytes) / kScanBytes + 1;
        bulk = in_bytes < bulk ? in_bytes : bulk;
        std::size_t taken = 0;
        std::uint64_t carried = 0;
        for (std::size_t k = 0; k < bulk; ++k) {
            const std::uint64_t escapes = Lanes::escape_positions(bytes + k * kScanBytes);
            if ((escapes | carried) != 0) {
                const CodeStarts starts =
                    find_code_starts<kStretchNibbles>(escapes, carried, kStretchNibbles);
                taken += kStretchNibbles - count_bits(starts.starts);
                carried = starts.carried;
            }
        }
        std::size_t codes = bulk * kStretchNibbles - taken;
        const StoredBytes block{bytes, byte_count};
        for (std::size_t j = bulk * kStretchNibbles; j < nibbles; j += kStretchNibbles) {
            alignas(32) std::uint8_t staged[kScanBytes];
            const std::uint64_t escapes =
                Lanes::escape_positions(block.at(j / 2, kScanBytes, staged));
            const CodeStarts starts =
                find_code_starts<kStretchNibbles>(escapes, carried, nibbles - j);
            codes += count_bits(starts.starts);
            carried = starts.carried;
        }
        return codes;
    }

    static constexpr DecoderFunctions functions() {
        return {&decode_entry, &decode_block, &count_block};
    }
};

} // namespace
} // namespace pev::codec
