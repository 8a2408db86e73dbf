#pragma once
// One way of decoding (the scalar decoder, or the decoder for one vector
// instruction set) as three functions over plain pointers and counts, with
// the promises of block_decoder.hpp: nothing read past `bytes + byte_count`
// (bytes past it read as 0), nothing written past `samples + room`, and
// nothing written past the samples returned either.
//
// Plain pointers, not spans: each vector decoder is its own translation unit
// built for its own instruction set, and keeps the standard library's
// templates out of its interface so that no copy of them built for one
// processor is shared with code that runs on another.

#include <cstddef>
#include <cstdint>

namespace pev::codec {

struct DecoderFunctions {
    std::size_t (*decode_entry)(const std::int16_t* sizes, std::size_t block_count,
                                const std::uint8_t* bytes, std::size_t byte_count,
                                std::int16_t* samples, std::size_t room);
    std::size_t (*decode_block)(std::int16_t stored_size, const std::uint8_t* bytes,
                                std::size_t byte_count, std::int16_t* samples, std::size_t room);
    std::size_t (*count_block)(std::int16_t stored_size, const std::uint8_t* bytes,
                               std::size_t byte_count);
};

// The rest of a delta block by the scalar decoder, for vector decoders
// without a byte shuffle, from its first escape on: the delta block of
// `stored` bytes `start` bytes into the entry's bytes, from nibble `from` at
// `level` (0 is level 0). Returns the samples written, at most `room`.
std::size_t decode_delta_rest_scalar(const std::uint8_t* bytes, std::size_t byte_count,
                                     std::uint64_t start, std::size_t stored, std::size_t from,
                                     std::uint8_t level, std::int16_t* samples, std::size_t room);

// Each is defined only where its translation unit is built (src/CMakeLists.txt
// defines PEV_DECODER_X86, PEV_DECODER_NEON or PEV_DECODER_SIMD128).
extern const DecoderFunctions kScalarDecoder;
extern const DecoderFunctions kSse2Decoder;
extern const DecoderFunctions kAvx2Decoder;
extern const DecoderFunctions kNeonDecoder;
extern const DecoderFunctions kSimd128Decoder;

} // namespace pev::codec
