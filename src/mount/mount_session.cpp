#include "mount/mount_session.hpp"

#include "mount/fuse_bridge.hpp"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <fuse_lowlevel.h>
#include <mutex>
#include <thread>

namespace pev::mount {
namespace {

// libfuse's messages, kept to be worded as one line instead of printed. One
// message may come in pieces (its list of unknown options comes a word a
// call), so the text is kept as it came and made one line when asked for.
std::string& fuse_output() {
    static std::string output;
    return output;
}

void keep_fuse_message(fuse_log_level, const char* format, va_list arguments) {
    char piece[512];
    std::vsnprintf(piece, sizeof piece, format, arguments);
    fuse_output() += piece;
}

// The lines libfuse wrote, without its "fuse: " prefix, joined by "; ".
std::string fuse_messages() {
    std::string messages;
    std::size_t start = 0;
    const std::string& output = fuse_output();
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        std::string line = output.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        if (line.rfind("fuse: ", 0) == 0) {
            line.erase(0, 6);
        }
        if (!line.empty()) {
            messages += (messages.empty() ? "" : "; ") + line;
        }
    }
    return messages;
}

// A value inside -o: commas and backslashes escaped, as libfuse reads them.
std::string option_value(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        if (c == ',' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

// Rewrites what waits once the last accepted close is batch_delay old.
class BatchTimer {
  public:
    explicit BatchTimer(MountTree& tree) : tree_(tree), thread_([this] { run(); }) {}
    ~BatchTimer() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    void poke() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++pokes_;
        }
        wake_.notify_one();
    }

  private:
    void run() {
        std::uint64_t seen = 0;
        for (;;) {
            // Asked without this lock held: the tree calls poke() with its own.
            const auto due = tree_.due();
            std::unique_lock<std::mutex> lock(mutex_);
            const auto woken = [&] { return stop_ || pokes_ != seen; };
            if (stop_) {
                return;
            }
            if (pokes_ != seen) {
                seen = pokes_;
                continue;
            }
            if (!due) {
                wake_.wait(lock, woken);
            } else if (!wake_.wait_until(lock, *due, woken)) {
                lock.unlock();
                tree_.write_pending(Rewrite::when_due);
            }
        }
    }

    MountTree& tree_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::uint64_t pokes_ = 0;
    bool stop_ = false;
    std::thread thread_; // last: it starts once the rest is ready
};

} // namespace

MountOutcome serve(MountSetup setup, const std::function<void()>& mounted) {
    MountOutcome outcome;
    std::atomic<BatchTimer*> timer = nullptr;
    setup.tree.changed = [&timer] {
        if (BatchTimer* batches = timer.load()) {
            batches->poke();
        }
    };
    const bool writable = setup.tree.writable;
    const std::string archive_path = setup.tree.archive_path;
    MountTree tree(std::move(setup.archive), setup.clips, std::move(setup.tree));

    std::string options = "fsname=" + option_value(archive_path) + ",subtype=pev";
    // Clips never change on a read-only mount: the kernel may keep their
    // pages and names for long. On a writable one a judged save, a refusal
    // or a rewrite changes what a file shows, so sizes and times are asked
    // each time (the kernel would keep a truncation's answer otherwise),
    // and names each second.
    options += writable ? ",attr_timeout=0,entry_timeout=1"
                        : ",ro,kernel_cache,attr_timeout=3600,entry_timeout=3600";
    fuse_args arguments = FUSE_ARGS_INIT(0, nullptr);
    fuse_opt_add_arg(&arguments, "pev");
    fuse_opt_add_arg(&arguments, "-o");
    fuse_opt_add_arg(&arguments, options.c_str());
    for (const std::string& option : setup.fuse_options) {
        fuse_opt_add_arg(&arguments, "-o");
        fuse_opt_add_arg(&arguments, option.c_str());
    }
    fuse_output().clear();
    fuse_set_log_func(keep_fuse_message);
    const fuse_operations operations = fuse_bridge_operations(writable);
    fuse* session = fuse_new(&arguments, &operations, sizeof operations, &tree);
    fuse_opt_free_args(&arguments);
    if (session == nullptr) {
        return {MountOutcome::Failure::bad_option, fuse_messages()};
    }
    if (fuse_mount(session, setup.folder.c_str()) != 0) {
        fuse_destroy(session);
        return {MountOutcome::Failure::cannot_mount, fuse_messages()};
    }
    // From here libfuse speaks for itself (-o debug), to standard error.
    fuse_set_log_func(nullptr);
    mounted();
    fuse_daemonize(setup.foreground ? 1 : 0);
    fuse_set_signal_handlers(fuse_get_session(session));
    int result = 0;
    {
        BatchTimer batches(tree);
        timer = &batches;
        result = setup.single_thread ? fuse_loop(session) : fuse_loop_mt(session, 0);
        timer = nullptr;
    }
    fuse_remove_signal_handlers(fuse_get_session(session));
    fuse_unmount(session);
    tree.finish();
    fuse_destroy(session);
    // A signal that ended the loop is a positive number: an ordinary end.
    // So is ECONNABORTED: the kernel ends the connection of a folder being
    // unmounted so at times (libfuse 3.14 knows only ENODEV as the end, and
    // prints "reading device: Software caused connection abort").
    if (result < 0 && result != -ECONNABORTED) {
        outcome = {MountOutcome::Failure::serving_failed, fuse_messages()};
    }
    return outcome;
}

} // namespace pev::mount
