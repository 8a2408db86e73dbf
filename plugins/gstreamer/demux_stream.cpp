// pevdemux's streaming: the sink pad's task pushes the run of clips a
// buffer at a time, each clip's tags as it begins, and the end of the
// segment or of the stream.

#include "demux_state.hpp"
#include "stream_info.hpp"

#include <algorithm>
#include <utility>

#define GST_CAT_DEFAULT pev_demux_debug

namespace pev::gst {

namespace {

// Samples per buffer: a tenth of a second, within these bounds.
constexpr guint64 kFewestPerBuffer = 256;
constexpr guint64 kMostPerBuffer = 65536;

void pause_task(PevDemux* self) {
    gst_pad_pause_task(self->sinkpad);
}

void push_end(PevDemux* self) {
    DemuxState& s = *self->state;
    if (self->srcpad == nullptr) {
        return;
    }
    GstEvent* eos = gst_event_new_eos();
    gst_event_set_seqnum(eos, s.seqnum);
    gst_pad_push_event(self->srcpad, eos);
}

// The end of the segment: a segment seek asks to be told, any other ends
// the stream.
void finish_segment(PevDemux* self) {
    DemuxState& s = *self->state;
    pause_task(self);
    if ((s.segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0) {
        const gint64 stop = static_cast<gint64>(time_of_sample(s.stop_sample, s.list.rate));
        GstMessage* done = gst_message_new_segment_done(GST_OBJECT(self), GST_FORMAT_TIME, stop);
        gst_message_set_seqnum(done, s.seqnum);
        gst_element_post_message(GST_ELEMENT(self), done);
        GstEvent* event = gst_event_new_segment_done(GST_FORMAT_TIME, stop);
        gst_event_set_seqnum(event, s.seqnum);
        gst_pad_push_event(self->srcpad, event);
    } else {
        push_end(self);
    }
}

void push_pending_events(PevDemux* self) {
    DemuxState& s = *self->state;
    if (s.segment_pending) {
        GstEvent* segment = gst_event_new_segment(&s.segment);
        gst_event_set_seqnum(segment, s.seqnum);
        gst_pad_push_event(self->srcpad, segment);
        s.segment_pending = false;
    }
    const std::size_t clip = s.sequence->current_clip();
    if (clip != s.tagged_clip && clip < s.list.clips.size()) {
        gst_pad_push_event(self->srcpad, gst_event_new_tag(clip_tags(s.list, clip, s.base_name)));
        s.tagged_clip = clip;
    }
}

// Little-endian samples from the reader's host-order ones.
void to_little_endian(guint8* bytes, gsize samples) {
#if G_BYTE_ORDER == G_BIG_ENDIAN
    for (gsize i = 0; i < samples; ++i) {
        std::swap(bytes[2 * i], bytes[2 * i + 1]);
    }
#else
    (void)bytes;
    (void)samples;
#endif
}

// One buffer of samples from the sequence; null after posting an error.
GstBuffer* next_buffer(PevDemux* self, guint64 want) {
    DemuxState& s = *self->state;
    const guint64 first = s.sequence->position();
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, want * 2, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    std::size_t got = 0;
    const pev_status status = s.sequence->read(reinterpret_cast<std::int16_t*>(map.data),
                                               static_cast<std::size_t>(want), &got);
    to_little_endian(map.data, got);
    gst_buffer_unmap(buffer, &map);
    if (status != PEV_OK) {
        gst_buffer_unref(buffer);
        if (s.input.last_pull_flow() != GST_FLOW_FLUSHING) {
            GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The voice archive could not be read."),
                              ("%s", pev_strerror(status)));
        }
        return nullptr;
    }
    gst_buffer_set_size(buffer, static_cast<gssize>(got * 2));
    const GstClockTime start = time_of_sample(first, s.list.rate);
    GST_BUFFER_PTS(buffer) = start;
    GST_BUFFER_DURATION(buffer) = time_of_sample(first + got, s.list.rate) - start;
    GST_BUFFER_OFFSET(buffer) = first;
    GST_BUFFER_OFFSET_END(buffer) = first + got;
    if (s.discont) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        s.discont = false;
    }
    return buffer;
}

} // namespace

void start_streaming(PevDemux* self) {
    GST_OBJECT_LOCK(self->sinkpad);
    const bool stopping = GST_PAD_IS_FLUSHING(self->sinkpad);
    GST_OBJECT_UNLOCK(self->sinkpad);
    if (!stopping) {
        gst_pad_start_task(self->sinkpad, stream_loop, self, nullptr);
    }
}

void stream_loop(gpointer data) {
    auto* self = static_cast<PevDemux*>(data);
    DemuxState& s = *self->state;
    if (s.archive == nullptr || s.sequence == nullptr) {
        if (!s.pull_mode && !s.upstream_ended) {
            pause_task(self);
            return;
        }
        if (s.archive != nullptr || !open_stream(self)) {
            pause_task(self);
            push_end(self);
            return;
        }
    }
    push_pending_events(self);
    const guint64 position = s.sequence->position();
    if (position >= s.stop_sample) {
        finish_segment(self);
        return;
    }
    const guint64 per_buffer =
        std::clamp<guint64>(s.list.rate / 10, kFewestPerBuffer, kMostPerBuffer);
    GstBuffer* buffer = next_buffer(self, std::min(per_buffer, s.stop_sample - position));
    if (buffer == nullptr) {
        pause_task(self);
        push_end(self);
        return;
    }
    const GstFlowReturn flow = gst_pad_push(self->srcpad, buffer);
    if (flow == GST_FLOW_OK) {
        return;
    }
    GST_DEBUG_OBJECT(self, "pausing: %s", gst_flow_get_name(flow));
    pause_task(self);
    if (flow == GST_FLOW_EOS) {
        push_end(self);
    } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
        GST_ELEMENT_FLOW_ERROR(self, flow);
        push_end(self);
    }
}

} // namespace pev::gst
