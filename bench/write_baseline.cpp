// write_baseline: the least work any extractor must do for an archive.
//
//   write_baseline BASE
//
// Creates exactly the files that `Pev2wav BASE` creates (same names, same
// sizes) and prints the same "Extracted: NAME" lines, but copies every file
// from one buffer prepared in memory: nothing is read, nothing is decoded.
// Before the clock starts it runs the real extraction into memory once, to
// learn every output's name and size. The timed part is one open, one write
// and one close per file. The elapsed time goes to standard error as
// "write_baseline: FILES files BYTES bytes SECONDS s", for bench/e2e.
//
// POSIX only: the point is the thinnest path to the file system.

#include "archive/extract.hpp"
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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: write_baseline BASE   (writes the files of BASE.pev)\n", stderr);
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
    pev::archive::ExtractOptions options;
    options.out = quiet;
    options.err = quiet;
    options.create_output = [&recorder](const std::string& name) { return recorder.create(name); };
    const int result = pev::archive::extract_archive(base_name, archive, options);
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
