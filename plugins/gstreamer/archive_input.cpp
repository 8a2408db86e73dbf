#include "archive_input.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace pev::gst {

namespace {

constexpr char kMagic[] = "PEVPAC";
constexpr gsize kMagicSize = sizeof kMagic - 1;

// libpev reads a clip a block at a time, a few hundred bytes each: pulled
// one by one, each read would cost a buffer and a system call upstream. So
// reads are served from a window of the file pulled at once; larger reads
// are pulled as they are.
constexpr guint kWindowSize = 256 * 1024;

} // namespace

void ArchiveInput::reset() {
    for (const Piece& piece : pieces_) {
        gst_buffer_unref(piece.buffer);
    }
    pieces_.clear();
    collected_ = 0;
    drop_window();
    sinkpad_ = nullptr;
    last_pull_flow_ = GST_FLOW_OK;
}

// Pulls `size` bytes at `offset` (a 32-bit size at most: a larger read
// comes back short and libpev asks again for the rest); null after noting
// the flow, or at the end of the file.
GstBuffer* ArchiveInput::pull_range(guint64 offset, size_t size) {
    GstBuffer* pulled = nullptr;
    const GstFlowReturn flow = gst_pad_pull_range(
        sinkpad_, offset, static_cast<guint>(std::min<size_t>(size, G_MAXINT32)), &pulled);
    if (flow != GST_FLOW_OK && flow != GST_FLOW_EOS) {
        last_pull_flow_ = flow;
    }
    return flow == GST_FLOW_OK ? pulled : nullptr;
}

// libpev's read callback in pull mode. A file shorter than upstream said
// gives 0 at its end, and libpev reports the cut.
int64_t ArchiveInput::pull(void* user, uint64_t offset, void* buffer, size_t size) {
    auto* input = static_cast<ArchiveInput*>(user);
    if (size >= kWindowSize) {
        GstBuffer* pulled = input->pull_range(offset, size);
        if (pulled == nullptr) {
            return input->last_pull_flow_ == GST_FLOW_OK ? 0 : -1;
        }
        const gsize got = gst_buffer_extract(pulled, 0, buffer, size);
        gst_buffer_unref(pulled);
        return static_cast<int64_t>(got);
    }
    const auto in_window = [&] {
        return input->window_ != nullptr && offset >= input->window_start_ &&
               offset < input->window_start_ + gst_buffer_get_size(input->window_);
    };
    if (!in_window()) {
        input->drop_window();
        input->window_ = input->pull_range(offset, kWindowSize);
        input->window_start_ = offset;
        if (input->window_ == nullptr) {
            return input->last_pull_flow_ == GST_FLOW_OK ? 0 : -1;
        }
        if (!in_window()) {
            return 0; // an empty buffer: the end of the file
        }
    }
    return static_cast<int64_t>(
        gst_buffer_extract(input->window_, offset - input->window_start_, buffer, size));
}

void ArchiveInput::drop_window() {
    if (window_ != nullptr) {
        gst_buffer_unref(window_);
        window_ = nullptr;
    }
}

pev_status ArchiveInput::open_pulled(GstPad* sinkpad, guint64 size, pev_archive** archive) {
    sinkpad_ = sinkpad;
    last_pull_flow_ = GST_FLOW_OK;
    return pev_open_callbacks(&ArchiveInput::pull, size, this, archive);
}

const char* ArchiveInput::collect(GstBuffer* buffer) {
    const gsize size = gst_buffer_get_size(buffer);
    if (size == 0) {
        gst_buffer_unref(buffer);
        return nullptr;
    }
    if (collected_ + size > kMostCollected) {
        gst_buffer_unref(buffer);
        return "it is larger than 4 GiB, more than a voice archive holds";
    }
    const guint64 had = collected_;
    try {
        pieces_.push_back({buffer, had});
    } catch (const std::bad_alloc&) {
        gst_buffer_unref(buffer);
        return "there is not enough memory to hold it";
    }
    collected_ += size;
    if (had < kMagicSize && collected_ >= kMagicSize) {
        char start[kMagicSize];
        read_collected(this, 0, start, kMagicSize);
        if (std::memcmp(start, kMagic, kMagicSize) != 0) {
            return "it does not start with a voice archive's magic, PEVPAC";
        }
    }
    return nullptr;
}

// libpev's read callback in push mode: the collected buffers copied from,
// the first found by binary search.
int64_t ArchiveInput::read_collected(void* user, uint64_t offset, void* buffer, size_t size) {
    const auto* input = static_cast<const ArchiveInput*>(user);
    auto piece = std::upper_bound(input->pieces_.begin(), input->pieces_.end(), offset,
                                  [](uint64_t at, const Piece& p) { return at < p.start; });
    if (piece == input->pieces_.begin()) {
        return 0;
    }
    --piece;
    auto* into = static_cast<guint8*>(buffer);
    size_t copied = 0;
    for (; piece != input->pieces_.end() && copied < size; ++piece) {
        const guint64 from = offset + copied - piece->start;
        copied += gst_buffer_extract(piece->buffer, from, into + copied, size - copied);
    }
    return static_cast<int64_t>(copied);
}

pev_status ArchiveInput::open_collected(pev_archive** archive) {
    return pev_open_callbacks(&ArchiveInput::read_collected, collected_, this, archive);
}

} // namespace pev::gst
