#include "cli/pev/mount_checks.hpp"

#include "cli/pev/messages.hpp"
#include "cli/pev/named_archive.hpp"
#include "pack/clip_replacer.hpp"
#include "sound/sound_formats.hpp"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

namespace pev::cli::tool {
namespace {

std::string reason(int error) {
    return std::generic_category().message(error);
}

// The file attributes chattr sets (FS_IMMUTABLE_FL, FS_APPEND_FL); 0 where
// the file system keeps none.
unsigned attributes_of(const std::string& path, bool folder) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY |
                                            (folder ? O_DIRECTORY : 0));
    if (fd < 0) {
        return 0;
    }
    int flags = 0;
    const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return known ? static_cast<unsigned>(flags) : 0;
}

// Why the file at `path` could not be replaced by another put in its
// folder and renamed over it, as every rewrite does.
std::string replace_problem(const std::string& path) {
    const std::string folder = folder_of(path).empty() ? "." : folder_of(path);
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0) {
        return "its folder " + folder + " is on a read-only file system";
    }
    const unsigned own = attributes_of(path, false);
    if ((own & FS_IMMUTABLE_FL) != 0) {
        return "it is immutable (chattr +i), so nothing may replace it";
    }
    if ((own & FS_APPEND_FL) != 0) {
        return "it is append-only (chattr +a), so nothing may replace it";
    }
    const unsigned folders = attributes_of(folder, true);
    if ((folders & FS_IMMUTABLE_FL) != 0) {
        return "its folder " + folder + " is immutable (chattr +i)";
    }
    if ((folders & FS_APPEND_FL) != 0) {
        return "its folder " + folder +
               " is append-only (chattr +a), so no file in it may be "
               "replaced";
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "no permission to write in its folder " + folder + " (" + reason(errno) + ")";
    }
    struct stat file {};
    struct stat place {};
    if (::geteuid() != 0 && ::stat(path.c_str(), &file) == 0 &&
        ::stat(folder.c_str(), &place) == 0 && (place.st_mode & S_ISVTX) != 0 &&
        file.st_uid != ::geteuid() && place.st_uid != ::geteuid()) {
        return "its folder " + folder +
               " is sticky (as /tmp is) and the archive belongs to another user";
    }
    return "";
}

} // namespace

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
        return folder + ": " + reason(error);
    }
    if (!S_ISDIR(status.st_mode)) {
        return folder + " is not a folder: mount on an empty folder";
    }
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) {
        return folder + ": cannot list it: " + reason(errno);
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

// libfuse opens /dev/fuse itself, root or not (a user's mount is then made
// by the setuid fusermount3).
std::string fuse_problem() {
    if (::access("/dev/fuse", F_OK) != 0) {
        return "/dev/fuse is missing: this system cannot mount folders served by a program "
               "(load the fuse module with modprobe fuse; in a container, pass /dev/fuse in)";
    }
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const std::string why = reason(errno);
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

std::string mounted_name_problem(const std::string& name_template) {
    const sound::SoundFormatName* format = sound::format_of_file_name(name_template);
    if (format == nullptr || format->format == sound::SoundFormat::wav) {
        return "";
    }
    return "--name " + name_template +
           ": a mounted clip is a WAV file, whose size is known before it is read, so its "
           "name cannot end in " +
           std::string(format->extension) + " (pev extract --format " + std::string(format->name) +
           " writes such files)";
}

std::string rewrite_problem(const archive::ArchiveReader& reader, const std::string& path,
                            const std::string& given) {
    const std::vector<Error> uncopyable = pack::clips_that_cannot_be_copied(reader, {});
    if (!uncopyable.empty()) {
        const ClipRef clip = uncopyable.front().clip.value_or(ClipRef{});
        return given + ": " + clip_label(clip.index, clip.id) + " cannot be copied (" +
               clip_problem_text(uncopyable.front().problem) +
               "), so the archive cannot be rewritten: mount it without --write";
    }
    if (const std::string problem = replace_problem(path); !problem.empty()) {
        return given + " cannot be rewritten: " + problem + "; mount it without --write";
    }
    return "";
}

} // namespace pev::cli::tool
