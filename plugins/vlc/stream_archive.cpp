#include "stream_archive.hpp"

#include <algorithm>
#include <limits>

namespace pev::vlc {

namespace {

// No offset in an archive reaches past 4 GiB: what a stream holds beyond is
// never read.
constexpr std::uint64_t kLargestArchive = std::uint64_t{1} << 32;
constexpr std::size_t kReadAtOnce = 1 << 20;

} // namespace

StreamArchive::StreamArchive(stream_t* stream) : stream_(stream) {
    bool can_seek = false;
    std::uint64_t size = 0;
    seekable_ = vlc_stream_Control(stream, STREAM_CAN_SEEK, &can_seek) == VLC_SUCCESS && can_seek &&
                vlc_stream_GetSize(stream, &size) == VLC_SUCCESS;
    if (seekable_) {
        status_ = pev_open_callbacks(&StreamArchive::read, size, this, &archive_);
    } else {
        status_ = read_whole();
        if (status_ == PEV_OK) {
            status_ = pev_open_memory(whole_.data(), whole_.size(), &archive_);
        }
    }
}

pev_status StreamArchive::read_whole() {
    try {
        while (whole_.size() < kLargestArchive) {
            const std::size_t had = whole_.size();
            const auto room = static_cast<std::size_t>(
                std::min<std::uint64_t>(kReadAtOnce, kLargestArchive - had));
            whole_.resize(had + room);
            const ssize_t got = vlc_stream_Read(stream_, whole_.data() + had, room);
            whole_.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (got < 0) {
                return PEV_ERR_IO;
            }
            if (got == 0) {
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        return PEV_ERR_NO_MEMORY;
    }
    whole_.shrink_to_fit();
    return PEV_OK;
}

// libpev's read callback: a seek and a read of the stream.
std::int64_t StreamArchive::read(void* user, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* self = static_cast<StreamArchive*>(user);
    const std::size_t length =
        std::min<std::size_t>(size, std::numeric_limits<std::int32_t>::max());
    if (vlc_stream_Seek(self->stream_, offset) != VLC_SUCCESS) {
        return -1;
    }
    const ssize_t got = vlc_stream_Read(self->stream_, buffer, length);
    return got >= 0 ? got : -1;
}

} // namespace pev::vlc
