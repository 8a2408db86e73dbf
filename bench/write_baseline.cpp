// write_baseline: the least work any extractor must do for an archive.
//
//   write_baseline BASE
//   write_baseline --describe BASE
//
// Creates exactly the files that `Pev2wav BASE` creates (same names, same
// sizes) and prints the same "Extracted: NAME" lines, but copies every file
// from one buffer prepared in memory: nothing is read, nothing is decoded.
// Before the clock starts it runs the real extraction into memory once, to
// learn every output's name and size. The timed part is one open, one write
// and one close per file. The elapsed time goes to standard error as
// "write_baseline: FILES files BYTES bytes SECONDS s", for bench/e2e.
//
// --describe writes nothing and prints what the archive holds: its blocks by
// kind and the largest entry's buffers (compressed bytes, and the sample
// bound x 2), the memory an extractor cannot do without.
//
// POSIX only: the point is the thinnest path to the file system.

#include "archive/archive_header.hpp"
#include "archive/archive_layout.hpp"
#include "cli/pev2wav_extract.hpp"
#include "codec/block_decoder.hpp"
#include "common/little_endian.hpp"
#include "platform/files.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct OutputFile {
    std::string name;
    std::size_t bytes = 0;
};

// Every output of the real extraction, captured in memory streams whose
// sizes are read once each stream has been closed.
class OutputRecorder {
  public:
    std::FILE* create(const std::string& name) {
        settle();
        buffer_ = nullptr;
        length_ = 0;
        std::FILE* stream = open_memstream(&buffer_, &length_);
        if (stream != nullptr) {
            files_.push_back({name, 0});
            pending_ = true;
        }
        return stream;
    }

    // The extraction closes each stream before it creates the next one.
    std::vector<OutputFile> finish() {
        settle();
        return files_;
    }

  private:
    void settle() {
        if (pending_) {
            files_.back().bytes = length_;
            std::free(buffer_);
            buffer_ = nullptr;
            pending_ = false;
        }
    }

    std::vector<OutputFile> files_;
    char* buffer_ = nullptr;
    std::size_t length_ = 0;
    bool pending_ = false;
};

bool write_whole(int fd, const std::uint8_t* data, std::size_t bytes) {
    while (bytes > 0) {
        const ssize_t written = ::write(fd, data, bytes);
        if (written <= 0) {
            return false;
        }
        data += written;
        bytes -= static_cast<std::size_t>(written);
    }
    return true;
}

// Walks the entry table and the block-size tables; no compressed byte is read.
int describe(const std::string& base_name) {
    using namespace pev::archive;
    std::FILE* archive = pev::open_for_reading(base_name + ".pev");
    ArchiveHeader header;
    if (archive == nullptr ||
        std::fread(header.bytes.data(), 1, header.bytes.size(), archive) != header.bytes.size() ||
        !parse_archive_header(header) || header.wave_file_count < 0 ||
        header.wave_file_count > kMaxWaveFiles) {
        std::fprintf(stderr, "write_baseline: %s.pev is not a voice archive\n", base_name.c_str());
        return 1;
    }
    const auto count = static_cast<std::size_t>(header.wave_file_count);
    std::vector<std::uint8_t> table(count * kEntryRowSize);
    if (count > 0 && std::fread(table.data(), kEntryRowSize, count, archive) != count) {
        std::fprintf(stderr, "write_baseline: %s.pev is truncated\n", base_name.c_str());
        return 1;
    }
    std::uint64_t silent = 0, raw = 0, delta = 0, compressed_total = 0, bound_total = 0;
    std::uint64_t largest_compressed = 0, largest_samples = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::span<const std::uint8_t> row(table.data() + i * kEntryRowSize, kEntryRowSize);
        const std::uint16_t blocks = pev::load_u16le(row, kRowBlockCountOffset);
        pev::seek_to(archive, pev::load_u32le(row, kRowDataOffset));
        std::vector<std::uint8_t> raw_sizes(blocks * kBlockSizeFieldSize);
        if (std::fread(raw_sizes.data(), 1, raw_sizes.size(), archive) != raw_sizes.size()) {
            std::fprintf(stderr, "write_baseline: %s.pev is truncated\n", base_name.c_str());
            return 1;
        }
        std::vector<std::int16_t> sizes(blocks);
        for (std::size_t b = 0; b < sizes.size(); ++b) {
            sizes[b] = static_cast<std::int16_t>(pev::load_u16le(raw_sizes, 2 * b));
            silent += sizes[b] == pev::kSilentBlock;
            raw += sizes[b] == pev::kRawBlock;
            delta += sizes[b] != pev::kSilentBlock && sizes[b] != pev::kRawBlock;
        }
        const pev::EntryMeasure measure = pev::measure_entry(sizes);
        compressed_total += measure.compressed_bytes;
        bound_total += measure.sample_bound;
        if (measure.compressed_bytes + 2 * measure.sample_bound >
            largest_compressed + 2 * largest_samples) {
            largest_compressed = measure.compressed_bytes;
            largest_samples = measure.sample_bound;
        }
    }
    std::fclose(archive);
    std::printf("entries %zu\nsilent_blocks %llu\nraw_blocks %llu\ndelta_blocks %llu\n"
                "compressed_bytes %llu\nsample_bound %llu\n"
                "largest_entry_compressed_bytes %llu\nlargest_entry_sample_buffer_bytes %llu\n",
                count, static_cast<unsigned long long>(silent),
                static_cast<unsigned long long>(raw), static_cast<unsigned long long>(delta),
                static_cast<unsigned long long>(compressed_total),
                static_cast<unsigned long long>(bound_total),
                static_cast<unsigned long long>(largest_compressed),
                static_cast<unsigned long long>(2 * largest_samples));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--describe") {
        return describe(argv[2]);
    }
    if (argc != 2) {
        std::fputs("usage: write_baseline [--describe] BASE   (the files of BASE.pev)\n", stderr);
        return 2;
    }
    const std::string base_name = argv[1];

    std::FILE* archive = pev::open_for_reading(base_name + ".pev");
    if (archive == nullptr) {
        std::fprintf(stderr, "write_baseline: cannot open %s.pev\n", base_name.c_str());
        return 1;
    }
    std::FILE* quiet = std::fopen("/dev/null", "w");
    OutputRecorder recorder;
    pev::cli::ExtractOptions options;
    options.out = quiet;
    options.err = quiet;
    options.create_output = [&recorder](const std::string& name) { return recorder.create(name); };
    const int result = pev::cli::extract_archive(base_name, archive, options);
    std::fclose(archive);
    std::fclose(quiet);
    if (result < 0) {
        std::fprintf(stderr, "write_baseline: %s.pev does not extract\n", base_name.c_str());
        return 1;
    }
    const std::vector<OutputFile> files = recorder.finish();

    std::size_t largest = 0;
    std::uint64_t total = 0;
    for (const OutputFile& file : files) {
        largest = std::max(largest, file.bytes);
        total += file.bytes;
    }
    // Touched once up front, so the timed part copies from resident memory.
    std::vector<std::uint8_t> content(largest);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    std::string lines;
    for (const OutputFile& file : files) {
        lines += "Extracted: " + file.name + "\n";
    }

    const auto start = std::chrono::steady_clock::now();
    for (const OutputFile& file : files) {
        const int fd = ::open(file.name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || !write_whole(fd, content.data(), file.bytes)) {
            std::fprintf(stderr, "write_baseline: cannot write %s\n", file.name.c_str());
            return 1;
        }
        ::close(fd);
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    std::fprintf(stderr, "write_baseline: %zu files %llu bytes %.6f s\n", files.size(),
                 static_cast<unsigned long long>(total), elapsed.count());
    return 0;
}
