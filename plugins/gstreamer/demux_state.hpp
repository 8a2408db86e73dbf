#pragma once
// pevdemux's insides, shared by the files that make it up: opening the
// archive (demux_open.cpp), streaming (demux_stream.cpp), seeking
// (demux_seek.cpp), answering queries (demux_queries.cpp) and the element
// itself with its sink pad (pev_demux.cpp).

#include "../common/clip_sequence.hpp"
#include "archive_input.hpp"
#include "pev_demux.hpp"

#include <cstddef>
#include <limits>
#include <memory>
#include <string>

GST_DEBUG_CATEGORY_EXTERN(pev_demux_debug);

namespace pev::gst {

constexpr std::size_t kNoClip = std::numeric_limits<std::size_t>::max();

// Everything the element keeps besides its pads. The streaming thread (the
// sink pad's task, or its chain and events in push mode, under the pad's
// stream lock) owns all but `clip_property` and `published`, which the
// object lock guards.
struct DemuxState {
    guint clip_property = 0;

    bool pull_mode = false;
    bool upstream_ended = false; // push mode: all of the archive has come
    bool refused = false;        // push mode: what came cannot be an archive
    ArchiveInput input;
    pev_archive* archive = nullptr;
    player::ClipList list;
    std::unique_ptr<player::ClipSequence> sequence;
    std::string base_name;
    GstSegment segment{};
    guint64 stop_sample = 0;
    guint32 seqnum = 0;
    bool segment_pending = true;
    bool discont = true;
    std::size_t tagged_clip = kNoClip;

    // What queries from any thread are answered from, once the stream is open.
    struct {
        bool ready = false;
        guint32 rate = 0;
        guint64 total_samples = 0;
    } published;
};

// Opens the archive, lists its clips and adds the source pad with the
// stream's start, caps, tags and table of contents; false after posting the
// error.
bool open_stream(PevDemux* self);

// The sink pad's task: opens the stream when it is not, then pushes one
// buffer, or ends the segment.
void stream_loop(gpointer element);
// Starts (or restarts) the task unless the sink pad is being deactivated.
// Called with the sink pad's stream lock held, so a deactivation cannot slip
// between the check and the start.
void start_streaming(PevDemux* self);

gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event);
gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query);

} // namespace pev::gst

struct _PevDemux {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad; // added once the archive is open
    pev::gst::DemuxState* state;
};
