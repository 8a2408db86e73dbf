#pragma once
// A voice archive opened through Audacious's VFSFile, so the plugin reads
// whatever Audacious can (local files, and remote ones through its transport
// plugins). Seekable files are read where libpev asks; a stream that cannot
// tell its size is read whole into memory first.

#include "pev/pev.h"

#include <libaudcore/index.h>
#include <libaudcore/vfs.h>

class VfsArchive {
  public:
    // `file` must outlive the archive; it is used from the calling thread only.
    explicit VfsArchive(VFSFile& file);
    ~VfsArchive() { pev_close(archive_); }
    VfsArchive(const VfsArchive&) = delete;
    VfsArchive& operator=(const VfsArchive&) = delete;

    pev_status status() const { return status_; }
    const pev_archive* get() const { return archive_; }

  private:
    static int64_t read(void* user, uint64_t offset, void* buffer, size_t size);

    VFSFile& file_;
    Index<char> whole_; // a stream's bytes, when the file has no size
    pev_archive* archive_ = nullptr;
    pev_status status_ = PEV_ERR_IO;
};
