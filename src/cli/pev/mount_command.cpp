// pev mount: an archive as a folder of WAV files that every program can open
// and, with --write, save back into. The checks and the words are here; the
// file system is src/mount/.

#include "cli/pev/command.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/name_template.hpp"
#include "cli/pev/named_archive.hpp"

#ifdef PEV_HAVE_MOUNT
#include "cli/pev/mount_messages.hpp"
#include "cli/pev/sound_support.hpp"
#include "mount/mount_session.hpp"
#include "pack/clip_replacer.hpp"
#include "platform/temporary_name.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <syslog.h>
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
    std::vector<std::string> fuse_options;
};

#ifdef PEV_HAVE_MOUNT

std::string absolute(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// Why `folder` cannot be mounted on, in words that say what to do; "" when
// it can.
std::string folder_problem(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT) {
            return folder + " does not exist: make the folder first (mkdir " + folder + ")";
        }
        if (error == ENOTCONN) {
            return folder + " is a mount whose program has ended: unmount it first (pev unmount " +
                   folder + ")";
        }
        return folder + ": " + std::generic_category().message(error);
    }
    if (!S_ISDIR(status.st_mode)) {
        return folder + " is not a folder: mount on an empty folder";
    }
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) {
        return folder + ": cannot list it: " + std::generic_category().message(errno);
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(listing);
    return empty ? "" : folder + " is not empty: mount on an empty folder";
}

// Why this process cannot mount at all; "" when it may try. libfuse opens
// /dev/fuse itself, root or not (a user's mount is then made by the setuid
// fusermount3).
std::string fuse_problem() {
    if (::access("/dev/fuse", F_OK) != 0) {
        return "/dev/fuse is missing: this system cannot mount folders served by a program "
               "(load the fuse module with modprobe fuse; in a container, pass /dev/fuse in)";
    }
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const std::string why = std::generic_category().message(errno);
        return ::geteuid() == 0
                   ? "no permission to use /dev/fuse (" + why +
                         "): in a container, allow the device and the SYS_ADMIN capability"
                   : "no permission to use /dev/fuse (" + why +
                         "): it is usually open to every user (mode 666); ask the "
                         "administrator, or mount as root";
    }
    ::close(fd);
    if (::geteuid() == 0) {
        return "";
    }
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/local/bin/", "/usr/sbin/", "/sbin/"}) {
        if (::access((std::string(folder) + "fusermount3").c_str(), X_OK) == 0) {
            return "";
        }
    }
    return "fusermount3 is missing, and only it may mount for users other than root: install "
           "the fuse3 package";
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

// A rewrite needs every clip it does not replace copied as stored, and the
// archive's folder writable.
std::string write_problem(const archive::ArchiveReader& reader, const std::string& path) {
    const std::vector<Error> uncopyable = pack::clips_that_cannot_be_copied(reader, {});
    if (!uncopyable.empty()) {
        const ClipRef clip = uncopyable.front().clip.value_or(ClipRef{});
        return path + ": " + clip_label(clip.index, clip.id) + " cannot be copied (" +
               clip_problem_text(uncopyable.front().problem) +
               "), so the archive cannot be rewritten: mount it without --write";
    }
    const std::string folder = folder_of(path).empty() ? "." : folder_of(path);
    if (::access(folder.c_str(), W_OK) != 0) {
        return "cannot write into " + folder + ", where " + path +
               " would be rewritten: " + std::generic_category().message(errno) +
               "; mount it without --write";
    }
    return "";
}

int mount_archive(const MountOptions& options, const Streams& io) {
    NameTemplate names;
    if (options.name_template) {
        if (const std::string error = names.parse(*options.name_template); !error.empty()) {
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
        if (const std::string problem = write_problem(named->reader(), path); !problem.empty()) {
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
    const bool foreground = options.foreground;
    std::FILE* err = io.err;
    setup.tree.report = [foreground, err, path](const mount::MountEvent& event) {
        const MountLogLine line = mount_event_text(event, path);
        if (foreground) {
            std::fprintf(err, "pev: %s\n", line.text.c_str());
            std::fflush(err);
        } else {
            ::syslog(line.problem ? LOG_ERR : LOG_INFO, "%s", line.text.c_str());
        }
    };
    // The file the archive was read from stays open in this process only.
    std::fflush(io.out);
    std::fflush(io.err);
    if (!foreground) {
        ::openlog("pev", LOG_PID, LOG_USER);
    }
    const mount::EventSink report = setup.tree.report;
    const mount::MountOutcome outcome = mount::serve(std::move(setup), [&io] {
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
    "named as pev extract names it. Without --write the folder is read-only. With\n"
    "--write a clip's file may be written over, or another file renamed over it; it\n"
    "must then be a 16-bit mono WAV file at the archive's rate, else closing it fails.\n"
    "The archive is rewritten 2 s after the last such close, at fsync (sync DIR) and\n"
    "when DIR is unmounted (pev unmount DIR).";

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
