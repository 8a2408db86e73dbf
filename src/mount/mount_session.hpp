#pragma once
// Mounting and serving: the folder mounted through libfuse, the process
// gone into the background once it is (unless in the foreground), the
// requests answered until the folder is unmounted or a signal ends it, and
// then whatever still waits written into the archive.

#include "mount/archive_generation.hpp"
#include "mount/mount_tree.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pev::mount {

struct MountSetup {
    std::shared_ptr<const ArchiveGeneration> archive;
    std::vector<ServedClip> clips;
    TreeSettings tree;
    std::string folder; // absolute
    bool foreground = false;
    bool single_thread = false;            // one thread answers every request
    std::vector<std::string> fuse_options; // as given to -o, comma lists kept
};

struct MountOutcome {
    enum class Failure { none, bad_option, cannot_mount, serving_failed };
    Failure failure = Failure::none;
    std::string reason; // libfuse's own words, when it gave some

    bool ok() const { return failure == Failure::none; }
};

// Mounts, and serves until the mount ends. `mounted` is called once the
// folder is mounted, just before the process goes into the background: the
// last moment to print to the terminal. A failure before that leaves
// nothing mounted.
MountOutcome serve(MountSetup setup, const std::function<void()>& mounted);

} // namespace pev::mount
