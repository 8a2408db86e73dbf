// codec_decode_run: decodes one synthetic entry of a kind a given number of
// times, with no calibration or timing around it, for counting instructions:
//
//   codec_decode_run raw|delta|escapes ENTRIES
//
// prints "KIND ENTRIES entries SAMPLES samples". Under callgrind, the
// instructions of a run with 0 entries are the set-up cost; the difference to
// a run with N entries, divided by the samples printed, is the decoder's
// instructions per output sample.

#include "codec/block_decoder.hpp"
#include "codec_inputs.hpp"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const auto kind = argc == 3 ? pev::bench::parse_entry_kind(argv[1]) : std::nullopt;
    if (!kind) {
        std::fprintf(stderr, "usage: codec_decode_run raw|delta|escapes ENTRIES\n");
        return 2;
    }
    const unsigned long entries = std::strtoul(argv[2], nullptr, 10);
    pev::bench::BenchEntry entry = pev::bench::make_bench_entry(*kind);
    unsigned long long samples = 0;
    for (unsigned long i = 0; i < entries; ++i) {
        samples += pev::decode_entry(entry.block_sizes, entry.compressed, entry.samples);
    }
    // Reading a sample keeps the decoding from being optimised away.
    const int last = entry.samples.empty() ? 0 : entry.samples.back();
    std::printf("%s %lu entries %llu samples (last %d)\n", argv[1], entries, samples, last);
    return 0;
}
