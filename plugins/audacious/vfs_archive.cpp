#include "vfs_archive.hpp"

#include <algorithm>
#include <cstdint>

VfsArchive::VfsArchive(VFSFile& file) : file_(file) {
    const int64_t size = file.fsize();
    if (size >= 0) {
        status_ =
            pev_open_callbacks(&VfsArchive::read, static_cast<uint64_t>(size), this, &archive_);
    } else {
        whole_ = file.read_all();
        status_ = pev_open_memory(whole_.begin(), static_cast<size_t>(whole_.len()), &archive_);
    }
}

// libpev's read callback: a seek and a read of the VFS file.
int64_t VfsArchive::read(void* user, uint64_t offset, void* buffer, size_t size) {
    auto* self = static_cast<VfsArchive*>(user);
    const auto length = static_cast<int64_t>(std::min<size_t>(size, INT32_MAX));
    if (offset > static_cast<uint64_t>(INT64_MAX) ||
        self->file_.fseek(static_cast<int64_t>(offset), VFS_SEEK_SET) != 0) {
        return -1;
    }
    const int64_t got = self->file_.fread(buffer, 1, length);
    return got >= 0 ? got : -1;
}
