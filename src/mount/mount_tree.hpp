#pragma once
// The mounted folder: one file per clip that can be decoded, named as
// `pev extract` names it, and, on a writable mount, the other files programs
// write beside them (an editor's temporary files). Everything here is the
// file system's meaning, in system-call terms (names, open flags, errno
// results), without FUSE: fuse_bridge.cpp only passes calls through.
//
// A clip's file shows the archive's bytes until it is written. Writing goes
// into a draft (draft_file.hpp) that the reads of that file show too; when
// the file is closed the draft is judged by read_replacement, the same
// judge as `pev replace`'s: a draft it refuses makes close() fail (EINVAL)
// and the clip is as it was; an accepted one waits for the next rewrite,
// which puts every waiting draft into the archive at once, through
// replace_clips: 2 s after the last accepted close, at an fsync, and at the
// end. A draft under another name becomes a clip when it is renamed over
// one, and is judged then.

#include "mount/archive_generation.hpp"
#include "mount/clip_bytes.hpp"
#include "mount/draft_file.hpp"
#include "mount/mount_events.hpp"
#include "pack/input_converter.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace pev::mount {

// A clip the folder shows, and its file's name.
struct ServedClip {
    std::size_t index = 0;
    std::string name;
};

struct TreeSettings {
    std::string archive_path; // absolute: rewrites go there
    bool writable = false;
    std::string draft_folder; // absolute: where drafts live, unnamed
    // True for a name the name template could give a clip: such a name that
    // is no clip of the archive cannot be made (EPERM).
    std::function<bool(std::string_view)> names_a_clip;
    // Takes saved files that are no 16-bit mono WAV files at the archive's
    // rate (pev built with sound files); nullptr: only those are taken.
    std::shared_ptr<const pack::InputConverter> converter;
    EventSink report;
    // Told whenever a draft was accepted, so that a timer can wait for due().
    std::function<void()> accepted;
    std::chrono::milliseconds batch_delay{2000};
};

struct Draft;
struct Node;

// A file open in the folder: what FUSE keeps as the file handle.
struct OpenFile {
    std::shared_ptr<Node> node;
    std::shared_ptr<Draft> draft; // what this handle writes; null for reading
};

class MountTree {
  public:
    MountTree(std::shared_ptr<const ArchiveGeneration> archive,
              const std::vector<ServedClip>& clips, TreeSettings settings);
    ~MountTree();

    bool writable() const { return settings_.writable; }

    // Every result is 0 (or a count) or a negative errno. "" is the folder.
    int stat(std::string_view name, struct stat& status) const;
    // The folder's files from the `from`th on (in name order), each with its
    // status, for as long as `each` returns true.
    void list(std::size_t from,
              const std::function<bool(const std::string&, const struct stat&)>& each) const;
    int open(std::string_view name, int flags, OpenFile*& file);
    int create(std::string_view name, mode_t mode, int flags, OpenFile*& file);
    long read(const OpenFile& file, std::uint64_t offset, std::span<std::uint8_t> into);
    // By name, for a file opened without a handle (a read-only folder).
    long read(std::string_view name, std::uint64_t offset, std::span<std::uint8_t> into);
    long write(OpenFile& file, std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // By handle when `file` is given, else by name.
    int truncate(OpenFile* file, std::string_view name, std::uint64_t size);
    int set_modified(std::string_view name, const struct timespec& when);
    // At each close(): judges a clip's draft written through `file`.
    int flush(OpenFile& file);
    void release(OpenFile* file);
    int unlink(std::string_view name);
    int rename(std::string_view from, std::string_view to, unsigned flags);

    // Puts every accepted draft into the archive now; 0 or a negative errno.
    int write_pending();
    // When the next rewrite is due; none while nothing waits.
    std::optional<std::chrono::steady_clock::time_point> due() const;
    // At the end: writes what waits, and reports what could not be.
    void finish();

  private:
    using Lock = std::unique_lock<std::mutex>;
    std::shared_ptr<Node> find(std::string_view name) const;
    std::shared_ptr<Draft> new_draft(int& error) const;
    int copy_clip_into(const Node& node, Draft& draft);
    Error judge(const Draft& draft) const;
    void fill_status(const Node* node, struct stat& status) const;
    void tell_accepted(Lock& lock);
    void restore(Node& node);

    TreeSettings settings_;
    mutable std::mutex mutex_;
    std::mutex rewriting_; // one rewrite at a time
    std::shared_ptr<const ArchiveGeneration> archive_;
    std::map<std::string, std::shared_ptr<Node>, std::less<>> names_;
    ClipBytes bytes_;
    std::chrono::steady_clock::time_point last_accepted_;
    bool retry_waits_for_close_ = false;
    uid_t owner_;
    gid_t group_; // a rewrite failed: no retry before the next close
};

} // namespace pev::mount
