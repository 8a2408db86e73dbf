#include "mount/mount_tree.hpp"

#include "pack/clip_replacer.hpp"
#include "pack/replacement_input.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/fs.h>
#include <new>
#include <unistd.h>

namespace pev::mount {

struct Times {
    struct timespec accessed {};
    struct timespec modified {};
    struct timespec changed {};
};

// What an unwritten copy of a clip's file stands for: the archive's clip or
// an accepted save, neither of which ever changes.
struct Unfilled {
    std::shared_ptr<const ArchiveGeneration> archive; // with `clip`, when no save
    std::size_t clip = 0;
    std::shared_ptr<Draft> save;
    std::uint64_t size = 0;
};

struct Draft {
    std::unique_ptr<DraftFile> file;
    std::optional<Unfilled> unfilled; // its bytes are still the source's
    int handles = 0;                  // open handles writing it
    std::uint64_t version = 0;        // counts the writes and truncations it took
    bool dirty = false;               // written since it was last judged
    bool accepted = false;            // judged good, waiting for the archive; never written again
    bool refused = false;             // judged bad: no name shows it
    Error broken;                     // a write into it failed: it holds no whole file
    Error refusal;                    // why it was refused
    Times times;
};

struct Node {
    std::string name;
    std::optional<std::size_t> clip; // the clip it shows; none for other files
    bool listed = true;              // false: a clip's file removed or renamed away
    // What the name shows: for a clip, null while it shows the archive's.
    std::shared_ptr<Draft> draft;
    // A clip's newest accepted save while a draft being written shows.
    std::shared_ptr<Draft> saved;
    // A clip's times while it shows the archive's, once set or saved.
    std::optional<Times> times;
    std::chrono::steady_clock::time_point since; // when it was removed or emptied
    mode_t mode = 0644;
    // A file renamed over a clip while still open: the clip's node, which
    // its handles now write.
    std::shared_ptr<Node> became;
    // A copy of a clip's file made by renaming it away (an editor's
    // backup), and its draft's version then: renamed back unchanged, the
    // clip is as it was, with no new save.
    std::shared_ptr<Node> origin;
    std::uint64_t origin_version = 0;
};

namespace {

struct timespec now() {
    struct timespec time {};
    ::clock_gettime(CLOCK_REALTIME, &time);
    return time;
}

Times fresh_times() {
    const struct timespec time = now();
    return {time, time, time};
}

void mark_written(Draft& draft) {
    draft.dirty = true;
    draft.accepted = false;
    ++draft.version;
    draft.times.modified = draft.times.changed = now();
}

// A clip's draft that no judge has accepted yet: shown while it is written.
bool in_progress(const Node& node) {
    return node.draft && !node.draft->accepted;
}

std::shared_ptr<Draft> newest_save(const Node& node) {
    if (node.draft && node.draft->accepted) {
        return node.draft;
    }
    return node.saved && node.saved->accepted ? node.saved : nullptr;
}

// The draft being written is given up: the clip shows its newest save, or
// the archive's.
void show_saved(Node& node) {
    node.draft = newest_save(node);
    node.saved.reset();
}

// The node a handle's file is now.
const std::shared_ptr<Node>& followed(const std::shared_ptr<Node>& node) {
    return node->became ? followed(node->became) : node;
}

// The errno a refused close or rename gives, whose text the programs print.
int refusal_errno(const Error& error) {
    switch (error.code) {
    case ErrorCode::clip_too_long:
        return EFBIG; // "File too large"
    case ErrorCode::out_of_memory:
        return ENOMEM;
    case ErrorCode::cannot_open:
    case ErrorCode::cannot_read:
    case ErrorCode::cannot_write:
        return error.os ? error.os.value() : EIO;
    default:
        return EPERM; // "Operation not permitted": no such file may be a clip
    }
}

MountEvent refused_event(const Node& node, const Draft& draft) {
    MountEvent event;
    event.kind = MountEvent::Kind::refused;
    event.names = {node.name};
    event.error = draft.refusal;
    return event;
}

} // namespace

MountTree::MountTree(std::shared_ptr<const ArchiveGeneration> archive,
                     const std::vector<ServedClip>& clips, TreeSettings settings)
    : settings_(std::move(settings)), archive_(std::move(archive)),
      next_pause_(settings_.retry_pause), owner_(::getuid()), group_(::getgid()) {
    for (const ServedClip& clip : clips) {
        auto node = std::make_shared<Node>();
        node->name = clip.name;
        node->clip = clip.index;
        names_.emplace(clip.name, std::move(node));
    }
}

MountTree::~MountTree() = default;

std::shared_ptr<Node> MountTree::find(std::string_view name) const {
    const auto it = names_.find(name);
    return it == names_.end() ? nullptr : it->second;
}

std::shared_ptr<Node> MountTree::find_listed(std::string_view name) const {
    std::shared_ptr<Node> node = find(name);
    return node && node->listed ? node : nullptr;
}

std::shared_ptr<Draft> MountTree::new_draft(int& error) const {
    auto file = DraftFile::create(settings_.draft_folder, error);
    if (!file) {
        return nullptr;
    }
    auto draft = std::make_shared<Draft>();
    draft->file = std::move(file);
    draft->times = fresh_times();
    return draft;
}

void MountTree::fill_status(const Node* node, const Draft* draft, struct stat& status) const {
    const struct stat& archive = archive_->status();
    status = {};
    status.st_uid = owner_;
    status.st_gid = group_;
    status.st_atim = archive.st_atim;
    status.st_mtim = archive.st_mtim;
    status.st_ctim = archive.st_ctim;
    status.st_blksize = 4096;
    if (node == nullptr) {
        status.st_mode = S_IFDIR | (settings_.writable ? 0755 : 0555);
        status.st_nlink = 2;
        return;
    }
    status.st_nlink = 1;
    status.st_mode = S_IFREG | (node->clip ? (settings_.writable ? 0644 : 0444) : node->mode);
    const Draft* shown = draft != nullptr ? draft : node->draft.get();
    const Times* times = shown != nullptr ? &shown->times : node->times ? &*node->times : nullptr;
    if (times != nullptr) {
        status.st_atim = times->accessed;
        status.st_mtim = times->modified;
        status.st_ctim = times->changed;
    }
    if (shown != nullptr) {
        status.st_size = static_cast<off_t>(size_of(*shown));
    } else {
        status.st_size = static_cast<off_t>(archive_->wav_size(*node->clip));
    }
    status.st_blocks = (status.st_size + 511) / 512;
}

int MountTree::stat(std::string_view name, struct stat& status) const {
    const Lock lock(mutex_);
    if (name.empty()) {
        fill_status(nullptr, nullptr, status);
        return 0;
    }
    const std::shared_ptr<Node> node = find_listed(name);
    if (!node) {
        return -ENOENT;
    }
    fill_status(node.get(), nullptr, status);
    return 0;
}

int MountTree::stat(const OpenFile& file, struct stat& status) const {
    const Lock lock(mutex_);
    fill_status(followed(file.node).get(), file.draft.get(), status);
    return 0;
}

void MountTree::list(
    std::size_t from,
    const std::function<bool(const std::string&, const struct stat&)>& each) const {
    const Lock lock(mutex_);
    struct stat status {};
    std::size_t position = 0;
    for (const auto& [name, node] : names_) {
        if (!node->listed || position++ < from) {
            continue;
        }
        fill_status(node.get(), nullptr, status);
        if (!each(name, status)) {
            return;
        }
    }
}

Times MountTree::shown_times(const Node& node) const {
    if (node.draft) {
        return node.draft->times;
    }
    if (node.times) {
        return *node.times;
    }
    const struct stat& archive = archive_->status();
    return {archive.st_atim, archive.st_mtim, archive.st_ctim};
}

std::uint64_t MountTree::size_of(const Draft& draft) const {
    return draft.unfilled ? draft.unfilled->size : draft.file->size();
}

long MountTree::read_draft(const Draft& draft, std::uint64_t offset, std::span<std::uint8_t> into) {
    if (!draft.unfilled) {
        return draft.file->read(offset, into);
    }
    const Unfilled& source = *draft.unfilled;
    return source.save ? source.save->file->read(offset, into)
                       : bytes_.read(source.archive, source.clip, offset, into);
}

// A copy of what a clip's file shows, for a clip opened for writing without
// O_TRUNC or renamed away. It refers to the archive's clip or an accepted
// save, and takes their bytes only once a write or a truncation needs them:
// touch, truncate -s 0, an editor's backup and GIO's open of the file it
// replaces copy nothing. A draft still being written is copied at once.
int MountTree::start_copy(const Node& node, Draft& draft) {
    if (!node.draft) {
        draft.unfilled = Unfilled{archive_, *node.clip, nullptr, archive_->wav_size(*node.clip)};
        return 0;
    }
    if (node.draft->unfilled) {
        draft.unfilled = node.draft->unfilled;
        return 0;
    }
    if (node.draft->accepted) {
        draft.unfilled = Unfilled{nullptr, 0, node.draft, node.draft->file->size()};
        return 0;
    }
    return draft.file->copy_from(*node.draft->file);
}

// An unwritten copy's bytes, copied in a step at a time (decoded, for the
// archive's, never whole).
int MountTree::fill(Draft& draft) {
    if (!draft.unfilled) {
        return 0;
    }
    std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
    for (std::uint64_t offset = 0;;) {
        const long got = read_draft(draft, offset, buffer);
        if (got < 0) {
            return static_cast<int>(got);
        }
        if (got == 0) {
            draft.unfilled.reset();
            return 0;
        }
        const std::span<const std::uint8_t> part(buffer.data(), static_cast<std::size_t>(got));
        if (const long put = draft.file->write(offset, part); put < got) {
            return put < 0 ? static_cast<int>(put) : -EIO;
        }
        offset += static_cast<std::uint64_t>(got);
    }
}

int MountTree::open(std::string_view name, int flags, OpenFile*& file) {
    Lock lock(mutex_);
    const std::shared_ptr<Node> node = find_listed(name);
    if (!node) {
        return -ENOENT;
    }
    if ((flags & O_ACCMODE) == O_RDONLY) {
        file = new OpenFile{node, nullptr};
        return 0;
    }
    if (!settings_.writable) {
        return -EROFS;
    }
    const bool truncate = (flags & O_TRUNC) != 0;
    std::shared_ptr<Draft> draft = node->draft;
    if (node->clip && !in_progress(*node)) {
        // The clip's first writer: a new draft, over what the clip shows.
        int error = 0;
        draft = new_draft(error);
        if (!draft) {
            return -error;
        }
        if (!truncate) {
            if (const int copied = start_copy(*node, *draft); copied < 0) {
                return copied;
            }
            draft->times = shown_times(*node); // a copy, until it is written
        }
        node->saved = newest_save(*node);
        node->draft = draft;
    } else if (truncate) {
        if (const int error = draft->file->truncate(0); error < 0) {
            return error;
        }
        draft->unfilled.reset();
        draft->broken = {};
    }
    if (truncate) {
        // Emptied: written, though nothing may follow.
        mark_written(*draft);
        node->since = Clock::now();
    }
    ++draft->handles;
    file = new OpenFile{node, draft};
    return 0;
}

int MountTree::create(std::string_view name, mode_t mode, int flags, OpenFile*& file) {
    if (!settings_.writable) {
        return -EROFS;
    }
    if (name.size() > NAME_MAX) {
        return -ENAMETOOLONG;
    }
    Lock lock(mutex_);
    std::shared_ptr<Node> node = find(name);
    if (node && node->listed) {
        lock.unlock();
        return open(name, flags, file);
    }
    int error = 0;
    if (node) {
        // A clip's file removed (install, tar -x, unzip -o) and made again:
        // the new file is judged as any save of the clip.
        std::shared_ptr<Draft> draft = new_draft(error);
        if (!draft) {
            return -error;
        }
        mark_written(*draft);
        node->saved = newest_save(*node);
        node->draft = draft;
        node->listed = true;
        node->since = Clock::now();
        draft->handles = 1;
        file = new OpenFile{node, draft};
        return 0;
    }
    if (settings_.names_a_clip && settings_.names_a_clip(name)) {
        return -EPERM; // a new clip number: an archive's clips are fixed
    }
    std::shared_ptr<Draft> draft = new_draft(error);
    if (!draft) {
        return -error;
    }
    node = std::make_shared<Node>();
    node->name = std::string(name);
    node->mode = mode & 07777;
    node->draft = draft;
    draft->handles = 1;
    names_.emplace(node->name, node);
    file = new OpenFile{node, draft};
    return 0;
}

long MountTree::read(const OpenFile& file, std::uint64_t offset, std::span<std::uint8_t> into) {
    std::shared_ptr<Draft> draft = file.draft;
    std::shared_ptr<Node> node;
    std::shared_ptr<const ArchiveGeneration> archive;
    {
        const Lock lock(mutex_);
        node = followed(file.node);
        if (!draft) {
            draft = node->draft;
        }
        archive = archive_;
    }
    if (draft) {
        return read_draft(*draft, offset, into);
    }
    return bytes_.read(archive, *node->clip, offset, into);
}

long MountTree::read(std::string_view name, std::uint64_t offset, std::span<std::uint8_t> into) {
    std::shared_ptr<Node> node;
    {
        const Lock lock(mutex_);
        node = find_listed(name);
    }
    return node ? read(OpenFile{node, nullptr}, offset, into) : -ENOENT;
}

// An accepted draft is never changed, so that a rewrite reads it whole: a
// handle that writes on after its close was accepted writes a copy, and
// the accepted one stays the clip's save until that copy is judged.
int MountTree::own_draft(OpenFile& file, bool keep_content) {
    const std::shared_ptr<Draft> old = file.draft;
    if (!old->accepted) {
        return 0;
    }
    int error = 0;
    std::shared_ptr<Draft> copy = new_draft(error);
    if (!copy) {
        return -error;
    }
    if (keep_content) {
        if (const int copied = copy->file->copy_from(*old->file); copied < 0) {
            return copied;
        }
    }
    copy->times = old->times;
    file.node = followed(file.node);
    Node& node = *file.node;
    if (node.draft == old) {
        node.saved = old;
        node.draft = copy;
    }
    --old->handles;
    ++copy->handles;
    file.draft = copy;
    return 0;
}

long MountTree::write(OpenFile& file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (!file.draft) {
        return -EBADF;
    }
    std::shared_ptr<Draft> draft;
    {
        const Lock lock(mutex_);
        if (const int error = own_draft(file, true); error < 0) {
            return error;
        }
        draft = file.draft;
        if (const int error = fill(*draft); error < 0) {
            return error;
        }
        mark_written(*draft);
    }
    const long put = draft->file->write(offset, bytes);
    const Lock lock(mutex_);
    ++draft->version; // a judgement made while it was written is out of date
    if (put < 0 && !draft->broken) {
        draft->broken = os_error(ErrorCode::cannot_write, file.node->name, static_cast<int>(-put));
    }
    return put;
}

int MountTree::truncate(OpenFile& file, std::uint64_t size) {
    if (!file.draft) {
        return -EBADF;
    }
    const Lock lock(mutex_);
    if (const int error = own_draft(file, size > 0); error < 0) {
        return error;
    }
    if (const int error = resize(*file.draft, size); error < 0) {
        return error;
    }
    if (size == 0) {
        followed(file.node)->since = Clock::now();
    }
    return 0;
}

// A draft truncated or made longer; emptied, it begins anew.
int MountTree::resize(Draft& draft, std::uint64_t size) {
    if (size == 0) {
        draft.unfilled.reset(); // nothing of the source is wanted
    } else if (const int error = fill(draft); error < 0) {
        return error;
    }
    if (const int error = draft.file->truncate(size); error < 0) {
        return error;
    }
    mark_written(draft);
    if (size == 0) {
        draft.broken = {};
    }
    return 0;
}

int MountTree::truncate(std::string_view name, std::uint64_t size) {
    if (!settings_.writable) {
        return -EROFS;
    }
    {
        const Lock lock(mutex_);
        const std::shared_ptr<Node> node = find_listed(name);
        if (!node) {
            return -ENOENT;
        }
        if (!node->clip) {
            return resize(*node->draft, size);
        }
    }
    // A clip truncated by name is opened, truncated and closed at once, and
    // judged as any such save.
    OpenFile* file = nullptr;
    if (const int error = open(name, O_WRONLY, file); error < 0) {
        return error;
    }
    int result = truncate(*file, size);
    if (result == 0) {
        result = flush(*file);
    }
    release(file);
    return result;
}

int MountTree::set_times(const OpenFile* file, std::string_view name,
                         const struct timespec times[2]) {
    if (!settings_.writable) {
        return -EROFS;
    }
    const Lock lock(mutex_);
    const std::shared_ptr<Node> node = file != nullptr ? followed(file->node) : find_listed(name);
    if (!node) {
        return -ENOENT;
    }
    // Through a handle that wrote: that draft's. Else what the file lasts
    // as (touch opens a clip for writing, writes nothing and sets its times
    // by handle): another file's own, a clip's newest save's, or its own over
    // the archive's; and the unwritten copy a writer has open, meanwhile.
    std::vector<Times*> kept;
    const Draft* written = file != nullptr ? file->draft.get() : nullptr;
    if (written != nullptr && (written->dirty || written->accepted || written->refused)) {
        kept.push_back(&file->draft->times);
    } else if (!node->clip) {
        kept.push_back(&node->draft->times);
    } else {
        if (const std::shared_ptr<Draft> save = newest_save(*node)) {
            kept.push_back(&save->times);
        } else {
            node->times = shown_times(*node);
            kept.push_back(&*node->times);
        }
        if (in_progress(*node)) {
            kept.push_back(&node->draft->times);
        }
    }
    const struct timespec time = now();
    const auto take = [&](const struct timespec& given, struct timespec& into) {
        if (given.tv_nsec != UTIME_OMIT) {
            into = given.tv_nsec == UTIME_NOW ? time : given;
        }
    };
    for (Times* one : kept) {
        take(times[0], one->accessed);
        take(times[1], one->modified);
        one->changed = time;
    }
    return 0;
}

Error MountTree::judge(const Draft& draft) const {
    std::uint32_t rate = 0;
    {
        const Lock lock(mutex_);
        rate = archive_->reader().sample_rate();
    }
    try {
        return pack::judge_replacement(draft.file->path(), rate, settings_.converter.get());
    } catch (const std::bad_alloc&) {
        return error_about(ErrorCode::out_of_memory, "");
    }
}

void MountTree::accept(Node& node, const std::shared_ptr<Draft>& draft) {
    draft->accepted = true;
    draft->dirty = false;
    draft->refused = false;
    draft->refusal = {};
    if (node.draft == draft) {
        node.saved.reset();
    } else if (!in_progress(node)) {
        node.draft = draft;
        node.saved.reset();
    } else {
        node.saved = draft; // a newer draft is being written: this waits under it
    }
    node.listed = true;
    last_accepted_ = Clock::now();
    retry_at_.reset();
    next_pause_ = settings_.retry_pause;
    if (settings_.changed) {
        settings_.changed();
    }
}

void MountTree::refuse(Node& node, Draft& draft, Error why) {
    draft.refused = true;
    draft.dirty = false;
    draft.accepted = false;
    why.subject = node.name; // a draft's own name means nothing to the user
    draft.refusal = std::move(why);
    if (node.draft.get() == &draft) {
        show_saved(node);
    }
}

// Judges a clip's draft whose writing is done: 0, or why it is refused as
// a negative errno. The lock is let go while the judge reads the draft.
int MountTree::judge_and_settle(Lock& lock, Node& node, const std::shared_ptr<Draft>& draft) {
    if (draft->broken) {
        refuse(node, *draft, draft->broken);
        return -refusal_errno(draft->refusal);
    }
    if (size_of(*draft) == 0) {
        return 0; // a save not begun: written later, or shown as it was
    }
    const std::uint64_t version = draft->version;
    lock.unlock();
    Error verdict = judge(*draft);
    lock.lock();
    if (draft->version != version || !draft->dirty) {
        return 0; // written again meanwhile: judged again when that is done
    }
    if (!verdict.ok()) {
        refuse(node, *draft, std::move(verdict));
        return -refusal_errno(draft->refusal);
    }
    accept(node, draft);
    return 0;
}

int MountTree::flush(OpenFile& file) {
    Lock lock(mutex_);
    const std::shared_ptr<Draft> draft = file.draft;
    file.node = followed(file.node);
    Node& node = *file.node;
    if (!draft || !node.clip) {
        return 0;
    }
    if (!draft->dirty) {
        // Each close of a refused draft says so, until it is written again.
        return draft->refused ? -refusal_errno(draft->refusal) : 0;
    }
    if (draft->handles > 1) {
        return 0; // judged once the last handle writing it is done
    }
    return judge_and_settle(lock, node, draft);
}

void MountTree::release(OpenFile* file) {
    std::optional<MountEvent> refused;
    {
        Lock lock(mutex_);
        const std::shared_ptr<Draft> draft = file->draft;
        const std::shared_ptr<Node> node = followed(file->node);
        if (draft) {
            --draft->handles;
        }
        if (draft && node->clip && draft->handles == 0) {
            if (draft->dirty) {
                // Written after its last close (through a mapping), or left
                // to this handle by another's close.
                judge_and_settle(lock, *node, draft);
            }
            if (draft->refused) {
                refused = refused_event(*node, *draft); // dropped now: said once
            } else if (node->draft == draft && !draft->accepted) {
                if (!draft->dirty) {
                    show_saved(*node); // opened for writing, never written
                } else {
                    // Emptied and closed: shown as it was unless written soon.
                    node->since = Clock::now();
                    if (settings_.changed) {
                        settings_.changed();
                    }
                }
            }
        }
    }
    if (refused) {
        settings_.report(*refused);
    }
    delete file;
}

int MountTree::unlink(std::string_view name) {
    if (!settings_.writable) {
        return -EROFS;
    }
    const Lock lock(mutex_);
    const auto it = names_.find(name);
    if (it == names_.end() || !it->second->listed) {
        return -ENOENT;
    }
    Node& node = *it->second;
    if (!node.clip) {
        names_.erase(it);
        return 0;
    }
    // An archive keeps its clips: the name is free for a new file for now,
    // and the clip shows again unless one comes.
    node.listed = false;
    node.since = Clock::now();
    if (settings_.changed) {
        settings_.changed();
    }
    return 0;
}

int MountTree::rename(std::string_view from, std::string_view to, unsigned flags) {
    if (!settings_.writable) {
        return -EROFS;
    }
    if ((flags & ~unsigned{RENAME_NOREPLACE}) != 0) {
        return -EINVAL;
    }
    if (to.size() > NAME_MAX) {
        return -ENAMETOOLONG;
    }
    Lock lock(mutex_);
    std::shared_ptr<Node> source = find_listed(from);
    if (!source) {
        return -ENOENT;
    }
    if (from == to) {
        return 0;
    }
    const std::shared_ptr<Node> target = find(to);
    if (target && target->listed && (flags & RENAME_NOREPLACE) != 0) {
        return -EEXIST;
    }
    if (!target && settings_.names_a_clip && settings_.names_a_clip(to)) {
        return -EPERM; // a new clip number: an archive's clips are fixed
    }
    const std::shared_ptr<Node> clip_moved = source->clip ? source : nullptr;
    if (clip_moved) {
        // A clip's file renamed away (an editor's backup): the new name
        // holds a copy of what it shows, and the clip's name is free.
        int error = 0;
        auto copy = std::make_shared<Node>();
        copy->draft = new_draft(error);
        if (!copy->draft) {
            return -error;
        }
        if (const int copied = start_copy(*source, *copy->draft); copied < 0) {
            return copied;
        }
        copy->draft->times = shown_times(*source);
        copy->origin = source;
        copy->origin_version = copy->draft->version;
        source = copy;
    }
    const auto take_name = [&] {
        if (clip_moved) {
            clip_moved->listed = false;
            clip_moved->since = Clock::now();
            if (settings_.changed) {
                settings_.changed();
            }
        } else {
            names_.erase(names_.find(from));
        }
    };
    if (!target || !target->clip) {
        take_name();
        source->name = std::string(to);
        names_.insert_or_assign(source->name, source);
        return 0;
    }
    const std::shared_ptr<Draft> draft = source->draft;
    if (source->origin == target && draft->version == source->origin_version &&
        draft->handles == 0) {
        // A clip's own file put back unchanged (an editor's backup, after a
        // failed save): the clip is as it was, and nothing is saved.
        take_name();
        target->listed = true;
        if (in_progress(*target) && target->draft->handles == 0) {
            show_saved(*target);
        }
        return 0;
    }
    if (draft->handles > 0) {
        // Renamed while still open (GIO saves so): the clip's draft now,
        // judged when its last handle is done with it.
        take_name();
        target->saved = newest_save(*target);
        target->draft = draft;
        target->listed = true;
        target->since = Clock::now();
        source->became = target;
        mark_written(*draft);
        return 0;
    }
    // Put over a clip when closed: judged here, since it was no clip then.
    if (const int error = fill(*draft); error < 0) {
        return error; // the judge reads the file itself
    }
    Error verdict = draft->broken;
    if (verdict.ok()) {
        const std::uint64_t version = draft->version;
        lock.unlock();
        verdict = judge(*draft);
        lock.lock();
        if ((!clip_moved && find_listed(from) != source) || find(to) != target ||
            draft->version != version) {
            return -EAGAIN; // renamed or written meanwhile
        }
    }
    if (!verdict.ok()) {
        verdict.subject = std::string(to);
        MountEvent event;
        event.kind = MountEvent::Kind::refused;
        event.names = {std::string(to)};
        const int code = refusal_errno(verdict);
        event.error = std::move(verdict);
        lock.unlock();
        settings_.report(event);
        return -code;
    }
    take_name();
    if (in_progress(*target)) {
        target->draft.reset(); // its writers now write a file no name shows
    }
    accept(*target, draft);
    return 0;
}

std::optional<std::chrono::steady_clock::time_point> MountTree::rewrite_due() const {
    for (const auto& [name, node] : names_) {
        if (node->clip && newest_save(*node)) {
            const Clock::time_point due = last_accepted_ + settings_.batch_delay;
            return retry_at_ ? std::max(due, *retry_at_) : due;
        }
    }
    return std::nullopt;
}

std::optional<std::chrono::steady_clock::time_point> MountTree::due() const {
    const Lock lock(mutex_);
    std::optional<Clock::time_point> due = rewrite_due();
    for (const auto& [name, node] : names_) {
        const bool emptied = in_progress(*node) && node->draft->handles == 0;
        if (node->clip && (!node->listed || emptied)) {
            const Clock::time_point again = node->since + settings_.batch_delay;
            due = due ? std::min(*due, again) : again;
        }
    }
    return due;
}

// Clips removed, or emptied and closed, and not written again since
// (within the batch delay, or at all when `all`) show again as they were.
void MountTree::show_again(Clock::time_point now, bool all, std::vector<MountEvent>& events) {
    for (const auto& [name, node] : names_) {
        if (!node->clip || (!all && node->since + settings_.batch_delay > now)) {
            continue;
        }
        const bool emptied = in_progress(*node) && node->draft->handles == 0;
        if (!node->listed) {
            node->listed = true;
            if (emptied) {
                show_saved(*node);
            }
            events.push_back({MountEvent::Kind::shown_again_removed, {name}, {}, 0});
        } else if (emptied) {
            show_saved(*node);
            events.push_back({MountEvent::Kind::shown_again_emptied, {name}, {}, 0});
        }
    }
}

int MountTree::write_pending(Rewrite when) {
    const std::lock_guard<std::mutex> one_at_a_time(rewriting_);
    struct Waiting {
        std::shared_ptr<Node> node;
        std::shared_ptr<Draft> draft;
    };
    std::vector<Waiting> waiting;
    std::vector<MountEvent> events;
    pack::ReplaceRequest request;
    request.converter = settings_.converter.get();
    std::shared_ptr<const ArchiveGeneration> archive;
    {
        const Lock lock(mutex_);
        const Clock::time_point now = Clock::now();
        show_again(now, when == Rewrite::at_end, events);
        const std::optional<Clock::time_point> due = rewrite_due();
        if (due && (when != Rewrite::when_due || *due <= now)) {
            for (const auto& [name, node] : names_) {
                if (std::shared_ptr<Draft> save = node->clip ? newest_save(*node) : nullptr) {
                    request.replacements.push_back({*node->clip, save->file->path()});
                    waiting.push_back({node, std::move(save)});
                }
            }
        }
        archive = archive_;
    }
    for (const MountEvent& event : events) {
        settings_.report(event);
    }
    if (waiting.empty()) {
        return 0;
    }
    std::vector<std::string> names;
    for (const Waiting& one : waiting) {
        names.push_back(one.node->name);
    }
    request.source = settings_.archive_path;
    request.output = settings_.archive_path;
    request.replace = true;
    pack::ReplaceOutcome outcome;
    try {
        outcome = pack::replace_clips(archive->reader(), request);
    } catch (const std::bad_alloc&) {
        outcome.error = error_about(ErrorCode::out_of_memory, settings_.archive_path);
    }
    if (!outcome.ok()) {
        // A draft's own name means nothing to the user: the clip's does.
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            if (outcome.error.subject == request.replacements[i].file) {
                outcome.error.subject = names[i];
            }
        }
        MountEvent event{MountEvent::Kind::rewrite_failed, names, outcome.error, 0};
        {
            // Tried again after a pause, not at once: a full disk stays full
            // for a while.
            const Lock lock(mutex_);
            retry_at_ = Clock::now() + next_pause_;
            if (when != Rewrite::at_end) {
                event.retry_seconds =
                    static_cast<std::uint64_t>((next_pause_.count() + 999) / 1000);
            }
            next_pause_ = std::min(next_pause_ * 2, settings_.longest_retry_pause);
        }
        const int code = outcome.error.os ? outcome.error.os.value() : EIO;
        settings_.report(event);
        return -code;
    }
    // The new archive, opened again by its name.
    OpenResult refusal = OpenResult::ok;
    Error error;
    std::shared_ptr<const ArchiveGeneration> rewritten;
    const int fd = ::open(settings_.archive_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = os_error(ErrorCode::cannot_open, settings_.archive_path, errno);
    } else {
        std::vector<bool> replaced(archive->clips().size(), false);
        for (const pack::Replacement& replacement : request.replacements) {
            replaced[replacement.index] = true;
        }
        rewritten = ArchiveGeneration::open(fd, refusal, error, archive.get(), replaced);
        if (!rewritten && error.ok()) {
            error = error_about(ErrorCode::archive_refused, settings_.archive_path);
            error.refusal = refusal;
        }
    }
    if (!rewritten || rewritten->clips().size() != archive->clips().size()) {
        if (error.ok()) {
            error = error_about(ErrorCode::archive_refused, settings_.archive_path);
        }
        error.subject = settings_.archive_path;
        settings_.report({MountEvent::Kind::reopen_failed, names, error, 0});
        return -EIO;
    }
    {
        const Lock lock(mutex_);
        archive_ = rewritten;
        bytes_.forget();
        for (const Waiting& one : waiting) {
            // In the archive now: the clip shows the archive's again (as
            // it decodes, the coding being lossy), with the save's times.
            one.draft->accepted = false;
            if (one.node->saved == one.draft) {
                one.node->saved.reset();
            }
            if (one.node->draft == one.draft) {
                one.node->times = one.draft->times;
                one.node->draft.reset();
            }
        }
    }
    settings_.report({MountEvent::Kind::rewritten, names, {}, outcome.archive_bytes});
    return 0;
}

void MountTree::finish() {
    if (write_pending(Rewrite::at_end) == 0) {
        return;
    }
    std::vector<std::string> lost;
    {
        const Lock lock(mutex_);
        for (const auto& [name, node] : names_) {
            if (node->clip && newest_save(*node)) {
                lost.push_back(name);
            }
        }
    }
    if (!lost.empty()) {
        settings_.report({MountEvent::Kind::lost, lost, {}, 0});
    }
}

} // namespace pev::mount
