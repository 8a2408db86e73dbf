// pev mount: an archive as a folder of WAV files that every program can open
// and, with --write, save back into. The checks and the words are here; the
// file system is src/mount/.

#include "cli/pev/command.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/name_template.hpp"
#include "cli/pev/named_archive.hpp"

#ifdef PEV_HAVE_MOUNT
#include "cli/pev/mount_checks.hpp"
#include "cli/pev/mount_log.hpp"
#include "cli/pev/sound_support.hpp"
#include "mount/mount_session.hpp"
#include "platform/temporary_name.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pev::cli::tool {
namespace {

struct MountOptions {
    std::string archive;
    std::string folder;
    bool writable = false;
    bool foreground = false;
    std::optional<std::string> name_template;
    std::optional<std::string> log;
    std::vector<std::string> fuse_options;
};

#ifdef PEV_HAVE_MOUNT

std::string absolute(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// Where files being written wait: TMPDIR, or /var/tmp, which is on disk.
std::string draft_folder() {
    const char* chosen = std::getenv("TMPDIR");
    return absolute(chosen != nullptr && *chosen != '\0' ? chosen : "/var/tmp");
}

// Each clip the folder shows, named by `names`; a clip that cannot be decoded
// is named on `err` and left out. A usage error when two clips would share a
// name.
std::optional<std::vector<mount::ServedClip>> served_clips(const mount::ArchiveGeneration& archive,
                                                           const NameTemplate& names,
                                                           const std::string& base,
                                                           std::FILE* err) {
    std::vector<mount::ServedClip> served;
    std::map<std::string, std::size_t> taken;
    const auto& clips = archive.clips();
    for (std::size_t index = 0; index < clips.size(); ++index) {
        const mount::ScannedClip& clip = clips[index];
        if (!clip.ok()) {
            const std::string why =
                clip.problem != ClipProblem::none ? clip_problem_text(clip.problem)
                : clip.read_error.os ? "it cannot be read: " + clip.read_error.os.message()
                                     : "the file ends inside it";
            std::fprintf(err, "pev: %s left out: %s\n", clip_label(index, clip.id).c_str(),
                         why.c_str());
            continue;
        }
        std::string name = names.expand(base, index + 1, clip.id);
        const auto [place, fresh] = taken.emplace(name, index);
        if (!fresh) {
            char positions[64];
            std::snprintf(positions, sizeof positions, "clips %04zu and %04zu", place->second + 1,
                          index + 1);
            usage_error("mount",
                        std::string(positions) + " would both be named " + name +
                            (names.numbers_clips() ? "" : "; put {n} in the name template"),
                        err);
            return std::nullopt;
        }
        served.push_back({index, std::move(name)});
    }
    return served;
}

// Where the log lines go, opened before anything is mounted: --log FILE
// (neither inside DIR, which the mount covers, nor the archive itself),
// standard error in the foreground, else the system log or a file named
// in `notice`, to be said once mounted. Null with `status` set when --log
// cannot be used; null with status 0 when there is nowhere to log (the
// notice says so).
std::shared_ptr<MountLog> open_log(const MountOptions& options, const std::string& folder,
                                   const std::string& archive, const Streams& io, int& status,
                                   std::string& notice) {
    status = kExitOk;
    if (!options.log) {
        if (options.foreground) {
            return MountLog::to_stream(io.err);
        }
        return MountLog::in_background(notice);
    }
    const std::string& path = *options.log;
    const std::string place = absolute(folder_of(path).empty() ? "." : folder_of(path));
    if (place == folder || place.rfind(folder + "/", 0) == 0) {
        status = usage_error("mount",
                             "--log " + path + ": the log cannot be inside " + options.folder +
                                 ", which the mount covers; name a file elsewhere",
                             io.err);
        return nullptr;
    }
    std::string problem;
    std::shared_ptr<MountLog> log = MountLog::to_file(path, problem);
    struct stat logged {};
    struct stat read {};
    if (log && ::fstat(log->descriptor(), &logged) == 0 && ::stat(archive.c_str(), &read) == 0 &&
        logged.st_dev == read.st_dev && logged.st_ino == read.st_ino) {
        status = usage_error("mount", "--log " + path + " is the archive itself", io.err);
        return nullptr;
    }
    if (!log) {
        std::fprintf(io.err, "pev: %s\n", problem.c_str());
        status = kExitFailed;
    }
    return log;
}

int mount_archive(const MountOptions& options, const Streams& io) {
    NameTemplate names;
    if (options.name_template) {
        if (const std::string error = names.parse(*options.name_template); !error.empty()) {
            return usage_error("mount", error, io.err);
        }
        if (const std::string error = mounted_name_problem(*options.name_template);
            !error.empty()) {
            return usage_error("mount", error, io.err);
        }
    }
    if (options.archive == kStandardInput) {
        return usage_error("mount", "standard input cannot be mounted: name an archive file",
                           io.err);
    }
    auto named = NamedArchive::open(options.archive, io.err);
    if (!named) {
        return kExitFailed;
    }
    if (const std::string problem = folder_problem(options.folder); !problem.empty()) {
        std::fprintf(io.err, "pev: %s\n", problem.c_str());
        return kExitFailed;
    }
    if (const std::string problem = fuse_problem(); !problem.empty()) {
        std::fprintf(io.err, "pev: %s\n", problem.c_str());
        return kExitFailed;
    }
    const std::string folder = absolute(options.folder);
    const std::string path = absolute(named->path());
    OpenResult refusal = OpenResult::ok;
    Error error;
    const int fd = ::fcntl(::fileno(named->file()), F_DUPFD_CLOEXEC, 0);
    auto archive = fd < 0 ? nullptr : mount::ArchiveGeneration::open(fd, refusal, error);
    if (!archive) {
        std::fprintf(io.err, "pev: %s: cannot read it: %s\n", named->path().c_str(),
                     std::generic_category().message(fd < 0 ? errno : error.os.value()).c_str());
        return kExitFailed;
    }
    auto served = served_clips(*archive, names, named->base_name(), io.err);
    if (!served) {
        return kExitUsage;
    }
    mount::MountSetup setup;
    if (options.writable) {
        if (const std::string problem = rewrite_problem(named->reader(), path, named->path());
            !problem.empty()) {
            std::fprintf(io.err, "pev: %s\n", problem.c_str());
            return kExitFailed;
        }
        // A rewrite killed between naming the new archive and putting it in
        // place left it under a temporary name; mounting it again clears it.
        remove_stale_temporary_names(path);
        setup.tree.draft_folder = draft_folder();
        int draft_error = 0;
        if (!mount::DraftFile::create(setup.tree.draft_folder, draft_error)) {
            std::fprintf(io.err,
                         "pev: cannot keep the files being written in %s: %s; set TMPDIR to "
                         "a folder on disk where you may write\n",
                         setup.tree.draft_folder.c_str(),
                         std::generic_category().message(draft_error).c_str());
            return kExitFailed;
        }
    }
    setup.archive = std::move(archive);
    setup.clips = std::move(*served);
    setup.folder = folder;
    setup.foreground = options.foreground;
    // One thread answers: with libfuse's pool of threads, reading every clip
    // of an archive took 1.8 times as long (bench/mount), every request
    // handed from thread to thread. PEV_MOUNT_THREADS=1 takes the pool, for
    // that benchmark.
    setup.single_thread = std::getenv("PEV_MOUNT_THREADS") == nullptr;
    setup.fuse_options = options.fuse_options;
    setup.tree.archive_path = path;
    setup.tree.writable = options.writable;
    const std::string base = named->base_name();
    const std::string given_path = named->path();
    // The mount reads its own descriptor; this one would keep the file as
    // opened on disk, even once rewrites have put new ones in its place.
    named.reset();
    // Saved recordings of other kinds are converted as pev replace converts
    // them, where this build has sound files.
    setup.tree.converter = make_input_converter(true);
    setup.tree.names_a_clip = [names, base](std::string_view name) {
        return names.could_name(name, base);
    };
    int log_status = kExitOk;
    std::string notice;
    const std::shared_ptr<MountLog> log = open_log(options, folder, path, io, log_status, notice);
    if (log_status != kExitOk) {
        return log_status;
    }
    setup.tree.report = [log, path](const mount::MountEvent& event) {
        if (log) {
            log->write(mount_event_text(event, path));
        }
    };
    std::fflush(io.out);
    std::fflush(io.err);
    const mount::EventSink report = setup.tree.report;
    const mount::MountOutcome outcome = mount::serve(std::move(setup), [&io, &notice] {
        if (!notice.empty()) {
            std::fprintf(io.err, "pev: %s\n", notice.c_str());
        }
        std::fflush(io.out);
        std::fflush(io.err);
    });
    switch (outcome.failure) {
    case mount::MountOutcome::Failure::none:
        return kExitOk;
    case mount::MountOutcome::Failure::bad_option:
        return usage_error("mount", "-o: " + outcome.reason, io.err);
    case mount::MountOutcome::Failure::cannot_mount:
        std::fprintf(io.err, "pev: cannot mount %s on %s: %s\n", given_path.c_str(),
                     options.folder.c_str(),
                     outcome.reason.empty() ? "the system refused" : outcome.reason.c_str());
        return kExitFailed;
    case mount::MountOutcome::Failure::serving_failed:
        report({mount::MountEvent::Kind::ended,
                {},
                error_about(ErrorCode::cannot_read, outcome.reason),
                0});
        return kExitFailed;
    }
    return kExitFailed;
}

#else

int mount_archive(const MountOptions&, const Streams& io) {
#ifdef _WIN32
    std::fputs("pev: mount is not available on Windows\n", io.err);
#else
    std::fputs("pev: this build of pev has no mounting (it was built without libfuse 3)\n", io.err);
#endif
    return kExitFailed;
}

#endif

constexpr const char* kMountFooter =
    "DIR must be an empty folder. Each clip that can be decoded is a WAV file there,\n"
    "named as pev extract names it. Without --write the folder is read-only.\n"
    "With --write a clip's file may be saved as programs save files: written over,\n"
    "removed and made again, or another file renamed over it. Once written, it must\n"
    "be a file pev replace takes, else its close or rename fails and the clip is as\n"
    "it was; a clip removed or emptied and not written again shows again as it was.\n"
    "Saved clips go into the archive 2 s after the last save, at fsync (sync DIR)\n"
    "and when DIR is unmounted (pev unmount DIR). Why a save was refused is logged:\n"
    "to FILE with --log, to standard error with -f, else to the system log (where\n"
    "there is none, pev mount names the file it logs to).";

class MountCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        positional(command, "ARCHIVE", options_.archive, "the archive")->required();
        positional(command, "DIR", options_.folder, "the empty folder to show it in")->required();
        command.add_flag("--write", options_.writable, "take saved clips back into the archive");
        command.add_option("--name", options_.name_template, "name the files after TEMPLATE")
            ->type_name("TEMPLATE");
        command.add_flag("-f,--foreground", options_.foreground,
                         "stay in the foreground and log to standard error");
        command.add_option("--log", options_.log, "log to FILE, appending")->type_name("FILE");
        command.add_option("-o", options_.fuse_options, "mount options, as mount(8) takes them")
            ->type_name("OPTION,...");
        command.footer(kMountFooter);
    }

    int run(const Streams& io) override { return mount_archive(options_, io); }

  private:
    MountOptions options_;
};

} // namespace

std::unique_ptr<Command> make_mount_command() {
    return std::make_unique<MountCommand>();
}

} // namespace pev::cli::tool
