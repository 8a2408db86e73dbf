#include "cli/pev2wav_extract.hpp"

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "archive/clip_file_name.hpp"
#include "platform/files.hpp"
#include "wav/wav_writer.hpp"

#include <new>
#include <numeric>
#include <vector>

namespace pev::cli {
namespace {

using archive::ArchiveHeader;
using archive::ArchiveReader;
using archive::clip_file_name;
using archive::OpenResult;
using extraction::ExtractStats;
using extraction::ReadyClip;

constexpr std::uint16_t kChannels = 1;

// Unbuffered, the stream hands each whole file to the system in one call
// instead of staging it through a small buffer in two or three.
std::FILE* create_unbuffered(const std::string& name) {
    std::FILE* file = open_for_writing(name);
    if (file != nullptr) {
        std::setvbuf(file, nullptr, _IONBF, 0);
    }
    return file;
}

class Extractor {
  public:
    Extractor(const ArchiveReader& reader, const ExtractOptions& options)
        : reader_(reader), options_(options) {}

    int run(const std::string& base_name, ExtractStats* stats) {
        const OpenResult opened = reader_.open_result();
        if (opened == OpenResult::not_an_archive || opened == OpenResult::header_cut_short) {
            // No "Found" line without the whole header.
            return -1;
        }
        const ArchiveHeader& header = reader_.header();
        std::fprintf(options_.out, "Found %d wave files. (nSamplesPerSec: %d)\n",
                     header.wave_file_count, header.samples_per_sec);
        if (opened != OpenResult::ok) {
            return -1;
        }
        std::vector<std::size_t> indices(reader_.clip_count());
        std::iota(indices.begin(), indices.end(), std::size_t{0});
        bool all_written = true;
        extraction::stream_clips(
            reader_, indices,
            extraction::StreamOptions{.stop_at_refusal = true, .threads = options_.threads},
            [&](ReadyClip& clip) {
                all_written = extract_clip(base_name, clip);
                return all_written;
            },
            stats);
        return all_written ? header.wave_file_count : -1;
    }

  private:
    bool extract_clip(const std::string& base_name, ReadyClip& clip) {
        if (!clip.info.ok()) {
            std::fprintf(options_.err, "invalid pev size (id:%d)\n",
                         static_cast<int>(clip.info.row.id));
            return false;
        }
        const int position = static_cast<int>(clip.info.index) + 1;
        return write_wav(clip_file_name(base_name, position), clip.frame);
    }

    bool write_wav(const std::string& name, std::span<std::int16_t> frame) {
        std::FILE* file =
            options_.create_output ? options_.create_output(name) : create_unbuffered(name);
        if (file == nullptr) {
            std::fprintf(options_.out, "File i/o error: %s\n", name.c_str());
            return false;
        }
        // Flushed before closing: some C runtimes report a failed final flush
        // from fflush but not from fclose.
        bool written = wav::write_file(file, frame, kChannels, reader_.sample_rate()) &&
                       std::fflush(file) == 0;
        written = (std::fclose(file) == 0) && written;
        if (!written) {
            std::fprintf(options_.out, "File i/o error: %s\n", name.c_str());
            return false;
        }
        std::fprintf(options_.out, "Extracted: %s\n", name.c_str());
        return true;
    }

    const ArchiveReader& reader_;
    const ExtractOptions& options_;
};

} // namespace

int extract_archive(const std::string& base_name, std::FILE* archive, const ExtractOptions& options,
                    ExtractStats* stats) {
    if (stats != nullptr) {
        *stats = {};
    }
    try {
        const archive::FileSource source(archive);
        const ArchiveReader reader(source);
        return Extractor(reader, options).run(base_name, stats);
    } catch (const std::bad_alloc&) {
        // A buffer that cannot be had ends the extraction without a line.
        return -1;
    }
}

} // namespace pev::cli
