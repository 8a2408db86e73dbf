// pev extract: the clips as WAV files, byte for byte as Pev2wav writes them,
// without ever replacing a file unasked or leaving a truncated one behind.

#include "cli/pev/clip_selection.hpp"
#include "cli/pev/command.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/name_template.hpp"
#include "cli/pev/named_archive.hpp"
#include "cli/pev/progress_line.hpp"
#include "cli/pev/sizes.hpp"
#include "cli/pev/sound_support.hpp"
#include "extraction/clip_stream.hpp"
#include "extraction/wav_output.hpp"
#include "platform/files.hpp"
#include "platform/utf8_path.hpp"
#include "platform/wildcards.hpp"

#include <filesystem>
#include <map>
#include <system_error>

namespace pev::cli::tool {
namespace {

namespace fs = std::filesystem;

struct ExtractOptions {
    std::string archive;
    std::optional<std::string> folder; // -o; default: the archive's folder
    std::optional<std::string> clips;  // -c LIST; default: every clip
    std::optional<std::string> ids;    // --id LIST, instead of -c
    std::optional<std::string> name_template;
    bool force = false;
    bool skip_existing = false; // -n: keep what is there, write the rest
    bool dry_run = false;
    Verbosity verbosity = Verbosity::normal;
    std::optional<std::string> format; // --format
    std::optional<std::uint32_t> rate; // --rate
    bool no_dither = false;
    OutputChoice output; // what the three above come to
};

constexpr const char* kExtractFooter =
    "TEMPLATE may hold {base} (the archive's name without .pev), {n} (the clip's\n"
    "position, 4 digits) and {id} (its entry id); the default is {base}_{n}.wav,\n"
    "the names Pev2wav gives.";

// What stands under each path to be written, looked at once for the whole
// run: the checks before writing and the writing itself all go by it.
std::vector<Occupant> occupants_of(const std::vector<std::string>& paths,
                                   const std::string& archive) {
    // Standard input is no file any name could lead to.
    const FileIdentity read = archive == kStandardInput ? FileIdentity{} : identity_of(archive);
    std::vector<Occupant> occupants;
    occupants.reserve(paths.size());
    for (const std::string& path : paths) {
        occupants.push_back(occupant_of(path, read));
    }
    return occupants;
}

// The path of every selected clip's file, or a usage error when two clips
// would share one.
std::string target_paths(const NamedArchive& archive, const std::vector<std::size_t>& indices,
                         const NameTemplate& names, const std::string& folder,
                         std::vector<std::string>& paths) {
    std::map<std::string, std::size_t> taken;
    for (const std::size_t index : indices) {
        const std::string name =
            names.expand(archive.base_name(), index + 1, archive.reader().row(index).id);
        if (const std::string problem = host_name_problem(name); !problem.empty()) {
            char position[16];
            std::snprintf(position, sizeof position, "%04zu", index + 1);
            return std::string("clip ") + position + " would be written to \"" + name +
                   "\": " + problem + "; choose another --name";
        }
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

// True when one of `paths` is the archive itself (by another name, a link or
// a template such as {base}.pev): writing it would destroy what is being
// read, whatever --force says.
bool refuse_archive_itself(const std::vector<std::string>& paths,
                           const std::vector<Occupant>& occupants, std::FILE* err) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (occupants[i] == Occupant::same_file) {
            std::fprintf(err, "pev: %s is the archive being read; nothing was written\n",
                         paths[i].c_str());
            return true;
        }
    }
    return false;
}

// Names the first file that would be replaced, and how many more there are.
bool refuse_existing(const std::vector<std::string>& paths, const std::vector<Occupant>& occupants,
                     std::FILE* err) {
    std::size_t clashes = 0;
    const std::string* first = nullptr;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (occupants[i] != Occupant::nothing) {
            first = first != nullptr ? first : &paths[i];
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
    std::fprintf(err, "; nothing was written (--force replaces %s, -n keeps %s)\n",
                 clashes > 1 ? "them" : "it", clashes > 1 ? "them" : "it");
    return true;
}

// -n: the clips whose files are already there are left out, and counted.
std::size_t drop_existing(std::vector<std::size_t>& indices, std::vector<std::string>& paths,
                          std::vector<Occupant>& occupants) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (occupants[i] == Occupant::nothing) {
            if (kept != i) {
                indices[kept] = indices[i];
                paths[kept] = std::move(paths[i]);
                occupants[kept] = occupants[i];
            }
            ++kept;
        }
    }
    const std::size_t skipped = paths.size() - kept;
    indices.resize(kept);
    paths.resize(kept);
    occupants.resize(kept);
    return skipped;
}

// --dry-run: each name that would be written, and what becomes of the files
// already there; nothing is written. Fails (status 1) when the run itself
// would refuse.
int show_dry_run(const std::vector<std::string>& paths, const std::vector<Occupant>& occupants,
                 const ExtractOptions& options, std::FILE* out) {
    std::size_t clashes = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        if (occupants[i] == Occupant::nothing) {
            std::fprintf(out, "would write: %s\n", path.c_str());
            continue;
        }
        ++clashes;
        const char* fate = options.force           ? "would replace"
                           : options.skip_existing ? "would keep"
                                                   : "exists:";
        std::fprintf(out, "%s %s\n", fate, path.c_str());
    }
    const bool refused = clashes > 0 && !options.force && !options.skip_existing;
    std::fprintf(out, "%zu file%s, %zu already there; nothing was written%s\n", paths.size(),
                 paths.size() == 1 ? "" : "s", clashes,
                 refused ? " (and without --dry-run nothing would be: use --force or -n)" : "");
    return refused ? kExitFailed : kExitOk;
}

// Makes the output folder when it is missing; `made` says whether this run
// made it, so that it can go again if nothing was written into it.
bool make_folder(const std::string& folder, bool& made, std::FILE* err) {
    std::error_code error;
    const fs::path path = path_from_utf8(folder);
    if (fs::is_directory(path, error)) {
        return true;
    }
    made = fs::create_directories(path, error);
    if (error) {
        std::fprintf(
            err, "pev: %s\n",
            file_error_text(os_error(ErrorCode::cannot_make_folder, folder, error)).c_str());
        return false;
    }
    return true;
}

// Writes each clip the stream hands over to the next of `paths`, reporting
// as it goes; a clip that cannot be extracted or written is named and
// skipped. A failure that concerns the whole folder (a full disk, a folder
// that cannot be written) is named once and stops the run: every later clip
// would fail alike.
class ClipFiles {
  public:
    ClipFiles(std::uint32_t rate, const std::vector<std::string>& paths,
              const std::vector<Occupant>& occupants, const ExtractOptions& options,
              const Streams& io)
        : rate_(rate), output_(options.output, output_rate(options.output, rate)), paths_(paths),
          occupants_(occupants), verbosity_(options.verbosity), io_(io), replace_(options.force),
          progress_(io.err, paths.size(), options.verbosity != Verbosity::quiet) {}

    // False once the run is to stop.
    bool take(const extraction::ReadyClip& clip) {
        const Occupant occupant = occupants_[next_];
        const std::string& path = paths_[next_++];
        if (!clip.info.ok()) {
            report(clip_label(clip.info.index, clip.info.row.id) +
                   " skipped: " + clip_problem_text(clip.info.problem));
            progress_.advance(0);
            return true;
        }
        std::uint64_t size = 0;
        const NameSeen seen = occupant == Occupant::nothing ? NameSeen::free : NameSeen::taken;
        if (const Error error = output_.write_file(path, clip.frame, rate_, replace_, seen, size);
            !error.ok()) {
            if (error.concerns_whole_folder()) {
                const std::string folder = folder_of(path);
                report("cannot write into " + (folder.empty() ? "." : folder) + ": " +
                       error.os.message() + "; clips from " +
                       clip_label(clip.info.index, clip.info.row.id) + " on were not extracted");
                return false;
            }
            report(file_error_text(error));
            progress_.advance(0);
            return true;
        }
        ++written_;
        bytes_ += size;
        if (verbosity_ == Verbosity::verbose) {
            progress_.clear();
            std::fprintf(io_.out, "Extracted: %s\n", path.c_str());
        }
        progress_.advance(size);
        return true;
    }

    void finish(const std::string& folder, std::size_t skipped) {
        progress_.clear();
        if (verbosity_ == Verbosity::quiet) {
            return;
        }
        const std::size_t total = paths_.size();
        if (all_written()) {
            std::fprintf(io_.out, "Extracted %zu clip%s (%s) into %s", total, total == 1 ? "" : "s",
                         human_size(bytes_).c_str(), folder.c_str());
            if (skipped > 0) {
                std::fprintf(io_.out, "; %zu skipped, already there", skipped);
            }
            std::fputc('\n', io_.out);
        } else {
            std::fprintf(io_.out, "Extracted %zu of %zu clip%s (%s) into %s; %zu failed", written_,
                         total, total == 1 ? "" : "s", human_size(bytes_).c_str(), folder.c_str(),
                         total - written_);
            if (skipped > 0) {
                std::fprintf(io_.out, ", %zu skipped, already there", skipped);
            }
            std::fputc('\n', io_.out);
        }
    }

    bool all_written() const { return written_ == paths_.size(); }
    std::size_t written() const { return written_; }

  private:
    void report(const std::string& problem) {
        progress_.clear();
        std::fprintf(io_.err, "pev: %s\n", problem.c_str());
    }

    std::uint32_t rate_; // the clips'
    ClipOutput output_;
    const std::vector<std::string>& paths_;
    const std::vector<Occupant>& occupants_;
    Verbosity verbosity_;
    Streams io_;
    bool replace_;
    ProgressLine progress_;
    std::size_t next_ = 0;
    std::size_t written_ = 0;
    std::uint64_t bytes_ = 0;
};

int extract(const ExtractOptions& options, const Streams& io) {
    NameTemplate names;
    if (options.name_template) {
        if (const std::string error = names.parse(*options.name_template); !error.empty()) {
            std::fprintf(io.err, "pev: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    const auto archive = NamedArchive::open(options.archive, io.err);
    if (!archive) {
        return kExitFailed;
    }
    const archive::ArchiveReader& reader = archive->reader();
    auto chosen = chosen_clips(options.clips, options.ids, reader, io.err);
    if (!chosen) {
        return kExitUsage;
    }
    std::vector<std::size_t> indices = std::move(*chosen);
    const std::string folder = options.folder.value_or(archive->folder());
    std::vector<std::string> paths;
    if (const std::string error = target_paths(*archive, indices, names, folder, paths);
        !error.empty()) {
        std::fprintf(io.err, "pev: %s\n", error.c_str());
        return kExitUsage;
    }
    std::vector<Occupant> occupants = occupants_of(paths, archive->path());
    if (refuse_archive_itself(paths, occupants, io.err)) {
        return kExitUsage;
    }
    if (options.dry_run) {
        return show_dry_run(paths, occupants, options, io.out);
    }
    const std::size_t skipped =
        options.skip_existing ? drop_existing(indices, paths, occupants) : 0;
    if (!options.force && refuse_existing(paths, occupants, io.err)) {
        return kExitFailed;
    }
    bool made_folder = false;
    if (!folder.empty() && !make_folder(folder, made_folder, io.err)) {
        return kExitFailed;
    }

    ClipFiles files(reader.sample_rate(), paths, occupants, options, io);
    extraction::stream_clips(reader, indices, extraction::StreamOptions{.stop_at_refusal = false},
                             [&files](extraction::ReadyClip& clip) { return files.take(clip); });
    files.finish(folder.empty() ? "." : folder, skipped);
    if (made_folder && files.written() == 0) {
        // Nothing could be written into it: the run leaves no trace.
        std::error_code ignored;
        fs::remove(path_from_utf8(folder), ignored);
    }
    return files.all_written() ? kExitOk : kExitFailed;
}

// Each archive in turn; with -o DIR and more than one, each into DIR/BASE/,
// so that clips of archives with the same names stay apart.
int extract_each(const std::vector<std::string>& archives, const ExtractOptions& options,
                 const Streams& io) {
    return for_each_archive(archives, io, [&](const std::string& name) {
        ExtractOptions one = options;
        one.archive = name;
        if (options.folder && archives.size() > 1) {
            one.folder = join_path(*options.folder, base_name_of(resolve_archive_path(name)));
        }
        return extract(one, io);
    });
}

// The options that exclude each other refused, for `pev extract` and for
// `pev ARCHIVE` alike (`command` names the help to point at, "" for pev's).
int checked_extract(const std::string& command, const std::vector<std::string>& archives,
                    ExtractOptions options, std::size_t quiet, std::size_t verbose,
                    const Streams& io) {
    const std::optional<Verbosity> verbosity = verbosity_of(command, quiet, verbose, io.err);
    if (!verbosity) {
        return kExitUsage;
    }
    if (options.force && options.skip_existing) {
        return usage_error(command, "--force and -n exclude each other", io.err);
    }
    if (const std::string problem = choose_output(options.format, options.name_template,
                                                  options.rate, options.no_dither, options.output);
        !problem.empty()) {
        return usage_error(command, problem, io.err);
    }
    if (!options.name_template && options.output.format != sound::SoundFormat::wav) {
        options.name_template =
            "{base}_{n}" + std::string(sound::name_of(options.output.format).extension);
    }
    options.verbosity = *verbosity;
    return extract_each(with_wildcards_expanded(archives), options, io);
}

class ExtractCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        ExtractOptions& o = options_;
        positional(command, "ARCHIVE", archives_, "the archives")->required();
        command
            .add_option("-o,--output", o.folder,
                        "write into DIR, made if missing "
                        "(default: the archive's folder)")
            ->type_name("DIR");
        command.add_option("-c,--clips", o.clips, "only these clips, by position: 1,5-9,12,20-")
            ->type_name("LIST");
        command.add_option("--id", o.ids, "only the clips with these entry ids: 3,7-9")
            ->type_name("LIST");
        command.add_option("--name", o.name_template, "name the files after TEMPLATE")
            ->type_name("TEMPLATE");
        command
            .add_option("--format", o.format,
                        "write wav, flac, ogg, opus, mp3 or aiff files (default: as the "
                        "template's extension says, else wav)")
            ->type_name("FORMAT");
        add_rate_option(command, o.rate, "resample the clips to HZ (default: the archive's rate)");
        add_dither_option(command, o.no_dither);
        command.add_flag("--force", o.force, "replace existing files");
        command.add_flag("-n,--skip-existing", o.skip_existing,
                         "keep existing files and write the rest");
        command.add_flag("--dry-run", o.dry_run,
                         "print the names that would be written, and the clashes; write nothing");
        command.add_flag("-q,--quiet", quiet_, "print no summary line");
        command.add_flag("-v,--verbose", verbose_, "print a line per file");
        command.footer(kExtractFooter);
    }

    int run(const Streams& io) override {
        return checked_extract("extract", archives_, options_, quiet_, verbose_, io);
    }

  private:
    std::vector<std::string> archives_;
    ExtractOptions options_;
    std::size_t quiet_ = 0;
    std::size_t verbose_ = 0;
};

} // namespace

std::unique_ptr<Command> make_extract_command() {
    return std::make_unique<ExtractCommand>();
}

int extract_beside(const std::vector<std::string>& archives, const BareOptions& bare,
                   const Streams& io) {
    ExtractOptions options;
    options.folder = bare.folder;
    options.force = bare.force;
    options.skip_existing = bare.skip_existing;
    return checked_extract("", archives, options, bare.quiet, bare.verbose, io);
}

} // namespace pev::cli::tool
