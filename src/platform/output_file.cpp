#include "platform/output_file.hpp"

#include "platform/folder_refusals.hpp"
#include "platform/interrupt_cleanup.hpp"
#include "platform/output_file_system_calls.hpp"
#include "platform/temporary_name.hpp"
#include "platform/utf8_path.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pev {
namespace {

// Small appends (an archive's entries piece by piece) are gathered up to
// this; a larger piece, a whole WAV file say, goes out in one call.
constexpr std::size_t kBufferSize = 64 * 1024;
// The most one system call is asked to write.
constexpr std::size_t kMostPerCall = std::size_t{1} << 30;
// Attempts at a free temporary name before giving up.
constexpr int kNameAttempts = 100;

#ifdef __linux__
// A file to be synced is handed to the disk a step at a time as it is
// written, without waiting for it: the disk then works while the rest is
// made, and the sync before commit waits for the last step rather than the
// whole file (for a 116 MB archive copied clip by clip, about half the run).
constexpr std::uint64_t kWritebackStep = 8 * 1024 * 1024;

// Starts writing back the whole steps that the bytes from `before` to
// `after` completed. Only a hint: the sync reports what failed.
void start_writeback(int fd, std::uint64_t before, std::uint64_t after) {
    const std::uint64_t from = before / kWritebackStep * kWritebackStep;
    const std::uint64_t to = after / kWritebackStep * kWritebackStep;
    if (to > from) {
        sync_file_range(fd, static_cast<off_t>(from), static_cast<off_t>(to - from),
                        SYNC_FILE_RANGE_WRITE);
    }
}
#endif

#ifdef _WIN32

std::error_code system_error(DWORD code = GetLastError()) {
    return {static_cast<int>(code), std::system_category()};
}

std::wstring wide(const std::string& utf8) {
    return path_from_utf8(utf8).wstring();
}

bool name_taken(const std::string& path) {
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

#else

std::error_code system_error(int code = errno) {
    return {code, std::generic_category()};
}

bool name_taken(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

int host_open(const char* path, int flags, unsigned mode) {
    return ::open(path, flags, static_cast<mode_t>(mode));
}

int host_rename_no_replace(const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#else
    (void)from;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

int host_link(const char* from, const char* to) {
    return ::link(from, to);
}

bool host_proc_fd_available() {
    static const bool available = access("/proc/self/fd", X_OK) == 0;
    return available;
}

// The folder of `path` itself, as open(2) takes it.
std::string folder_of(const std::string& path) {
    const std::string prefix = folder_prefix(path);
    return prefix.empty() ? "." : prefix;
}

std::error_code sync_folder(const std::string& path) {
    const int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return system_error();
    }
    const int result = fsync(fd);
    const int code = errno;
    close(fd);
    // Some file systems cannot sync a folder, and need not.
    if (result != 0 && code != EINVAL) {
        return system_error(code);
    }
    return {};
}

#endif

} // namespace

#ifndef _WIN32
const OutputFileSystemCalls& OutputFileSystemCalls::host() {
    static constexpr OutputFileSystemCalls calls{host_open, host_rename_no_replace, host_link,
                                                 host_proc_fd_available};
    return calls;
}
#endif

OutputFile::OutputFile(std::string path, OutputFileOptions options)
    : path_(std::move(path)), options_(options), calls_(options.system_calls) {
#ifndef _WIN32
    if (calls_ == nullptr) {
        calls_ = &OutputFileSystemCalls::host();
    }
#endif
}

OutputFile::~OutputFile() {
    close_file();
    if (!temp_path_.empty()) {
#ifdef _WIN32
        DeleteFileW(wide(temp_path_).c_str());
#else
        unlink(temp_path_.c_str());
#endif
    }
    forget_on_interrupt(interrupt_entry_);
}

std::error_code OutputFile::usable() const {
    if (state_ == State::failed) {
        return error_;
    }
    if (state_ != State::open) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    return {};
}

std::error_code OutputFile::fail(OutputStep step, std::error_code error) {
    if (state_ != State::failed) {
        state_ = State::failed;
        error_ = error;
        failed_step_ = step;
    }
    return error_;
}

std::error_code OutputFile::create() {
    if (state_ == State::failed) {
        return error_;
    }
    if (state_ != State::fresh) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    // Checked again when the name is taken; this spares writing a whole file
    // in vain.
    if (!options_.replace && (options_.seen == NameSeen::taken ||
                              (options_.seen == NameSeen::unknown && name_taken(path_)))) {
        return fail(OutputStep::create, std::make_error_code(std::errc::file_exists));
    }
    bool refused = false;
    std::error_code error = create_unnamed(refused);
    if (refused) {
        error = create_named();
    }
    if (error) {
        return fail(OutputStep::create, error);
    }
    state_ = State::open;
    return {};
}

std::error_code OutputFile::append(std::span<const std::uint8_t> bytes) {
    if (std::error_code error = usable()) {
        return error;
    }
    if (bytes.empty()) {
        return {};
    }
    if (bytes.size() > kBufferSize - buffered_) {
        if (std::error_code error = flush()) {
            return error;
        }
        if (bytes.size() >= kBufferSize) {
            if (std::error_code error = write_out(written_, bytes)) {
                return fail(OutputStep::write, error);
            }
            written_ += bytes.size();
            return {};
        }
    }
    if (!buffer_) {
        // Not value-initialised: every byte is written before it is read.
        buffer_.reset(new std::uint8_t[kBufferSize]);
    }
    std::memcpy(buffer_.get() + buffered_, bytes.data(), bytes.size());
    buffered_ += bytes.size();
    return {};
}

std::error_code OutputFile::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (std::error_code error = usable()) {
        return error;
    }
    if (offset > size() || bytes.size() > size() - offset) {
        return fail(OutputStep::write, std::make_error_code(std::errc::invalid_argument));
    }
    // Bytes still in the buffer are written first, then overwritten.
    if (offset + bytes.size() > written_) {
        if (std::error_code error = flush()) {
            return error;
        }
    }
    if (std::error_code error = write_out(offset, bytes)) {
        return fail(OutputStep::write, error);
    }
    return {};
}

std::error_code OutputFile::flush() {
    if (std::error_code error = usable()) {
        return error;
    }
    if (buffered_ == 0) {
        return {};
    }
    if (std::error_code error = write_out(written_, {buffer_.get(), buffered_})) {
        return fail(OutputStep::write, error);
    }
    written_ += buffered_;
    buffered_ = 0;
    return {};
}

std::error_code OutputFile::commit() {
    if (std::error_code error = flush()) {
        return error;
    }
    const std::error_code error = temp_path_.empty() ? commit_unnamed() : commit_named();
    if (!error) {
        state_ = State::committed;
        // An archive's folder is cleared of what a killed writer left; WAV
        // files, thousands to a folder, do not pay for reading it.
        if (options_.sync) {
            remove_stale_temporary_names(path_);
        }
    }
    return error;
}

void OutputFile::name_placed() {
    temp_path_.clear();
    forget_on_interrupt(interrupt_entry_);
    interrupt_entry_ = -1;
}

#ifdef _WIN32

std::error_code OutputFile::create_unnamed(bool& refused) {
    refused = true;
    return {};
}

std::error_code OutputFile::create_named() {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = temporary_name(path_);
        const std::wstring wide_name = wide(name);
        // Not inherited by child processes; FILE_SHARE_DELETE lets the
        // console handler remove it while it is open.
        HANDLE handle =
            CreateFileW(wide_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            handle_ = handle;
            temp_path_ = name;
            interrupt_entry_ = remove_on_interrupt(wide_name);
            return {};
        }
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            return system_error(code);
        }
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code OutputFile::write_out(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(std::min(bytes.size(), kMostPerCall));
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset & 0xffffffffu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        if (!WriteFile(handle_, bytes.data(), chunk, &done, &at)) {
            return system_error();
        }
        if (done == 0) {
            return std::make_error_code(std::errc::io_error);
        }
        bytes = bytes.subspan(done);
        offset += done;
    }
    return {};
}

std::error_code OutputFile::commit_unnamed() {
    return std::make_error_code(std::errc::bad_file_descriptor);
}

std::error_code OutputFile::commit_named() {
    if (options_.sync && !FlushFileBuffers(handle_)) {
        return fail(OutputStep::write, system_error());
    }
    if (std::error_code error = close_file()) {
        return fail(OutputStep::write, error);
    }
    if (std::error_code error = take_final_name()) {
        return fail(OutputStep::commit, error);
    }
    name_placed();
    return {};
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken;
// MOVEFILE_WRITE_THROUGH returns only once the move is on disk.
std::error_code OutputFile::take_final_name() {
    const DWORD flags = (options_.replace ? MOVEFILE_REPLACE_EXISTING : 0) |
                        (options_.sync ? MOVEFILE_WRITE_THROUGH : 0);
    if (MoveFileExW(wide(temp_path_).c_str(), wide(path_).c_str(), flags)) {
        return {};
    }
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
        return std::make_error_code(std::errc::file_exists);
    }
    // Windows says "access denied" for a folder in the way; say what it is,
    // as other hosts do.
    const DWORD target = GetFileAttributesW(wide(path_).c_str());
    if (code == ERROR_ACCESS_DENIED && target != INVALID_FILE_ATTRIBUTES &&
        (target & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    return system_error(code);
}

std::error_code OutputFile::close_file() {
    if (handle_ == nullptr) {
        return {};
    }
    const bool closed = CloseHandle(handle_);
    handle_ = nullptr;
    return closed ? std::error_code() : system_error();
}

#else

std::error_code OutputFile::create_unnamed(bool& refused) {
#ifdef O_TMPFILE
    const std::string folder = folder_of(path_);
    if (refused_in(calls_, folder, FolderRefusal::unnamed_files)) {
        refused = true;
        return {};
    }
    const int fd = calls_->open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // Kernels and file systems without unnamed files: a named one then.
        const int code = errno;
        refused = code == EOPNOTSUPP || code == EISDIR || code == EINVAL;
        if (refused) {
            note_refused(calls_, folder, FolderRefusal::unnamed_files);
        }
        return system_error(code);
    }
    // It is given its name through /proc/self/fd.
    if (!calls_->proc_fd_available()) {
        close(fd);
        refused = true;
        return {};
    }
    fd_ = fd;
    refused = false;
#else
    refused = true;
#endif
    return {};
}

std::error_code OutputFile::create_named() {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = temporary_name(path_);
        // Entered before the file exists: an interruption at any moment after
        // the open finds it there to remove.
        const int entry = remove_on_interrupt(name);
        const int fd = calls_->open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            temp_path_ = name;
            interrupt_entry_ = entry;
            return {};
        }
        const int code = errno;
        forget_on_interrupt(entry);
        if (code != EEXIST) {
            return system_error(code);
        }
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code OutputFile::write_out(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            return std::make_error_code(std::errc::file_too_large);
        }
        const ssize_t done = pwrite(fd_, bytes.data(), std::min(bytes.size(), kMostPerCall),
                                    static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return system_error();
        }
        if (done == 0) {
            return std::make_error_code(std::errc::io_error);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(done));
        offset += static_cast<std::uint64_t>(done);
#ifdef __linux__
        if (options_.sync) {
            start_writeback(fd_, offset - static_cast<std::uint64_t>(done), offset);
        }
#endif
    }
    return {};
}

namespace {

#ifdef AT_EMPTY_PATH
// Whether linkat names a descriptor itself (AT_EMPTY_PATH), which kernels
// before 6.10 allow only to a process that may read any file; learnt by the
// first refusal, after which every file goes through /proc.
std::atomic<bool> empty_path_refused{false};
#endif

// Links the unnamed file `fd` under `name`; refuses a name that exists.
int link_unnamed(int fd, const char* name) {
#ifdef AT_EMPTY_PATH
    if (!empty_path_refused.load(std::memory_order_relaxed)) {
        if (linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0) {
            return 0;
        }
        if (errno != ENOENT && errno != EPERM && errno != EINVAL) {
            return -1;
        }
        empty_path_refused.store(true, std::memory_order_relaxed);
    }
#endif
    const std::string unnamed = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW);
}

} // namespace

std::error_code OutputFile::commit_unnamed() {
    if (options_.sync && fsync(fd_) != 0) {
        return fail(OutputStep::write, system_error());
    }
    // A name seen taken is not tried: linkat would refuse it.
    const bool try_final = !options_.replace || options_.seen != NameSeen::taken;
    const bool linked = try_final && link_unnamed(fd_, path_.c_str()) == 0;
    if (try_final && !linked && (errno != EEXIST || !options_.replace)) {
        // The kernel refuses a name that exists: nothing can slip in between.
        return fail(OutputStep::commit, system_error());
    }
    if (!linked) {
        // linkat never replaces: the file gets a temporary name, which
        // rename then moves over the old file in one step.
        for (int attempt = 0; attempt < kNameAttempts && temp_path_.empty(); ++attempt) {
            const std::string name = temporary_name(path_);
            const int entry = remove_on_interrupt(name);
            if (link_unnamed(fd_, name.c_str()) == 0) {
                temp_path_ = name;
                interrupt_entry_ = entry;
                continue;
            }
            const int code = errno;
            forget_on_interrupt(entry);
            if (code != EEXIST) {
                return fail(OutputStep::commit, system_error(code));
            }
        }
        if (temp_path_.empty()) {
            return fail(OutputStep::commit, std::make_error_code(std::errc::file_exists));
        }
        if (rename(temp_path_.c_str(), path_.c_str()) != 0) {
            return fail(OutputStep::commit, system_error());
        }
        name_placed();
    }
    if (std::error_code error = close_file()) {
        return fail(OutputStep::write, error);
    }
    if (options_.sync) {
        if (std::error_code error = sync_folder(path_)) {
            return fail(OutputStep::commit, error);
        }
    }
    return {};
}

std::error_code OutputFile::commit_named() {
    if (options_.sync && fsync(fd_) != 0) {
        return fail(OutputStep::write, system_error());
    }
    if (std::error_code error = close_file()) {
        return fail(OutputStep::write, error);
    }
    if (std::error_code error = take_final_name()) {
        return fail(OutputStep::commit, error);
    }
    name_placed();
    if (options_.sync) {
        if (std::error_code sync_error = sync_folder(path_)) {
            return fail(OutputStep::commit, sync_error);
        }
    }
    return {};
}

std::error_code OutputFile::take_final_name() {
    const char* from = temp_path_.c_str();
    const char* to = path_.c_str();
    if (options_.replace) {
        return rename(from, to) == 0 ? std::error_code() : system_error();
    }
    const std::string folder = folder_of(path_);
    if (!refused_in(calls_, folder, FolderRefusal::rename_no_replace)) {
        if (calls_->rename_no_replace(from, to) == 0) {
            return {};
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return system_error();
        }
        note_refused(calls_, folder, FolderRefusal::rename_no_replace);
    }
    // Kernels or file systems without it: a hard link fails on a name that
    // exists, and once it stands the temporary name can go.
    if (calls_->link(from, to) == 0) {
        unlink(from);
        return {};
    }
    if (errno != EPERM && errno != EOPNOTSUPP) {
        return system_error();
    }
    // No hard links either (FAT on a memory card): checked, then renamed,
    // which leaves a moment for another program in between.
    if (name_taken(path_)) {
        return std::make_error_code(std::errc::file_exists);
    }
    if (rename(from, to) != 0) {
        return system_error();
    }
    return {};
}

std::error_code OutputFile::close_file() {
    if (fd_ < 0) {
        return {};
    }
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? std::error_code() : system_error();
}

#endif

} // namespace pev
