// pevdemux's seeking, exact to the sample in time and in samples, and the
// events that come up its source pad.

#include "demux_state.hpp"
#include "stream_info.hpp"

#include <algorithm>

#define GST_CAT_DEFAULT pev_demux_debug

namespace pev::gst {

namespace {

// A seek's position in time; positions in samples are converted, and a
// negative one (relative to the end) keeps its sign.
gint64 seek_time(GstFormat format, gint64 value, guint32 rate) {
    if (format == GST_FORMAT_TIME || value == -1) {
        return value;
    }
    const gint64 magnitude =
        static_cast<gint64>(time_of_sample(static_cast<guint64>(value < 0 ? -value : value), rate));
    return value < 0 ? -magnitude : magnitude;
}

bool handle_seek(PevDemux* self, GstEvent* event) {
    DemuxState& s = *self->state;
    gdouble rate = 1.0;
    GstFormat format = GST_FORMAT_UNDEFINED;
    GstSeekFlags flags = GST_SEEK_FLAG_NONE;
    GstSeekType start_type = GST_SEEK_TYPE_NONE, stop_type = GST_SEEK_TYPE_NONE;
    gint64 start = 0, stop = 0;
    gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
    if (rate <= 0.0 || (format != GST_FORMAT_TIME && format != GST_FORMAT_DEFAULT)) {
        GST_DEBUG_OBJECT(self, "refusing a seek at rate %g in %s", rate,
                         gst_format_get_name(format));
        return false;
    }
    const guint32 sample_rate = s.list.rate;
    start = seek_time(format, start, sample_rate);
    stop = seek_time(format, stop, sample_rate);
    const guint32 seqnum = gst_event_get_seqnum(event);
    const bool flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;

    if (flush) {
        GstEvent* flush_start = gst_event_new_flush_start();
        gst_event_set_seqnum(flush_start, seqnum);
        gst_pad_push_event(self->srcpad, flush_start);
    } else {
        gst_pad_pause_task(self->sinkpad);
    }
    GST_PAD_STREAM_LOCK(self->sinkpad);
    GstSegment segment = s.segment;
    gboolean update = FALSE;
    const bool done = gst_segment_do_seek(&segment, rate, GST_FORMAT_TIME, flags, start_type, start,
                                          stop_type, stop, &update);
    if (flush) {
        GstEvent* flush_stop = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(flush_stop, seqnum);
        gst_pad_push_event(self->srcpad, flush_stop);
    }
    if (done) {
        // Every sample starts a block of its own as far as seeking goes: a
        // key-unit seek lands where an accurate one does, on the first sample
        // at or after the time asked.
        const guint64 total = s.list.total_samples();
        const guint64 first = std::min(total, sample_at_time(segment.start, sample_rate));
        const guint64 last = GST_CLOCK_TIME_IS_VALID(segment.stop)
                                 ? std::min(total, sample_at_time(segment.stop, sample_rate))
                                 : total;
        s.segment = segment;
        s.segment.position = segment.start;
        s.sequence->seek(first);
        s.stop_sample = std::max(first, last);
        s.seqnum = seqnum;
        s.segment_pending = true;
        s.discont = true;
        s.tagged_clip = kNoClip;
        if ((flags & GST_SEEK_FLAG_SEGMENT) != 0) {
            GstMessage* message = gst_message_new_segment_start(GST_OBJECT(self), GST_FORMAT_TIME,
                                                                static_cast<gint64>(segment.start));
            gst_message_set_seqnum(message, seqnum);
            gst_element_post_message(GST_ELEMENT(self), message);
        }
    }
    start_streaming(self);
    GST_PAD_STREAM_UNLOCK(self->sinkpad);
    return done;
}

// A TOC entry chosen: a flushing seek to its clip's start.
bool handle_toc_select(PevDemux* self, GstEvent* event) {
    DemuxState& s = *self->state;
    gchar* uid = nullptr;
    gst_event_parse_toc_select(event, &uid);
    const std::size_t clip = clip_of_toc_uid(s.list, uid != nullptr ? uid : "");
    g_free(uid);
    if (clip == s.list.clips.size()) {
        return false;
    }
    GstEvent* seek = gst_event_new_seek(
        1.0, GST_FORMAT_DEFAULT,
        static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), GST_SEEK_TYPE_SET,
        static_cast<gint64>(s.list.clips[clip].start), GST_SEEK_TYPE_NONE, -1);
    const bool done = handle_seek(self, seek);
    gst_event_unref(seek);
    return done;
}

} // namespace

gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    PevDemux* self = PEV_DEMUX(parent);
    bool handled = false;
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_SEEK:
        handled = handle_seek(self, event);
        break;
    case GST_EVENT_TOC_SELECT:
        handled = handle_toc_select(self, event);
        break;
    default:
        // Nothing upstream of a demuxer plays a part in these.
        return gst_pad_event_default(pad, parent, event);
    }
    gst_event_unref(event);
    return handled;
}

} // namespace pev::gst
