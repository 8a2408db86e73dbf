#pragma once
// Where pevdemux's archive comes from. Pulled from upstream (filesrc, or
// decodebin's type finder in front of it), it is read where libpev asks, a
// window of 256 KiB at a time. Pushed from upstream (a pipe, a network source), it is
// collected whole first, since clips can lie anywhere in the file, and read
// from the buffers as they came, without copying them into one piece.

#include "pev/pev.h"

#include <cstdint>
#include <gst/gst.h>
#include <vector>

namespace pev::gst {

// The most a pushed archive may hold: the format's offsets are 32-bit.
constexpr guint64 kMostCollected = guint64{1} << 32;

class ArchiveInput {
  public:
    ArchiveInput() = default;
    ~ArchiveInput() { reset(); }
    ArchiveInput(const ArchiveInput&) = delete;
    ArchiveInput& operator=(const ArchiveInput&) = delete;

    // Opens the archive of `size` bytes that `sinkpad`'s peer gives with
    // gst_pad_pull_range. The pad must outlive the archive.
    pev_status open_pulled(GstPad* sinkpad, guint64 size, pev_archive** archive);

    // Push mode: keeps `buffer` (taken) after what came before. Null when
    // that is fine, else why the bytes cannot be an archive: no magic at the
    // start (checked as soon as it arrives, so a file that is no archive is
    // not collected whole first), or more than kMostCollected.
    const char* collect(GstBuffer* buffer);
    // Opens what was collected, once upstream has ended.
    pev_status open_collected(pev_archive** archive);

    // The flow of the last pull that failed: GST_FLOW_FLUSHING when the
    // element is being stopped, which is no error to report.
    GstFlowReturn last_pull_flow() const { return last_pull_flow_; }

    // Drops everything collected; the archive opened from it must be closed
    // first.
    void reset();

  private:
    struct Piece {
        GstBuffer* buffer;
        guint64 start; // its first byte's offset in the archive
    };

    static int64_t pull(void* user, uint64_t offset, void* buffer, size_t size);
    GstBuffer* pull_range(guint64 offset, size_t size);
    void drop_window();
    static int64_t read_collected(void* user, uint64_t offset, void* buffer, size_t size);

    GstPad* sinkpad_ = nullptr;
    GstFlowReturn last_pull_flow_ = GST_FLOW_OK;
    GstBuffer* window_ = nullptr; // pull mode: the bytes last pulled, from window_start_
    guint64 window_start_ = 0;
    std::vector<Piece> pieces_;
    guint64 collected_ = 0;
};

} // namespace pev::gst
