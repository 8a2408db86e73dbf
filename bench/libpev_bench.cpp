// libpev's 1.1 figures, through the shared library as its users link it:
//
//   libpev_bench scan [MODEL.pev]
//       500 clips in memory, the model archive's clips over and over (by
//       default examples/demo.pev): the exact sample counts from the scan
//       (pev_get_clip_info on a fresh archive) against decoding every clip
//       into the caller's buffer; prints both CPU times and their ratio.
//       `scan sweep` packs a loud sweep instead, nearly all escapes: the
//       scan's worst material.
//   libpev_bench throughput [ARCHIVE.pev]
//       one core's samples per second over every clip of the archive, held
//       in memory (by default the 500 clips `scan` packs from the demo):
//       whole-clip decoding (pev_decode_clip into the caller's buffer, the
//       counts already known) and the streaming reader (pev_reader_open,
//       then pev_reader_read 4096 samples at a time to the clip's end).
//       Thread CPU time, best of 9 rounds; both must give the same samples.
//   libpev_bench make FILE
//       writes an archive whose one clip has 65535 blocks (67 million
//       samples of a slow sweep, delta blocks).
//   libpev_bench rss FILE
//       decodes that clip into a buffer of exactly its size and prints the
//       process's peak resident memory against the buffer's size.
//
// The modes run as separate processes so that each peak is its own.

#include "pev/pev.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <time.h>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, int status) {
    std::fprintf(stderr, "%s: %s\n", what, pev_strerror(status));
    std::exit(1);
}

void check(int status, const char* what) {
    if (status != PEV_OK) {
        fail(what, status);
    }
}

// Speech-like material: a sweep under a slow envelope, with quiet gaps.
std::vector<std::int16_t> clip_samples(std::size_t count, double seed) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / 22050.0;
        const double envelope = std::max(0.0, std::sin(t * 2.1 + seed));
        samples[i] = static_cast<std::int16_t>(9000.0 * envelope *
                                               std::sin(t * (300.0 + 200.0 * std::sin(t + seed))));
    }
    return samples;
}

std::vector<std::uint8_t> pack(const std::vector<std::vector<std::int16_t>>& clips) {
    pev_writer* writer = nullptr;
    check(pev_writer_new(22050, &writer), "new writer");
    for (const auto& clip : clips) {
        check(pev_writer_add_clip(writer, clip.data(), clip.size()), "add clip");
    }
    void* bytes = nullptr;
    std::size_t size = 0;
    check(pev_writer_finish_memory(writer, &bytes, &size), "finish");
    pev_writer_free(writer);
    std::vector<std::uint8_t> archive(static_cast<std::uint8_t*>(bytes),
                                      static_cast<std::uint8_t*>(bytes) + size);
    pev_free(bytes);
    return archive;
}

// The thread's CPU time, which other processes on a shared machine disturb
// less than the clock on the wall.
double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The clips of the archive at `path`, decoded.
std::vector<std::vector<std::int16_t>> clips_of(const char* path) {
    pev_archive* archive = nullptr;
    check(pev_open_file(path, &archive), path);
    std::size_t count = 0;
    check(pev_clip_count(archive, &count), "count");
    std::vector<std::vector<std::int16_t>> clips(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t size = 0;
        pev_decode_clip(archive, i, nullptr, 0, &size);
        clips[i].resize(size);
        check(pev_decode_clip(archive, i, clips[i].data(), size, &size), "decode");
    }
    pev_close(archive);
    return clips;
}

// 500 clips: the model archive's clips over and over, or a sweep.
std::vector<std::vector<std::int16_t>> bench_clips(const char* model) {
    std::vector<std::vector<std::int16_t>> clips;
    const bool sweep = std::strcmp(model, "sweep") == 0;
    const std::vector<std::vector<std::int16_t>> models =
        sweep ? std::vector<std::vector<std::int16_t>>{} : clips_of(model);
    for (std::size_t i = 0; i < 500; ++i) {
        clips.push_back(models.empty() ? clip_samples(60000 + 173 * i, static_cast<double>(i))
                                       : models[i % models.size()]);
    }
    return clips;
}

int scan(const char* model) {
    const std::vector<std::vector<std::int16_t>> clips = bench_clips(model);
    const std::vector<std::uint8_t> archive = pack(clips);
    const int rounds = 9;
    double scan_time = 1e9;
    double decode_time = 1e9;
    std::vector<std::int16_t> buffer(200000);
    std::uint64_t counted = 0;
    std::uint64_t decoded = 0;
    for (int round = 0; round < rounds; ++round) {
        pev_archive* fresh = nullptr;
        check(pev_open_memory(archive.data(), archive.size(), &fresh), "open");
        double start = cpu_seconds();
        for (std::size_t i = 0; i < clips.size(); ++i) {
            pev_clip_info info{};
            check(pev_get_clip_info(fresh, i, &info), "info");
            counted += info.sample_count;
        }
        scan_time = std::min(scan_time, cpu_seconds() - start);
        // The counts are known now, so this is decoding alone.
        start = cpu_seconds();
        for (std::size_t i = 0; i < clips.size(); ++i) {
            std::size_t count = 0;
            check(pev_decode_clip(fresh, i, buffer.data(), buffer.size(), &count), "decode");
            decoded += count;
        }
        decode_time = std::min(decode_time, cpu_seconds() - start);
        pev_close(fresh);
    }
    if (counted != decoded) {
        std::fprintf(stderr, "the scan counted %llu samples, decoding gave %llu\n",
                     static_cast<unsigned long long>(counted),
                     static_cast<unsigned long long>(decoded));
        return 1;
    }
    std::printf("500 clips, %.1f M samples, %zu archive bytes; CPU time, best of %d rounds\n",
                static_cast<double>(decoded) / rounds / 1e6, archive.size(), rounds);
    std::printf("scan (sample counts): %.4f s\ndecode:               %.4f s\nratio:                "
                "%.1fx\n",
                scan_time, decode_time, decode_time / scan_time);
    return 0;
}

std::vector<std::uint8_t> read_whole(const char* path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes(file ? static_cast<std::size_t>(file.tellg()) : 0);
    if (!file || !file.seekg(0).read(reinterpret_cast<char*>(bytes.data()),
                                     static_cast<std::streamsize>(bytes.size()))) {
        fail(path, PEV_ERR_CANNOT_OPEN);
    }
    return bytes;
}

int throughput(const char* path) {
    const std::vector<std::uint8_t> archive =
        path == nullptr ? pack(bench_clips(PEV_SOURCE_DIR "/examples/demo.pev")) : read_whole(path);
    pev_archive* open = nullptr;
    check(pev_open_memory(archive.data(), archive.size(), &open), "open");
    std::size_t count = 0;
    check(pev_clip_count(open, &count), "count");
    std::vector<std::size_t> sizes(count);
    for (std::size_t i = 0; i < count; ++i) {
        pev_decode_clip(open, i, nullptr, 0, &sizes[i]);
    }
    std::vector<std::int16_t> buffer(*std::max_element(sizes.begin(), sizes.end()));
    std::uint64_t samples = 0;
    std::uint64_t decoded_sum = 0;
    std::uint64_t streamed_sum = 0;
    double decode_time = 1e9;
    double stream_time = 1e9;
    for (int round = 0; round < 9; ++round) {
        samples = 0;
        double start = cpu_seconds();
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t got = 0;
            check(pev_decode_clip(open, i, buffer.data(), buffer.size(), &got), "decode");
            samples += got;
            decoded_sum += static_cast<std::uint16_t>(buffer[got / 2]);
        }
        decode_time = std::min(decode_time, cpu_seconds() - start);
        start = cpu_seconds();
        for (std::size_t i = 0; i < count; ++i) {
            pev_reader* reader = nullptr;
            check(pev_reader_open(open, i, &reader), "reader");
            std::size_t at = 0;
            std::size_t got = 0;
            do {
                check(pev_reader_read(reader, buffer.data() + at,
                                      std::min<std::size_t>(4096, sizes[i] - at), &got),
                      "read");
                at += got;
            } while (got != 0 && at < sizes[i]);
            streamed_sum += static_cast<std::uint16_t>(buffer[at / 2]);
            pev_reader_close(reader);
        }
        stream_time = std::min(stream_time, cpu_seconds() - start);
    }
    pev_close(open);
    if (decoded_sum != streamed_sum) {
        std::fprintf(stderr, "the reader and whole-clip decoding gave different samples\n");
        return 1;
    }
    std::printf("%zu clips, %.1f M samples; one core's CPU time, best of 9 rounds\n", count,
                static_cast<double>(samples) / 1e6);
    std::printf("whole-clip decoding: %.4f s, %.0f M samples/s\n", decode_time,
                static_cast<double>(samples) / decode_time / 1e6);
    std::printf("streaming reader:    %.4f s, %.0f M samples/s\n", stream_time,
                static_cast<double>(samples) / stream_time / 1e6);
    return 0;
}

int make(const char* path) {
    const std::vector<std::uint8_t> archive = pack({clip_samples(65535 * 1024, 0.5)});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()),
               static_cast<std::streamsize>(archive.size()));
    std::printf("%s: %zu bytes\n", path, archive.size());
    return 0;
}

// The peak resident set (VmHWM) in bytes.
unsigned long long peak_rss() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

int rss(const char* path) {
    pev_archive* archive = nullptr;
    check(pev_open_file(path, &archive), "open");
    const unsigned long long before = peak_rss();
    std::size_t count = 0;
    if (pev_decode_clip(archive, 0, nullptr, 0, &count) != PEV_ERR_BUFFER_TOO_SMALL) {
        fail("size query", PEV_ERR_INTERNAL);
    }
    auto* samples = static_cast<std::int16_t*>(std::malloc(count * sizeof(std::int16_t)));
    check(pev_decode_clip(archive, 0, samples, count, &count), "decode");
    const unsigned long long peak = peak_rss();
    const double output = static_cast<double>(count) * 2;
    pev_clip_info info{};
    check(pev_get_clip_info(archive, 0, &info), "info");
    std::printf("%u blocks, %zu samples, output %.1f MiB\n", info.block_count, count,
                output / 1048576);
    std::printf("peak RSS %.1f MiB (%.1f MiB before decoding): %.3fx the output\n",
                static_cast<double>(peak) / 1048576, static_cast<double>(before) / 1048576,
                static_cast<double>(peak) / output);
    std::free(samples);
    pev_close(archive);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "scan") == 0) {
        return scan(argc == 3 ? argv[2] : PEV_SOURCE_DIR "/examples/demo.pev");
    }
    if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "throughput") == 0) {
        return throughput(argc == 3 ? argv[2] : nullptr);
    }
    if (argc == 3 && std::strcmp(argv[1], "make") == 0) {
        return make(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "rss") == 0) {
        return rss(argv[2]);
    }
    std::fprintf(
        stderr,
        "usage: libpev_bench scan [MODEL.pev] | throughput [ARCHIVE.pev] | make FILE | rss FILE\n");
    return 2;
}
