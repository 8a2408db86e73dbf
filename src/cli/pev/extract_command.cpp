// pev extract: the clips as WAV files, byte for byte as Pev2wav writes them,
// without ever replacing a file unasked or leaving a truncated one behind.

#include "cli/pev/archive_file.hpp"
#include "cli/pev/clip_selection.hpp"
#include "cli/pev/commands.hpp"
#include "cli/pev/name_template.hpp"
#include "cli/pev/progress_line.hpp"
#include "cli/pev/safe_wav_writer.hpp"
#include "cli/pev/sizes.hpp"
#include "extraction/clip_stream.hpp"
#include "platform/utf8_path.hpp"

#include <filesystem>
#include <map>
#include <system_error>

namespace pev::cli::tool {
namespace {

namespace fs = std::filesystem;

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path_from_utf8(path), error));
}

// The path of every selected clip's file, or a usage error when two clips
// would share one.
std::string target_paths(const ArchiveFile& archive, const std::vector<std::size_t>& indices,
                         const NameTemplate& names, const std::string& folder,
                         std::vector<std::string>& paths) {
    std::map<std::string, std::size_t> taken;
    for (const std::size_t index : indices) {
        const std::string name =
            names.expand(archive.base_name(), index + 1, archive.reader().row(index).id);
        const auto [place, fresh] = taken.emplace(name, index);
        if (!fresh) {
            char positions[64];
            std::snprintf(positions, sizeof positions, "clips %04zu and %04zu", place->second + 1,
                          index + 1);
            return std::string(positions) + " would both be written to " + name +
                   (names.numbers_clips() ? "" : "; put {n} in the name template");
        }
        paths.push_back(join_path(folder, name));
    }
    return "";
}

// Names the first file that would be replaced, and how many more there are.
bool refuse_existing(const std::vector<std::string>& paths, std::FILE* err) {
    std::size_t clashes = 0;
    const std::string* first = nullptr;
    for (const std::string& path : paths) {
        if (exists(path)) {
            first = first != nullptr ? first : &path;
            ++clashes;
        }
    }
    if (clashes == 0) {
        return false;
    }
    std::fprintf(err, "pev: %s already exists", first->c_str());
    if (clashes > 1) {
        std::fprintf(err, ", and %zu more of the files to be written", clashes - 1);
    }
    std::fprintf(err, "; nothing was written (--force replaces %s)\n", clashes > 1 ? "them" : "it");
    return true;
}

bool make_folder(const std::string& folder, std::FILE* err) {
    std::error_code error;
    const fs::path path = path_from_utf8(folder);
    if (fs::is_directory(path, error)) {
        return true;
    }
    fs::create_directories(path, error);
    if (error) {
        std::fprintf(err, "pev: %s: cannot make the folder: %s\n", folder.c_str(),
                     error.message().c_str());
        return false;
    }
    return true;
}

// Writes each clip the stream hands over to the next of `paths`, reporting
// as it goes; a clip that cannot be extracted or written is named and
// skipped.
class ClipFiles {
  public:
    ClipFiles(std::uint32_t rate, const std::vector<std::string>& paths,
              const ExtractOptions& options, const Streams& io)
        : rate_(rate), paths_(paths), verbosity_(options.verbosity), io_(io),
          writer_(options.force),
          progress_(io.err, paths.size(), options.verbosity != Verbosity::quiet) {}

    void take(const extraction::ReadyClip& clip) {
        const std::string& path = paths_[next_++];
        if (!clip.info.ok()) {
            report(clip_label(clip.info.index, clip.info.row.id) +
                   " skipped: " + archive::describe(clip.info.problem));
            progress_.advance(0);
            return;
        }
        const std::uint64_t size = clip.frame.size_bytes();
        if (const std::string error = writer_.write(path, clip.frame, rate_); !error.empty()) {
            report(path + ": " + error);
            progress_.advance(0);
            return;
        }
        ++written_;
        bytes_ += size;
        if (verbosity_ == Verbosity::verbose) {
            progress_.clear();
            std::fprintf(io_.out, "Extracted: %s\n", path.c_str());
        }
        progress_.advance(size);
    }

    void finish(const std::string& folder) {
        progress_.clear();
        if (verbosity_ == Verbosity::quiet) {
            return;
        }
        const std::size_t total = paths_.size();
        if (all_written()) {
            std::fprintf(io_.out, "Extracted %zu clip%s (%s) into %s\n", total,
                         total == 1 ? "" : "s", human_size(bytes_).c_str(), folder.c_str());
        } else {
            std::fprintf(io_.out, "Extracted %zu of %zu clips (%s) into %s; %zu failed\n", written_,
                         total, human_size(bytes_).c_str(), folder.c_str(), total - written_);
        }
    }

    bool all_written() const { return written_ == paths_.size(); }

  private:
    void report(const std::string& problem) {
        progress_.clear();
        std::fprintf(io_.err, "pev: %s\n", problem.c_str());
    }

    std::uint32_t rate_;
    const std::vector<std::string>& paths_;
    Verbosity verbosity_;
    Streams io_;
    SafeWavWriter writer_;
    ProgressLine progress_;
    std::size_t next_ = 0;
    std::size_t written_ = 0;
    std::uint64_t bytes_ = 0;
};

} // namespace

int extract_command(const ExtractOptions& options, const Streams& io) {
    NameTemplate names;
    if (options.name_template) {
        if (const std::string error = names.parse(*options.name_template); !error.empty()) {
            std::fprintf(io.err, "pev: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    const auto archive = ArchiveFile::open(options.archive, io.err);
    if (!archive) {
        return kExitFailed;
    }
    const archive::ArchiveReader& reader = archive->reader();
    std::vector<std::size_t> indices = all_clips(reader.clip_count());
    if (options.clips) {
        ClipSelection selection = select_clips(*options.clips, reader.clip_count());
        if (!selection.ok()) {
            std::fprintf(io.err, "pev: %s\n", selection.error.c_str());
            return kExitUsage;
        }
        indices = std::move(selection.indices);
    }
    const std::string folder = options.folder.value_or(archive->folder());
    std::vector<std::string> paths;
    if (const std::string error = target_paths(*archive, indices, names, folder, paths);
        !error.empty()) {
        std::fprintf(io.err, "pev: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!options.force && refuse_existing(paths, io.err)) {
        return kExitFailed;
    }
    if (!folder.empty() && !make_folder(folder, io.err)) {
        return kExitFailed;
    }

    ClipFiles files(reader.sample_rate(), paths, options, io);
    extraction::stream_clips(reader, indices, extraction::StreamOptions{.stop_at_refusal = false},
                             [&files](extraction::ReadyClip& clip) {
                                 files.take(clip);
                                 return true;
                             });
    files.finish(folder.empty() ? "." : folder);
    return files.all_written() ? kExitOk : kExitFailed;
}

} // namespace pev::cli::tool
