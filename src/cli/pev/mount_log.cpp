#include "cli/pev/mount_log.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <system_error>
#include <unistd.h>

namespace pev::cli::tool {
namespace {

// What syslog(3) writes to. Without a listener it drops every line and
// says nothing (containers and many small systems have none).
bool system_log_listens() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const char path[] = "/dev/log";
    std::copy(std::begin(path), std::end(path), address.sun_path);
    for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
        const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            continue;
        }
        const bool listens =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (listens) {
            return true;
        }
    }
    return false;
}

// Appends to `path`, made if missing; a named pipe without a reader is
// refused at once rather than waited for. -1 with errno when it cannot.
int open_for_appending(const std::string& path) {
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd >= 0) {
        ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
    }
    return fd;
}

// $XDG_STATE_HOME/pev, or ~/.local/state/pev, made if missing; "" with
// errno when there is no such folder and it cannot be made.
std::string state_folder() {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        base = std::string(home) + "/.local/state";
    } else {
        errno = ENOENT;
        return "";
    }
    std::string folder = base + "/pev";
    // Each missing folder on the way, as mkdir -p makes them.
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return "";
        }
    }
    return folder;
}

// A line of a log file is one event: a control character in a name (a
// newline is allowed in file names) is written as #ooo, in octal, as the
// system log writes it.
std::string one_line(const std::string& text) {
    std::string line;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            const char digits[] = {'#', static_cast<char>('0' + (byte >> 6)),
                                   static_cast<char>('0' + ((byte >> 3) & 7)),
                                   static_cast<char>('0' + (byte & 7))};
            line.append(digits, sizeof digits);
        } else {
            line += c;
        }
    }
    return line;
}

} // namespace

std::unique_ptr<MountLog> MountLog::to_file(const std::string& path, std::string& problem) {
    const int fd = open_for_appending(path);
    if (fd < 0) {
        problem = "cannot open the log " + path + ": " + std::generic_category().message(errno);
        return nullptr;
    }
    return std::unique_ptr<MountLog>(new MountLog(Kind::file, fd, nullptr));
}

std::unique_ptr<MountLog> MountLog::to_stream(std::FILE* stream) {
    return std::unique_ptr<MountLog>(new MountLog(Kind::stream, -1, stream));
}

std::unique_ptr<MountLog> MountLog::in_background(std::string& notice) {
    if (system_log_listens()) {
        ::openlog("pev", LOG_PID, LOG_USER);
        return std::unique_ptr<MountLog>(new MountLog(Kind::system, -1, nullptr));
    }
    const std::string folder = state_folder();
    const std::string path = folder + "/mount.log";
    const int fd = folder.empty() ? -1 : open_for_appending(path);
    if (fd < 0) {
        notice =
            "this system has no system log (nothing listens on /dev/log), and " +
            (folder.empty() ? std::string("no state folder ($XDG_STATE_HOME or ~/.local/state)")
                            : path) +
            " cannot be written (" + std::generic_category().message(errno) +
            "): this mount's messages are lost; give --log FILE to keep them";
        return nullptr;
    }
    notice = "this system has no system log (nothing listens on /dev/log): this mount's "
             "messages go to " +
             path;
    return std::unique_ptr<MountLog>(new MountLog(Kind::file, fd, nullptr));
}

MountLog::~MountLog() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void MountLog::write(const MountLogLine& line) const {
    switch (kind_) {
    case Kind::stream:
        std::fprintf(stream_, "pev: %s\n", line.text.c_str());
        std::fflush(stream_);
        return;
    case Kind::system:
        ::syslog(line.problem ? LOG_ERR : LOG_INFO, "%s", line.text.c_str());
        return;
    case Kind::file:
        break;
    }
    // One write per line, so that the lines of several mounts sharing the
    // file never mix.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "";
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    }
    const std::string text =
        std::string(stamp) + " pev[" + std::to_string(::getpid()) + "]: " + one_line(line.text) + "\n";
    if (::write(fd_, text.data(), text.size()) < 0) {
        return; // nowhere left to say it
    }
}

} // namespace pev::cli::tool
