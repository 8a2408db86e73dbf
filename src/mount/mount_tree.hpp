#pragma once
// The mounted folder: one file per clip that can be decoded, named as
// `pev extract` names it, and, on a writable mount, the other files programs
// write beside them (an editor's temporary files). Everything here is the
// file system's meaning, in system-call terms (names, open flags, errno
// results), without FUSE: fuse_bridge.cpp only passes calls through.
//
// A clip's file shows the archive's bytes until it is written. Writing goes
// into a draft (draft_file.hpp) that reads of that file show too. A draft is
// judged by the judge of `pev replace` once the writing is done: at a close
// (flush) of the last handle writing it, if it was written since it was last
// judged; when renamed over a clip; at a truncation by name. An empty draft
// is not judged: it is a save that has not begun (`truncate -s 0` then an
// append, a shell's redirection closing its first descriptor). A refused
// draft fails that close (EPERM, EFBIG for a clip too long) and the clip
// shows again what it showed before, but the draft stays open for the
// descriptors that remain, which may write it again; it is dropped, and
// reported, when its last one goes. An accepted one waits for the next
// rewrite, which puts every waiting save into the archive at once, through
// replace_clips: 2 s after the last accepted save, at an fsync, and at the
// end; a failed rewrite is tried again after a pause that doubles.
//
// A clip's file may be removed and made again (install, tar -x, unzip -o
// remove a file before writing it anew), or renamed away (an editor's
// backup): an archive cannot lose a clip, so a clip removed, or emptied,
// and not written again within 2 s (or by an fsync or the end) shows again
// as it was, and is reported.

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
    // Told whenever what due() answers may have changed, so that a timer
    // can wait for it.
    std::function<void()> changed;
    std::chrono::milliseconds batch_delay{2000};
    // The pause after a failed rewrite before the next try, doubled after
    // each failure up to the longest.
    std::chrono::milliseconds retry_pause{2000};
    std::chrono::milliseconds longest_retry_pause{60000};
};

struct Draft;
struct Node;
struct Times;

// A file open in the folder: what FUSE keeps as the file handle.
struct OpenFile {
    std::shared_ptr<Node> node;
    std::shared_ptr<Draft> draft; // what this handle writes; null for reading
};

// What asks for the waiting saves to be written.
enum class Rewrite {
    when_due, // the timer: only what is due (the batch delay, the pause after a failure)
    now,      // an fsync: whatever waits, at once
    at_end,   // the mount ends: whatever waits, and every removed clip back
};

class MountTree {
  public:
    MountTree(std::shared_ptr<const ArchiveGeneration> archive,
              const std::vector<ServedClip>& clips, TreeSettings settings);
    ~MountTree();

    bool writable() const { return settings_.writable; }

    // Every result is 0 (or a count) or a negative errno. "" is the folder.
    int stat(std::string_view name, struct stat& status) const;
    // By handle: what that handle writes, or what its file shows.
    int stat(const OpenFile& file, struct stat& status) const;
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
    int truncate(OpenFile& file, std::uint64_t size);
    // By name: a whole save of its own, judged at once (unless emptied).
    int truncate(std::string_view name, std::uint64_t size);
    // times[0] the access time, times[1] the modification time, each may be
    // UTIME_NOW or UTIME_OMIT; by handle when `file` is given, else by name.
    int set_times(const OpenFile* file, std::string_view name, const struct timespec times[2]);
    // At each close(): judges the clip's draft written through `file`.
    int flush(OpenFile& file);
    void release(OpenFile* file);
    int unlink(std::string_view name);
    int rename(std::string_view from, std::string_view to, unsigned flags);

    // Puts the waiting saves into the archive, and shows removed or emptied
    // clips again, as `when` says; 0 or a negative errno.
    int write_pending(Rewrite when = Rewrite::now);
    // When write_pending(when_due) has something to do; none while nothing waits.
    std::optional<std::chrono::steady_clock::time_point> due() const;
    // At the end: writes what waits, and reports what could not be.
    void finish();

  private:
    using Lock = std::unique_lock<std::mutex>;
    using Clock = std::chrono::steady_clock;
    std::shared_ptr<Node> find(std::string_view name) const;
    std::shared_ptr<Node> find_listed(std::string_view name) const;
    std::shared_ptr<Draft> new_draft(int& error) const;
    Times shown_times(const Node& node) const;
    std::uint64_t size_of(const Draft& draft) const;
    long read_draft(const Draft& draft, std::uint64_t offset, std::span<std::uint8_t> into);
    int start_copy(const Node& node, Draft& draft);
    int fill(Draft& draft);
    int resize(Draft& draft, std::uint64_t size);
    int own_draft(OpenFile& file, bool keep_content);
    Error judge(const Draft& draft) const;
    int judge_and_settle(Lock& lock, Node& node, const std::shared_ptr<Draft>& draft);
    void accept(Node& node, const std::shared_ptr<Draft>& draft);
    void refuse(Node& node, Draft& draft, Error why);
    void fill_status(const Node* node, const Draft* draft, struct stat& status) const;
    std::optional<Clock::time_point> rewrite_due() const;
    void show_again(Clock::time_point now, bool all, std::vector<MountEvent>& events);

    TreeSettings settings_;
    mutable std::mutex mutex_;
    std::mutex rewriting_; // one rewrite at a time
    std::shared_ptr<const ArchiveGeneration> archive_;
    std::map<std::string, std::shared_ptr<Node>, std::less<>> names_;
    ClipBytes bytes_;
    Clock::time_point last_accepted_;
    // After a failed rewrite: no timed try before this, and the next pause.
    std::optional<Clock::time_point> retry_at_;
    std::chrono::milliseconds next_pause_;
    uid_t owner_;
    gid_t group_;
};

} // namespace pev::mount
