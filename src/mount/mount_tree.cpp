#include "mount/mount_tree.hpp"

#include "pack/clip_replacer.hpp"
#include "pack/replacement_input.hpp"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/fs.h>
#include <new>
#include <unistd.h>

namespace pev::mount {

struct Draft {
    std::unique_ptr<DraftFile> file;
    int writers = 0;       // open handles writing it
    bool dirty = false;    // written since it was last judged
    bool accepted = false; // judged good, and waiting for the archive
    bool rejected = false; // judged bad: no name shows it any more
    struct timespec modified {};
};

struct Node {
    std::string name;
    std::optional<std::size_t> clip; // the clip it shows; none for other files
    // The newest content: for a clip, null while it shows the archive's.
    std::shared_ptr<Draft> draft;
    // An accepted draft that a newer one is being written over: the clip's
    // content again if the newer one is refused.
    std::shared_ptr<Draft> fallback;
    mode_t mode = 0644;
};

namespace {

struct timespec now() {
    struct timespec time {};
    ::clock_gettime(CLOCK_REALTIME, &time);
    return time;
}

} // namespace

MountTree::MountTree(std::shared_ptr<const ArchiveGeneration> archive,
                     const std::vector<ServedClip>& clips, TreeSettings settings)
    : settings_(std::move(settings)), archive_(std::move(archive)), owner_(::getuid()),
      group_(::getgid()) {
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

std::shared_ptr<Draft> MountTree::new_draft(int& error) const {
    auto file = DraftFile::create(settings_.draft_folder, error);
    if (!file) {
        return nullptr;
    }
    auto draft = std::make_shared<Draft>();
    draft->file = std::move(file);
    draft->modified = now();
    return draft;
}

void MountTree::fill_status(const Node* node, struct stat& status) const {
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
    if (node->draft) {
        status.st_size = static_cast<off_t>(node->draft->file->size());
        status.st_mtim = status.st_ctim = status.st_atim = node->draft->modified;
    } else {
        status.st_size = static_cast<off_t>(archive_->wav_size(*node->clip));
    }
    status.st_blocks = (status.st_size + 511) / 512;
}

int MountTree::stat(std::string_view name, struct stat& status) const {
    const Lock lock(mutex_);
    if (name.empty()) {
        fill_status(nullptr, status);
        return 0;
    }
    const std::shared_ptr<Node> node = find(name);
    if (!node) {
        return -ENOENT;
    }
    fill_status(node.get(), status);
    return 0;
}

void MountTree::list(
    std::size_t from,
    const std::function<bool(const std::string&, const struct stat&)>& each) const {
    const Lock lock(mutex_);
    struct stat status {};
    auto it = names_.begin();
    for (std::size_t skipped = 0; skipped < from && it != names_.end(); ++skipped) {
        ++it;
    }
    for (; it != names_.end(); ++it) {
        fill_status(it->second.get(), status);
        if (!each(it->first, status)) {
            return;
        }
    }
}

// A clip opened for writing without O_TRUNC starts from what it shows: its
// bytes are copied into the draft (decoded a step at a time, never whole).
int MountTree::copy_clip_into(const Node& node, Draft& draft) {
    std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
    std::uint64_t offset = 0;
    for (;;) {
        long got = 0;
        if (node.draft) {
            got = node.draft->file->read(offset, buffer);
        } else {
            got = bytes_.read(archive_, *node.clip, offset, buffer);
        }
        if (got <= 0) {
            return static_cast<int>(got);
        }
        const std::span<const std::uint8_t> part(buffer.data(), static_cast<std::size_t>(got));
        if (const long put = draft.file->write(offset, part); put < 0) {
            return static_cast<int>(put);
        }
        offset += static_cast<std::uint64_t>(got);
    }
}

int MountTree::open(std::string_view name, int flags, OpenFile*& file) {
    Lock lock(mutex_);
    const std::shared_ptr<Node> node = find(name);
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
    const bool shared = draft && (!node->clip || draft->writers > 0);
    if (!shared) {
        // A clip's first writer: a new draft, over what the clip shows.
        int error = 0;
        draft = new_draft(error);
        if (!draft) {
            return -error;
        }
        if (!truncate) {
            if (const int copied = copy_clip_into(*node, *draft); copied < 0) {
                return copied;
            }
        }
        if (node->draft && node->draft->accepted) {
            node->fallback = node->draft;
        }
        node->draft = draft;
    }
    if (truncate && shared) {
        if (const int error = draft->file->truncate(0); error < 0) {
            return error;
        }
    }
    if (truncate) {
        // Even if nothing is written, an emptied clip must be judged.
        draft->dirty = true;
        draft->accepted = false;
        draft->modified = now();
    }
    ++draft->writers;
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
    if (find(name)) {
        lock.unlock();
        return open(name, flags, file);
    }
    if (settings_.names_a_clip && settings_.names_a_clip(name)) {
        return -EPERM; // a new clip number: an archive's clips are fixed
    }
    int error = 0;
    std::shared_ptr<Draft> draft = new_draft(error);
    if (!draft) {
        return -error;
    }
    auto node = std::make_shared<Node>();
    node->name = std::string(name);
    node->mode = mode & 07777;
    node->draft = draft;
    draft->writers = 1;
    names_.emplace(node->name, node);
    file = new OpenFile{node, draft};
    return 0;
}

long MountTree::read(const OpenFile& file, std::uint64_t offset, std::span<std::uint8_t> into) {
    std::shared_ptr<Draft> draft = file.draft;
    std::shared_ptr<const ArchiveGeneration> archive;
    {
        const Lock lock(mutex_);
        if (!draft) {
            draft = file.node->draft;
        }
        archive = archive_;
    }
    if (draft) {
        return draft->file->read(offset, into);
    }
    return bytes_.read(archive, *file.node->clip, offset, into);
}

long MountTree::read(std::string_view name, std::uint64_t offset, std::span<std::uint8_t> into) {
    std::shared_ptr<Node> node;
    {
        const Lock lock(mutex_);
        node = find(name);
    }
    return node ? read(OpenFile{node, nullptr}, offset, into) : -ENOENT;
}

long MountTree::write(OpenFile& file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (!file.draft) {
        return -EBADF;
    }
    {
        const Lock lock(mutex_);
        if (file.draft->rejected) {
            return -EIO; // refused at an earlier close of this handle
        }
        file.draft->dirty = true;
        file.draft->accepted = false;
        file.draft->modified = now();
    }
    return file.draft->file->write(offset, bytes);
}

int MountTree::truncate(OpenFile* file, std::string_view name, std::uint64_t size) {
    if (!settings_.writable) {
        return -EROFS;
    }
    Lock lock(mutex_);
    std::shared_ptr<Draft> draft;
    if (file != nullptr && file->draft) {
        draft = file->draft;
    } else {
        const std::shared_ptr<Node> node = file != nullptr ? file->node : find(name);
        if (!node) {
            return -ENOENT;
        }
        draft = node->draft;
        if (node->clip && (!draft || draft->writers == 0)) {
            // Only a file being written, and judged when closed, changes a clip.
            return -EPERM;
        }
    }
    if (draft->rejected) {
        return -EIO;
    }
    draft->dirty = true;
    draft->accepted = false;
    draft->modified = now();
    return draft->file->truncate(size);
}

int MountTree::set_modified(std::string_view name, const struct timespec& when) {
    if (!settings_.writable) {
        return -EROFS;
    }
    const Lock lock(mutex_);
    const std::shared_ptr<Node> node = find(name);
    if (!node) {
        return -ENOENT;
    }
    // A clip's times are the archive's; programs that copy times onto the
    // file they save are not refused, only not followed.
    if (!node->clip) {
        node->draft->modified = when;
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

void MountTree::tell_accepted(Lock& lock) {
    last_accepted_ = std::chrono::steady_clock::now();
    retry_waits_for_close_ = false;
    lock.unlock();
    if (settings_.accepted) {
        settings_.accepted();
    }
}

void MountTree::restore(Node& node) {
    node.draft = std::move(node.fallback);
    node.fallback.reset();
}

int MountTree::flush(OpenFile& file) {
    Lock lock(mutex_);
    const std::shared_ptr<Draft> draft = file.draft;
    Node& node = *file.node;
    // Only a clip's draft is judged, once its last writer closes it.
    if (!draft || !node.clip || !draft->dirty || draft->rejected || draft->writers > 1) {
        return 0;
    }
    lock.unlock();
    Error refusal = judge(*draft);
    lock.lock();
    if (node.draft != draft || draft->rejected) {
        return 0; // another save took its place meanwhile
    }
    if (!refusal.ok()) {
        draft->rejected = true;
        restore(node);
        MountEvent event;
        event.kind = MountEvent::Kind::refused;
        event.names = {node.name};
        refusal.subject = node.name;
        event.error = std::move(refusal);
        lock.unlock();
        settings_.report(event);
        return -EINVAL;
    }
    draft->dirty = false;
    draft->accepted = true;
    node.fallback.reset();
    tell_accepted(lock);
    return 0;
}

void MountTree::release(OpenFile* file) {
    {
        const Lock lock(mutex_);
        if (const std::shared_ptr<Draft>& draft = file->draft) {
            --draft->writers;
            Node& node = *file->node;
            // Opened for writing and closed unwritten: the clip is as it was.
            if (node.clip && node.draft == draft && draft->writers == 0 && !draft->dirty &&
                !draft->accepted) {
                restore(node);
            }
        }
    }
    delete file;
}

int MountTree::unlink(std::string_view name) {
    if (!settings_.writable) {
        return -EROFS;
    }
    const Lock lock(mutex_);
    const auto it = names_.find(name);
    if (it == names_.end()) {
        return -ENOENT;
    }
    if (it->second->clip) {
        return -EPERM; // an archive's clips are fixed
    }
    names_.erase(it);
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
    const std::shared_ptr<Node> source = find(from);
    if (!source) {
        return -ENOENT;
    }
    if (from == to) {
        return 0;
    }
    if (source->clip) {
        return -EPERM; // a clip keeps its name
    }
    const std::shared_ptr<Node> target = find(to);
    if (target && (flags & RENAME_NOREPLACE) != 0) {
        return -EEXIST;
    }
    if (!target || !target->clip) {
        if (!target && settings_.names_a_clip && settings_.names_a_clip(to)) {
            return -EPERM; // a new clip number
        }
        names_.erase(names_.find(from));
        source->name = std::string(to);
        names_.insert_or_assign(source->name, source);
        return 0;
    }
    // Saved under another name, and now put over a clip: judged here, since
    // it was closed before it was a clip.
    const std::shared_ptr<Draft> draft = source->draft;
    if (draft->writers > 0) {
        return -EBUSY;
    }
    lock.unlock();
    Error refusal = judge(*draft);
    lock.lock();
    if (find(from) != source || find(to) != target || source->draft != draft) {
        return -EAGAIN; // renamed or written meanwhile
    }
    if (!refusal.ok()) {
        MountEvent event;
        event.kind = MountEvent::Kind::refused;
        event.names = {std::string(to)};
        refusal.subject = std::string(to);
        event.error = std::move(refusal);
        lock.unlock();
        settings_.report(event);
        return -EINVAL;
    }
    if (target->draft && target->draft->writers > 0) {
        target->draft->rejected = true; // its writers lost the race to this save
    }
    draft->dirty = false;
    draft->accepted = true;
    target->draft = draft;
    target->fallback.reset();
    names_.erase(names_.find(from));
    tell_accepted(lock);
    return 0;
}

std::optional<std::chrono::steady_clock::time_point> MountTree::due() const {
    const Lock lock(mutex_);
    if (retry_waits_for_close_) {
        return std::nullopt;
    }
    for (const auto& [name, node] : names_) {
        if (node->clip && node->draft && node->draft->accepted) {
            return last_accepted_ + settings_.batch_delay;
        }
    }
    return std::nullopt;
}

int MountTree::write_pending() {
    const std::lock_guard<std::mutex> one_at_a_time(rewriting_);
    struct Waiting {
        std::shared_ptr<Node> node;
        std::shared_ptr<Draft> draft;
    };
    std::vector<Waiting> waiting;
    pack::ReplaceRequest request;
    request.converter = settings_.converter.get();
    std::shared_ptr<const ArchiveGeneration> archive;
    {
        const Lock lock(mutex_);
        for (const auto& [name, node] : names_) {
            if (node->clip && node->draft && node->draft->accepted) {
                waiting.push_back({node, node->draft});
                request.replacements.push_back({*node->clip, node->draft->file->path()});
            }
        }
        archive = archive_;
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
        {
            const Lock lock(mutex_);
            retry_waits_for_close_ = true;
        }
        const int code = outcome.error.os ? outcome.error.os.value() : EIO;
        settings_.report({MountEvent::Kind::rewrite_failed, names, outcome.error, 0});
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
        for (const Waiting& one : waiting) {
            // Written again since it was taken: it waits for its next judgement.
            if (one.draft->dirty || !one.draft->accepted) {
                continue;
            }
            one.draft->accepted = false;
            // A handle still writing it keeps it until it is closed.
            if (one.node->draft == one.draft && one.draft->writers == 0) {
                one.node->draft.reset();
            }
            if (one.node->fallback == one.draft) {
                one.node->fallback.reset();
            }
        }
    }
    bytes_.forget();
    settings_.report({MountEvent::Kind::rewritten, names, {}, outcome.archive_bytes});
    return 0;
}

void MountTree::finish() {
    if (write_pending() == 0) {
        return;
    }
    std::vector<std::string> lost;
    {
        const Lock lock(mutex_);
        for (const auto& [name, node] : names_) {
            if (node->clip && node->draft && node->draft->accepted) {
                lost.push_back(name);
            }
        }
    }
    if (!lost.empty()) {
        settings_.report({MountEvent::Kind::lost, lost, {}, 0});
    }
}

} // namespace pev::mount
