// Decoding throughput of the codec, in samples per second, for entries of raw
// blocks, of delta blocks without escapes and of escape-heavy delta blocks.

#include "codec/block_decoder.hpp"
#include "codec_inputs.hpp"

#include <benchmark/benchmark.h>

namespace {

void decode_entries(benchmark::State& state, pev::bench::EntryKind kind) {
    pev::bench::BenchEntry entry = pev::bench::make_bench_entry(kind);
    std::size_t samples = 0;
    for (auto _ : state) {
        samples = pev::decode_entry(entry.block_sizes, entry.compressed, entry.samples);
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

BENCHMARK(BM_DecodeRaw);
BENCHMARK(BM_DecodeDelta);
BENCHMARK(BM_DecodeEscapeHeavy);

} // namespace

BENCHMARK_MAIN();
