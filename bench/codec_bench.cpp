// Decoding throughput of the codec, in samples per second, for entries of raw
// blocks, of delta blocks without escapes and of escape-heavy delta blocks,
// on every decoder path the processor runs (BM_DecodeRaw/scalar, .../avx2).

#include "codec/block_decoder.hpp"
#include "codec/decoder_paths.hpp"
#include "codec_inputs.hpp"

#include <benchmark/benchmark.h>

namespace {

void decode_entries(benchmark::State& state, pev::bench::EntryKind kind) {
    const auto path = pev::usable_decoder_paths()[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(pev::decoder_path_name(path));
    pev::bench::BenchEntry entry = pev::bench::make_bench_entry(kind);
    std::size_t samples = 0;
    for (auto _ : state) {
        samples = pev::decode_entry_on(path, entry.block_sizes, entry.compressed, entry.samples);
        benchmark::DoNotOptimize(entry.samples.data());
        benchmark::ClobberMemory();
    }
    const auto total = static_cast<std::int64_t>(samples) * state.iterations();
    state.SetItemsProcessed(total);
    state.counters["samples/s"] =
        benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
    state.counters["samples/entry"] = static_cast<double>(samples);
}

void BM_DecodeRaw(benchmark::State& state) {
    decode_entries(state, pev::bench::EntryKind::raw);
}
void BM_DecodeDelta(benchmark::State& state) {
    decode_entries(state, pev::bench::EntryKind::delta);
}
void BM_DecodeEscapeHeavy(benchmark::State& state) {
    decode_entries(state, pev::bench::EntryKind::escapes);
}

// One run per usable path, by its place in usable_decoder_paths().
void every_path(benchmark::internal::Benchmark* benchmark) {
    benchmark->DenseRange(0, static_cast<int>(pev::usable_decoder_paths().size()) - 1);
}

BENCHMARK(BM_DecodeRaw)->Apply(every_path);
BENCHMARK(BM_DecodeDelta)->Apply(every_path);
BENCHMARK(BM_DecodeEscapeHeavy)->Apply(every_path);

} // namespace

BENCHMARK_MAIN();
