#include "codec/decoder_paths.hpp"

#include "codec/block_decoder.hpp"
#include "codec/decoder_functions.hpp"

#include <array>

namespace pev {
namespace {

using codec::DecoderFunctions;

struct Usable {
    std::array<DecoderPath, 3> paths{};
    std::size_t count = 0;
};

// What this build holds and this processor runs, best last. Asked once: the
// processor's answer does not change while the program runs.
Usable find_usable_paths() {
    Usable usable;
    usable.paths[usable.count++] = DecoderPath::scalar;
#if PEV_DECODER_X86
    usable.paths[usable.count++] = DecoderPath::sse2;
    // The run-time library reads the processor's features (and whether the
    // system saves the AVX registers) in a constructor; asking again first
    // makes this safe before that has run.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
        __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2")) {
        usable.paths[usable.count++] = DecoderPath::avx2;
    }
#elif PEV_DECODER_NEON
    usable.paths[usable.count++] = DecoderPath::neon;
#elif PEV_DECODER_SIMD128
    usable.paths[usable.count++] = DecoderPath::simd128;
#endif
    return usable;
}

// A function-local constant: initialised once, by whichever thread comes
// first, the others waiting (the language promises it), and read-only
// afterwards, so the choice is no mutable state.
const Usable& usable() {
    static const Usable paths = find_usable_paths();
    return paths;
}

const DecoderFunctions& functions_of(DecoderPath path) {
    switch (path) {
#if PEV_DECODER_X86
    case DecoderPath::sse2:
        return codec::kSse2Decoder;
    case DecoderPath::avx2:
        return codec::kAvx2Decoder;
#elif PEV_DECODER_NEON
    case DecoderPath::neon:
        return codec::kNeonDecoder;
#elif PEV_DECODER_SIMD128
    case DecoderPath::simd128:
        return codec::kSimd128Decoder;
#endif
    default:
        return codec::kScalarDecoder;
    }
}

const DecoderFunctions& best() {
    static const DecoderFunctions& functions = functions_of(best_decoder_path());
    return functions;
}

std::size_t decode_entry_with(const DecoderFunctions& functions,
                              std::span<const std::int16_t> block_sizes,
                              std::span<const std::uint8_t> compressed,
                              std::span<std::int16_t> samples) {
    return functions.decode_entry(block_sizes.data(), block_sizes.size(), compressed.data(),
                                  compressed.size(), samples.data(), samples.size());
}

std::uint64_t count_entry_with(const DecoderFunctions& functions,
                               std::span<const std::int16_t> block_sizes,
                               std::span<const std::uint8_t> compressed) {
    std::uint64_t count = 0;
    std::uint64_t position = 0;
    for (const std::int16_t size : block_sizes) {
        const std::span<const std::uint8_t> rest =
            position < compressed.size() ? compressed.subspan(static_cast<std::size_t>(position))
                                         : std::span<const std::uint8_t>();
        count += functions.count_block(size, rest.data(), rest.size());
        if (!is_malformed_block_size(size)) {
            position += static_cast<std::uint64_t>(size);
        }
    }
    return count;
}

} // namespace

const char* decoder_path_name(DecoderPath path) {
    switch (path) {
    case DecoderPath::scalar:
        return "scalar";
    case DecoderPath::sse2:
        return "sse2";
    case DecoderPath::avx2:
        return "avx2";
    case DecoderPath::neon:
        return "neon";
    case DecoderPath::simd128:
        return "simd128";
    }
    return "?";
}

std::span<const DecoderPath> usable_decoder_paths() {
    return std::span(usable().paths).first(usable().count);
}

DecoderPath best_decoder_path() {
    return usable().paths[usable().count - 1];
}

std::size_t decode_entry_on(DecoderPath path, std::span<const std::int16_t> block_sizes,
                            std::span<const std::uint8_t> compressed,
                            std::span<std::int16_t> samples) {
    return decode_entry_with(functions_of(path), block_sizes, compressed, samples);
}

std::size_t decode_block_on(DecoderPath path, std::int16_t stored_size,
                            std::span<const std::uint8_t> bytes, std::span<std::int16_t> samples) {
    return functions_of(path).decode_block(stored_size, bytes.data(), bytes.size(), samples.data(),
                                           samples.size());
}

std::size_t count_block_samples_on(DecoderPath path, std::int16_t stored_size,
                                   std::span<const std::uint8_t> bytes) {
    return functions_of(path).count_block(stored_size, bytes.data(), bytes.size());
}

std::uint64_t count_entry_samples_on(DecoderPath path, std::span<const std::int16_t> block_sizes,
                                     std::span<const std::uint8_t> compressed) {
    return count_entry_with(functions_of(path), block_sizes, compressed);
}

// block_decoder.hpp's functions, on the best path.

std::size_t decode_entry(std::span<const std::int16_t> block_sizes,
                         std::span<const std::uint8_t> compressed,
                         std::span<std::int16_t> samples) {
    return decode_entry_with(best(), block_sizes, compressed, samples);
}

std::size_t decode_block(std::int16_t stored_size, std::span<const std::uint8_t> bytes,
                         std::span<std::int16_t> samples) {
    return best().decode_block(stored_size, bytes.data(), bytes.size(), samples.data(),
                               samples.size());
}

std::size_t count_block_samples(std::int16_t stored_size, std::span<const std::uint8_t> bytes) {
    return best().count_block(stored_size, bytes.data(), bytes.size());
}

std::uint64_t count_entry_samples(std::span<const std::int16_t> block_sizes,
                                  std::span<const std::uint8_t> compressed) {
    return count_entry_with(best(), block_sizes, compressed);
}

} // namespace pev
