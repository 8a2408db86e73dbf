#include "archive_input.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace pev::gst {

namespace {

constexpr char kMagic[] = "PEVPAC";
constexpr gsize kMagicSize = sizeof kMagic - 1;

} // namespace

void ArchiveInput::reset() {
    for (const Piece& piece : pieces_) {
        gst_buffer_unref(piece.buffer);
    }
    pieces_.clear();
    collected_ = 0;
    sinkpad_ = nullptr;
    last_pull_flow_ = GST_FLOW_OK;
}

// libpev's read callback in pull mode: one pull of what it asks for (pulls
// take a 32-bit size, so a larger read comes back short and libpev asks
// again for the rest).
int64_t ArchiveInput::pull(void* user, uint64_t offset, void* buffer, size_t size) {
    auto* input = static_cast<ArchiveInput*>(user);
    const guint length = static_cast<guint>(std::min<size_t>(size, G_MAXINT32));
    GstBuffer* pulled = nullptr;
    const GstFlowReturn flow = gst_pad_pull_range(input->sinkpad_, offset, length, &pulled);
    if (flow == GST_FLOW_EOS) {
        return 0; // shorter than upstream said: libpev reports the cut
    }
    if (flow != GST_FLOW_OK) {
        input->last_pull_flow_ = flow;
        return -1;
    }
    const gsize got = gst_buffer_extract(pulled, 0, buffer, length);
    gst_buffer_unref(pulled);
    return static_cast<int64_t>(got);
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
