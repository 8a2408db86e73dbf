#include "harness/extract_harness.hpp"

#include "cli/pev2wav_extract.hpp"
#include "common/little_endian.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace pev::fuzz {
namespace {

constexpr std::size_t kWavHeaderSize = 44;
constexpr std::int32_t kMaxEntries = 9999;
const char* const kBaseName = "fuzz";

// One output file: its first 44 bytes and how many bytes were written in all.
// Keeping only that lets a hostile archive ask for gigabytes of WAV data
// without the harness holding them.
struct OutputSink {
    std::string name;
    std::array<std::uint8_t, kWavHeaderSize> header{};
    std::uint64_t length = 0;
    bool closed = false;
};

ssize_t sink_write(void* cookie, const char* data, std::size_t size) {
    auto* sink = static_cast<OutputSink*>(cookie);
    for (std::size_t i = 0; i < size && sink->length + i < kWavHeaderSize; ++i) {
        sink->header[static_cast<std::size_t>(sink->length + i)] =
            static_cast<std::uint8_t>(data[i]);
    }
    sink->length += size;
    return static_cast<ssize_t>(size);
}

// Only reports the position (ftell); the writer never moves back.
int sink_seek(void* cookie, off64_t* offset, int whence) {
    const auto* sink = static_cast<const OutputSink*>(cookie);
    if (whence == SEEK_SET && static_cast<std::uint64_t>(*offset) == sink->length) {
        return 0;
    }
    if ((whence == SEEK_CUR || whence == SEEK_END) && *offset == 0) {
        *offset = static_cast<off64_t>(sink->length);
        return 0;
    }
    return -1;
}

int sink_close(void* cookie) {
    static_cast<OutputSink*>(cookie)->closed = true;
    return 0;
}

// The archive as a real file (an anonymous in-memory one), so seeks beyond
// its end and short reads behave exactly as they do on disk.
std::FILE* open_archive(std::span<const std::uint8_t> bytes) {
    const int fd = memfd_create("archive", 0);
    if (fd < 0) {
        return nullptr;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            close(fd);
            return nullptr;
        }
        done += static_cast<std::size_t>(n);
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

std::FILE* null_stream() {
    static std::FILE* const stream = std::fopen("/dev/null", "w");
    return stream;
}

// The most samples entry `row` can ask for, worked out here from the raw
// bytes (missing bytes read as 0, like the extraction does) rather than with
// the library's own measure, so a wrong measure shows up.
std::uint64_t sample_bound_of_row(std::span<const std::uint8_t> archive, std::size_t row) {
    const std::size_t at = 32 + 8 * row;
    const std::uint16_t block_count = load_u16le(archive, at + 2);
    const std::uint64_t data_offset = load_u32le(archive, at + 4);
    std::uint64_t bound = 0;
    for (std::uint64_t i = 0; i < block_count; ++i) {
        const std::uint64_t lo = data_offset + 2 * i;
        const std::uint8_t b0 = lo < archive.size() ? archive[lo] : 0;
        const std::uint8_t b1 = lo + 1 < archive.size() ? archive[lo + 1] : 0;
        const auto size = static_cast<std::int16_t>(b0 | (b1 << 8));
        if (size == 0 || size == 1024) {
            bound += 1024;
        } else if (size > 0) {
            bound += 2 * static_cast<std::uint64_t>(size);
        }
    }
    return bound;
}

std::string check_wav(const OutputSink& sink, std::uint64_t bound, std::size_t position) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%s_%04zu.wav", kBaseName, position);
    if (sink.name != expected) {
        return "output " + std::to_string(position) + " is named " + sink.name;
    }
    if (!sink.closed) {
        return sink.name + " was left open";
    }
    if (sink.length < kWavHeaderSize) {
        return sink.name + " is shorter than a WAV header";
    }
    const std::span<const std::uint8_t> h(sink.header);
    const std::uint64_t data_bytes = sink.length - kWavHeaderSize;
    if (std::memcmp(h.data(), "RIFF", 4) != 0 || std::memcmp(h.data() + 8, "WAVE", 4) != 0 ||
        std::memcmp(h.data() + 12, "fmt ", 4) != 0 || std::memcmp(h.data() + 36, "data", 4) != 0) {
        return sink.name + " has a malformed header";
    }
    if (load_u32le(h, 4) != data_bytes + 36 || load_u32le(h, 40) != data_bytes) {
        return sink.name + "'s header sizes do not match its length";
    }
    if (data_bytes % 2 != 0 || data_bytes / 2 > bound) {
        return sink.name + " holds more samples than its entry's bound";
    }
    return {};
}

struct Extraction {
    int result = 0;
    extraction::ExtractStats stats;
    std::vector<std::unique_ptr<OutputSink>> outputs;
};

Extraction extract_into_memory(std::FILE* file, unsigned threads) {
    Extraction run;
    cli::ExtractOptions options;
    options.out = null_stream();
    options.err = null_stream();
    options.threads = threads;
    options.create_output = [&run](const std::string& name) -> std::FILE* {
        run.outputs.push_back(std::make_unique<OutputSink>());
        run.outputs.back()->name = name;
        return fopencookie(run.outputs.back().get(), "wb",
                           cookie_io_functions_t{nullptr, sink_write, sink_seek, sink_close});
    };
    run.result = cli::extract_archive(kBaseName, file, options, &run.stats);
    return run;
}

bool same_extraction(const Extraction& a, const Extraction& b) {
    const auto same_sink = [](const auto& x, const auto& y) {
        return x->name == y->name && x->header == y->header && x->length == y->length &&
               x->closed == y->closed;
    };
    return a.result == b.result &&
           a.stats.largest_size_table_bytes == b.stats.largest_size_table_bytes &&
           a.stats.largest_compressed_bytes == b.stats.largest_compressed_bytes &&
           a.stats.largest_sample_buffer_bytes == b.stats.largest_sample_buffer_bytes &&
           std::equal(a.outputs.begin(), a.outputs.end(), b.outputs.begin(), b.outputs.end(),
                      same_sink);
}

} // namespace

std::string check_extraction(std::span<const std::uint8_t> archive) {
    std::FILE* file = open_archive(archive);
    if (file == nullptr || null_stream() == nullptr) {
        if (file != nullptr) {
            std::fclose(file);
        }
        return {}; // the host is out of descriptors: nothing to judge
    }
    const Extraction one = extract_into_memory(file, 1);
    // Decoding ahead on a second thread must change nothing that can be seen.
    const Extraction two = extract_into_memory(file, 2);
    std::fclose(file);
    if (!same_extraction(one, two)) {
        return "decoding ahead gave other results than one thread";
    }
    const int result = one.result;
    const extraction::ExtractStats& stats = one.stats;
    const std::vector<std::unique_ptr<OutputSink>>& outputs = one.outputs;

    if (stats.largest_compressed_bytes > archive.size()) {
        return "compressed buffer of " + std::to_string(stats.largest_compressed_bytes) +
               " bytes for an archive of " + std::to_string(archive.size());
    }
    const bool has_table = archive.size() >= 32 && std::memcmp(archive.data(), "PEVPAC", 6) == 0;
    const auto count = has_table ? static_cast<std::int32_t>(load_u32le(archive, 16)) : -1;
    const bool table_fits =
        count >= 0 && count <= kMaxEntries && archive.size() >= 32 + 8 * std::uint64_t(count);
    if (!table_fits) {
        if (result != -1 || !outputs.empty() || stats.largest_sample_buffer_bytes != 0) {
            return "an archive without a whole entry table was not refused outright";
        }
        return {};
    }
    if (result != -1 && result != count) {
        return "extraction returned " + std::to_string(result) + " for " + std::to_string(count) +
               " entries";
    }
    if (outputs.size() > static_cast<std::size_t>(count) ||
        (result == count && outputs.size() != static_cast<std::size_t>(count))) {
        return "wrote " + std::to_string(outputs.size()) + " files for " + std::to_string(count) +
               " entries";
    }
    // Only entries that got as far as an output file may have taken buffers.
    std::uint64_t largest_bound = 0;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::uint64_t bound = sample_bound_of_row(archive, i);
        largest_bound = std::max(largest_bound, bound);
        if (std::string broken = check_wav(*outputs[i], bound, i + 1); !broken.empty()) {
            return broken;
        }
    }
    if (stats.largest_sample_buffer_bytes > 2 * largest_bound) {
        return "sample buffer of " + std::to_string(stats.largest_sample_buffer_bytes) +
               " bytes where the entries allow " + std::to_string(2 * largest_bound);
    }
    return {};
}

} // namespace pev::fuzz
