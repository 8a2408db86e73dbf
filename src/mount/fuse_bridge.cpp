#include "mount/fuse_bridge.hpp"

#include "mount/mount_tree.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>

namespace pev::mount {
namespace {

MountTree& tree() {
    return *static_cast<MountTree*>(fuse_get_context()->private_data);
}

// "/name" as the folder's name; "" for the folder itself. A deeper path
// names nothing, the folder being flat.
bool name_of(const char* path, std::string_view& name) {
    name = path == nullptr ? std::string_view() : std::string_view(path);
    if (!name.empty() && name.front() == '/') {
        name.remove_prefix(1);
    }
    return name.find('/') == std::string_view::npos;
}

OpenFile* file_of(const fuse_file_info* info) {
    return info == nullptr || info->fh == 0 ? nullptr : reinterpret_cast<OpenFile*>(info->fh);
}

// No exception crosses into libfuse's C: memory that cannot be had is ENOMEM.
template <class Call> auto guarded(Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
}

void* init(fuse_conn_info* connection, fuse_config* config) {
    // O_TRUNC comes with open, so a save that truncates is one judged draft.
    connection->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    config->hard_remove = 1; // no .fuse_hidden files for removed open files
    // A writable folder knows its open files by handle; a read-only one,
    // opened without handles, by their names.
    config->nullpath_ok = tree().writable() ? 1 : 0;
    return fuse_get_context()->private_data;
}

// By handle when there is one: a writable folder asks so with no path
// (nullpath_ok), and the answer is that open file's, not the folder's.
int getattr(const char* path, struct stat* status, fuse_file_info* info) {
    return guarded([&] {
        if (const OpenFile* file = file_of(info)) {
            return tree().stat(*file, *status);
        }
        std::string_view name;
        return path != nullptr && name_of(path, name) ? tree().stat(name, *status) : -ENOENT;
    });
}

// Entries are numbered: 1 and 2 follow "." and "..", 3 the first file.
// Given with their offsets and attributes, they reach the kernel as whole
// entries (libfuse looks each one up as it is listed), so that `ls -l` asks
// nothing more; listed without offsets, each would be looked up again.
int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info*,
            fuse_readdir_flags) {
    return guarded([&] {
        std::string_view name;
        if (!name_of(path, name) || !name.empty()) {
            return -ENOTDIR;
        }
        auto next = static_cast<std::size_t>(std::max<off_t>(offset, 0));
        if (next == 0 && fill(buffer, ".", nullptr, ++next, fuse_fill_dir_flags{}) != 0) {
            return 0;
        }
        if (next == 1 && fill(buffer, "..", nullptr, ++next, fuse_fill_dir_flags{}) != 0) {
            return 0;
        }
        tree().list(next - 2, [&](const std::string& entry, const struct stat& status) {
            return fill(buffer, entry.c_str(), &status, static_cast<off_t>(++next),
                        FUSE_FILL_DIR_PLUS) == 0;
        });
        return 0;
    });
}

// A read-only folder keeps nothing per open file: told that opening is not
// implemented, the kernel opens files without asking again, and sends no
// release either (two requests a file fewer).
int open_nothing(const char*, fuse_file_info*) {
    return -ENOSYS;
}

int open(const char* path, fuse_file_info* info) {
    return guarded([&] {
        std::string_view name;
        if (!name_of(path, name)) {
            return -ENOENT;
        }
        OpenFile* file = nullptr;
        const int result = tree().open(name, info->flags, file);
        info->fh = reinterpret_cast<std::uint64_t>(file);
        return result;
    });
}

int create(const char* path, mode_t mode, fuse_file_info* info) {
    return guarded([&] {
        std::string_view name;
        if (!name_of(path, name) || name.empty()) {
            return -EPERM;
        }
        OpenFile* file = nullptr;
        const int result = tree().create(name, mode, info->flags, file);
        info->fh = reinterpret_cast<std::uint64_t>(file);
        return result;
    });
}

int read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
    return guarded([&] {
        const std::span<std::uint8_t> into(reinterpret_cast<std::uint8_t*>(buffer), size);
        const auto at = static_cast<std::uint64_t>(offset);
        if (const OpenFile* file = file_of(info)) {
            return static_cast<int>(tree().read(*file, at, into));
        }
        std::string_view name;
        return name_of(path, name) ? static_cast<int>(tree().read(name, at, into)) : -ENOENT;
    });
}

int write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* info) {
    return guarded([&] {
        OpenFile* file = file_of(info);
        return file == nullptr ? -EBADF
                               : static_cast<int>(tree().write(
                                     *file, static_cast<std::uint64_t>(offset),
                                     {reinterpret_cast<const std::uint8_t*>(buffer), size}));
    });
}

// flush runs at every close(2), and is the one whose error close returns:
// a refused draft is told there.
int flush(const char*, fuse_file_info* info) {
    return guarded([&] {
        OpenFile* file = file_of(info);
        return file == nullptr ? 0 : tree().flush(*file);
    });
}

int release(const char*, fuse_file_info* info) {
    if (OpenFile* file = file_of(info)) {
        tree().release(file);
    }
    return 0;
}

// fsync of any file, or of the folder (`sync DIR`), writes what waits.
int fsync(const char*, int, fuse_file_info*) {
    return guarded([&] { return tree().write_pending(Rewrite::now); });
}

// ftruncate comes by handle (with no path on a writable folder), truncate
// by name.
int truncate(const char* path, off_t size, fuse_file_info* info) {
    return guarded([&] {
        if (size < 0) {
            return -EINVAL;
        }
        if (OpenFile* file = file_of(info)) {
            return tree().truncate(*file, static_cast<std::uint64_t>(size));
        }
        std::string_view name;
        if (path == nullptr || !name_of(path, name) || name.empty()) {
            return -ENOENT;
        }
        return tree().truncate(name, static_cast<std::uint64_t>(size));
    });
}

// futimens by handle, utimensat by name; UTIME_NOW and UTIME_OMIT are the
// tree's to read.
int utimens(const char* path, const struct timespec times[2], fuse_file_info* info) {
    return guarded([&] {
        const OpenFile* file = file_of(info);
        std::string_view name;
        if (file == nullptr && (path == nullptr || !name_of(path, name))) {
            return -ENOENT;
        }
        if (file == nullptr && name.empty()) {
            return 0; // the folder's times are the archive's
        }
        return tree().set_times(file, name, times);
    });
}

// Owners and modes are not kept: programs that copy them onto a file they
// save are not refused.
int chmod(const char*, mode_t, fuse_file_info*) {
    return 0;
}

int chown(const char*, uid_t, gid_t, fuse_file_info*) {
    return 0;
}

int unlink(const char* path) {
    return guarded([&] {
        std::string_view name;
        return name_of(path, name) ? tree().unlink(name) : -ENOENT;
    });
}

int rename(const char* from, const char* to, unsigned int flags) {
    return guarded([&] {
        std::string_view source;
        std::string_view target;
        if (!name_of(from, source) || !name_of(to, target)) {
            return -ENOENT;
        }
        return tree().rename(source, target, flags);
    });
}

// The folder holds files only, and no links.
int refuse_path(const char*, mode_t) {
    return -EPERM;
}

int refuse_two_paths(const char*, const char*) {
    return -EPERM;
}

int refuse_node(const char*, mode_t, dev_t) {
    return -EPERM;
}

int refuse_folder_removal(const char*) {
    return -EPERM;
}

} // namespace

fuse_operations fuse_bridge_operations(bool writable) {
    fuse_operations operations{};
    operations.init = init;
    operations.getattr = getattr;
    operations.readdir = readdir;
    operations.read = read;
    if (writable) {
        operations.open = open;
        operations.flush = flush;
        operations.release = release;
        operations.fsync = fsync;
        operations.fsyncdir = fsync;
        operations.create = create;
        operations.write = write;
        operations.truncate = truncate;
        operations.utimens = utimens;
        operations.chmod = chmod;
        operations.chown = chown;
        operations.unlink = unlink;
        operations.rename = rename;
        operations.mkdir = refuse_path;
        operations.rmdir = refuse_folder_removal;
        operations.symlink = refuse_two_paths;
        operations.link = refuse_two_paths;
        operations.mknod = refuse_node;
    } else {
        operations.open = open_nothing;
    }
    return operations;
}

} // namespace pev::mount
