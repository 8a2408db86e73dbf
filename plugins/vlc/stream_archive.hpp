#pragma once
// A voice archive read from a VLC stream (a local file, or whatever VLC's
// access modules reach). A stream that can seek is read where libpev asks; a
// stream that cannot (a pipe, a live source) is read whole into memory
// first, up to the format's 4 GiB.

#include "pev/pev.h"
#include "vlc_api.hpp"

#include <cstdint>
#include <vector>

namespace pev::vlc {

class StreamArchive {
  public:
    // `stream` must outlive the archive and is read from the calling thread.
    explicit StreamArchive(stream_t* stream);
    ~StreamArchive() { pev_close(archive_); }
    StreamArchive(const StreamArchive&) = delete;
    StreamArchive& operator=(const StreamArchive&) = delete;

    // PEV_OK, or why the stream holds no archive that opens.
    pev_status status() const { return status_; }
    const pev_archive* get() const { return archive_; }
    // Whether the stream seeks, so that it can be opened and read again.
    bool seekable() const { return seekable_; }

  private:
    static std::int64_t read(void* user, std::uint64_t offset, void* buffer, std::size_t size);
    pev_status read_whole();

    stream_t* stream_;
    bool seekable_ = false;
    std::vector<std::uint8_t> whole_; // the bytes of a stream that cannot seek
    pev_archive* archive_ = nullptr;
    pev_status status_ = PEV_ERR_IO;
};

} // namespace pev::vlc
