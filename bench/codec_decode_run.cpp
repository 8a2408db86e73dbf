// codec_decode_run: decodes one synthetic entry of a kind a given number of
// times, with no calibration or timing around it, for counting instructions:
//
//   codec_decode_run raw|delta|escapes ENTRIES [PATH]
//
// PATH is a decoder path (scalar, sse2, avx2, neon, simd128) this processor
// runs; the default is the best one.
// prints "KIND ENTRIES entries SAMPLES samples". Under callgrind, the
// instructions of a run with 0 entries are the set-up cost; the difference to
// a run with N entries, divided by the samples printed, is the decoder's
// instructions per output sample.

#include "codec/block_decoder.hpp"
#include "codec/decoder_paths.hpp"
#include "codec_inputs.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

std::optional<pev::DecoderPath> path_named(const char* name) {
    for (const pev::DecoderPath path : pev::usable_decoder_paths()) {
        if (std::strcmp(pev::decoder_path_name(path), name) == 0) {
            return path;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    const auto kind = argc == 3 || argc == 4 ? pev::bench::parse_entry_kind(argv[1]) : std::nullopt;
    const auto path = argc == 4 ? path_named(argv[3]) : pev::best_decoder_path();
    if (!kind || !path) {
        std::fprintf(stderr, "usage: codec_decode_run raw|delta|escapes ENTRIES [PATH]\n");
        return 2;
    }
    const unsigned long entries = std::strtoul(argv[2], nullptr, 10);
    pev::bench::BenchEntry entry = pev::bench::make_bench_entry(*kind);
    unsigned long long samples = 0;
    for (unsigned long i = 0; i < entries; ++i) {
        samples += pev::decode_entry_on(*path, entry.block_sizes, entry.compressed, entry.samples);
    }
    // Reading a sample keeps the decoding from being optimised away.
    const int last = entry.samples.empty() ? 0 : entry.samples.back();
    std::printf("%s %lu entries %llu samples (last %d)\n", argv[1], entries, samples, last);
    return 0;
}
