#pragma once
// Where a mounted archive's log lines go: why a save was refused, what a
// rewrite did. Nobody waits for those answers but the log, so it must be
// reachable: a file given with --log, standard error in the foreground,
// else the system log where one listens, else a file in the user's state
// folder, which `pev mount` names at start.

#include "cli/pev/mount_messages.hpp"

#include <cstdio>
#include <memory>
#include <string>

namespace pev::cli::tool {

class MountLog {
  public:
    // --log FILE: appended to, made if missing. Null with `problem` when it
    // cannot be opened for writing.
    static std::unique_ptr<MountLog> to_file(const std::string& path, std::string& problem);
    // -f: each line on `stream` as "pev: TEXT".
    static std::unique_ptr<MountLog> to_stream(std::FILE* stream);
    // In the background: the system log when something listens on
    // /dev/log; else the file mount.log in $XDG_STATE_HOME/pev (by default
    // ~/.local/state/pev), named in `notice` for the user. Null, with
    // `notice` saying why the lines are lost, when there is neither.
    static std::unique_ptr<MountLog> in_background(std::string& notice);

    ~MountLog();
    MountLog(const MountLog&) = delete;
    MountLog& operator=(const MountLog&) = delete;

    // A line that cannot be written (a full disk) is dropped: the mount goes on.
    void write(const MountLogLine& line) const;
    // The file's descriptor; -1 for the others.
    int descriptor() const { return fd_; }

  private:
    enum class Kind { file, stream, system };
    MountLog(Kind kind, int fd, std::FILE* stream) : kind_(kind), fd_(fd), stream_(stream) {}

    Kind kind_;
    int fd_ = -1;
    std::FILE* stream_ = nullptr;
};

} // namespace pev::cli::tool
