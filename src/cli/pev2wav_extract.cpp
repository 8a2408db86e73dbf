#include "cli/pev2wav_extract.hpp"

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "archive/clip_file_name.hpp"
#include "extraction/wav_output.hpp"
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
        extraction::StreamOptions stream{.stop_at_refusal = true, .threads = options_.threads};
        if (!options_.create_output) {
            // Each file is written under no name by the thread that decoded
            // it, ahead of its turn; here it only takes its name.
            stream.write_ahead = [&base_name](std::size_t index) {
                return clip_file_name(base_name, static_cast<int>(index) + 1);
            };
        }
        extraction::stream_clips(
            reader_, indices, stream,
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
        return write_wav(clip_file_name(base_name, position), clip);
    }

    bool write_wav(const std::string& name, ReadyClip& clip) {
        const bool written = clip.file
                                 ? write_file(name, *clip.file)
                                 : write_through(options_.create_output(name),
                                                 wav::frame_to_file_bytes(clip.frame, kChannels,
                                                                          reader_.sample_rate()));
        std::fprintf(options_.out, written ? "Extracted: %s\n" : "File i/o error: %s\n",
                     name.c_str());
        return written;
    }

    // An existing file of the name is replaced, as it always was, but by a
    // fresh file that takes the name only once it is complete: a failed
    // write leaves the old file as it was and no partial one. A name that
    // stands for anything but a regular file this process may write (a
    // link, a device, a pipe, a read-only file) is opened and written as it
    // is, since whoever put it there meant it, and a rename must never get
    // around a read-only file.
    bool write_file(const std::string& name, extraction::WavFileAhead& file) {
        const ExistingName existing = existing_name(name);
        if (existing == ExistingName::other) {
            return write_through(create_unbuffered(name), file.bytes());
        }
        // What was just seen there spares the output file asking again.
        const Error error =
            file.commit(existing == ExistingName::none ? NameSeen::free : NameSeen::taken);
        // A folder this process may not create files in, holding a file it
        // may write: written in place, as before.
        if (error.code == ErrorCode::cannot_create && existing == ExistingName::writable_file &&
            (error.os == std::errc::permission_denied ||
             error.os == std::errc::operation_not_permitted)) {
            return write_through(create_unbuffered(name), file.bytes());
        }
        return error.ok();
    }

    // Writes a whole file's bytes into `file`, opened for writing, and
    // closes it.
    static bool write_through(std::FILE* file, std::span<const std::uint8_t> bytes) {
        if (file == nullptr) {
            return false;
        }
        // Flushed before closing: some C runtimes report a failed final flush
        // from fflush but not from fclose.
        bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                       std::fflush(file) == 0;
        written = (std::fclose(file) == 0) && written;
        return written;
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
