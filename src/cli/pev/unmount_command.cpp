// pev unmount: writes what a writable mount still holds into its archive,
// then unmounts the folder. fusermount3 -u and umount unmount too, and the
// mount then writes what waits on its own; this says whether it worked.

#include "cli/pev/command.hpp"

#ifdef PEV_HAVE_MOUNT
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;
#endif

namespace pev::cli::tool {
namespace {

#ifdef PEV_HAVE_MOUNT

// /proc/self/mountinfo writes blanks, tabs, newlines and backslashes in
// paths as \040, \011, \012 and \134.
std::string unescaped(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                text += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        text += field[i];
    }
    return text;
}

// True when `folder` (absolute, normal) is where a pev mount is.
bool is_pev_mount(const std::string& folder) {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        // ID PARENT MAJOR:MINOR ROOT MOUNT_POINT OPTIONS [OPTIONAL...] - TYPE SOURCE ...
        std::vector<std::string> fields;
        std::size_t start = 0;
        while (start <= line.size()) {
            const std::size_t blank = line.find(' ', start);
            fields.push_back(line.substr(start, blank - start));
            if (blank == std::string::npos) {
                break;
            }
            start = blank + 1;
        }
        std::size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-") {
            ++dash;
        }
        if (fields.size() > dash + 1 && unescaped(fields[4]) == folder &&
            fields[dash + 1] == "fuse.pev") {
            return true;
        }
    }
    return false;
}

int run_fusermount(const std::string& folder) {
    const char* arguments[] = {"fusermount3", "-u", "-q", folder.c_str(), nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, "fusermount3", nullptr, nullptr, const_cast<char**>(arguments),
                       environ) != 0) {
        return ENOENT;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : EBUSY;
}

int unmount(const std::string& given, const Streams& io) {
    namespace fs = std::filesystem;
    // Made absolute by its words alone: a mount whose program ended cannot
    // even be looked at.
    std::string folder = fs::absolute(fs::path(given)).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (!is_pev_mount(folder)) {
        std::fprintf(io.err, "pev: %s is not a mounted archive\n", given.c_str());
        return kExitFailed;
    }
    // fsync of the folder writes what waits, and says whether it could.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        const int synced = ::fsync(fd) == 0 ? 0 : errno;
        ::close(fd);
        if (synced != 0 && synced != ENOTCONN) {
            std::fprintf(io.err,
                         "pev: the clips saved in %s could not be written into the archive: %s; "
                         "it stays mounted so that they are not lost (the system log says more; "
                         "fusermount3 -u %s gives them up)\n",
                         given.c_str(), std::generic_category().message(synced).c_str(),
                         given.c_str());
            return kExitFailed;
        }
    }
    int error = 0;
    if (::geteuid() == 0) {
        error = ::umount2(folder.c_str(), 0) == 0 ? 0 : errno;
    } else {
        error = run_fusermount(folder);
    }
    if (error == EBUSY) {
        std::fprintf(io.err,
                     "pev: %s is in use (a program has a file or the folder open there): close "
                     "it and try again\n",
                     given.c_str());
        return kExitFailed;
    }
    if (error != 0) {
        std::fprintf(io.err, "pev: cannot unmount %s: %s\n", given.c_str(),
                     std::generic_category().message(error).c_str());
        return kExitFailed;
    }
    return kExitOk;
}

#else

int unmount(const std::string&, const Streams& io) {
#ifdef _WIN32
    std::fputs("pev: unmount is not available on Windows\n", io.err);
#else
    std::fputs("pev: this build of pev has no mounting (it was built without libfuse 3)\n", io.err);
#endif
    return kExitFailed;
}

#endif

class UnmountCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        positional(command, "DIR", folder_, "the folder an archive is mounted on")->required();
        command.footer("Clips saved in DIR are written into the archive first; if that fails,\n"
                       "DIR stays mounted.");
    }

    int run(const Streams& io) override { return unmount(folder_, io); }

  private:
    std::string folder_;
};

} // namespace

std::unique_ptr<Command> make_unmount_command() {
    return std::make_unique<UnmountCommand>();
}

} // namespace pev::cli::tool
