#pragma once
// The decoders this build holds: the scalar one everywhere, and one per
// vector instruction set where the target has it (SSE2 and AVX2 on x86-64,
// NEON on 64-bit ARM, SIMD128 in WebAssembly). They give the same samples
// for every input. block_decoder.hpp's functions use the best one this
// processor runs; tests and benchmarks name one here.

#include <cstddef>
#include <cstdint>
#include <span>

namespace pev {

enum class DecoderPath { scalar, sse2, avx2, neon, simd128 };

const char* decoder_path_name(DecoderPath path);

// The paths this build holds and this processor can run, scalar first and
// the one block_decoder.hpp uses last.
std::span<const DecoderPath> usable_decoder_paths();

// The fastest usable path. Chosen once, at the first call, from what the
// processor reports; never changes afterwards.
DecoderPath best_decoder_path();

// block_decoder.hpp's functions on a path of usable_decoder_paths().
std::size_t decode_entry_on(DecoderPath path, std::span<const std::int16_t> block_sizes,
                            std::span<const std::uint8_t> compressed,
                            std::span<std::int16_t> samples);
std::size_t decode_block_on(DecoderPath path, std::int16_t stored_size,
                            std::span<const std::uint8_t> bytes, std::span<std::int16_t> samples);
std::size_t count_block_samples_on(DecoderPath path, std::int16_t stored_size,
                                   std::span<const std::uint8_t> bytes);
std::uint64_t count_entry_samples_on(DecoderPath path, std::span<const std::int16_t> block_sizes,
                                     std::span<const std::uint8_t> compressed);

} // namespace pev
