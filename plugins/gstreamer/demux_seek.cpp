// pevdemux's seeking, exact to the sample in time and in samples, and the
// events that come up its source pad.

#include "demux_state.hpp"
#include "stream_info.hpp"

#include <algorithm>

#define GST_CAT_DEFAULT pev_demux_debug

namespace pev::gst {

namespace {

// A seek's start or stop in time. A position in samples becomes the time
// that sample starts at; one from the end is made a position from the start
// first, in samples, so that it lands exactly on the sample it names.
gint64 seek_time(GstFormat format, GstSeekType& type, gint64 value, guint64 total, guint32 rate) {
    if (format == GST_FORMAT_TIME || type == GST_SEEK_TYPE_NONE ||
        (type == GST_SEEK_TYPE_SET && value == -1)) {
        return value;
    }
    guint64 sample = value < 0 ? 0 : static_cast<guint64>(value);
    if (type == GST_SEEK_TYPE_END) {
        // Unsigned negation, so that even the most negative value has a size.
        const guint64 back = value < 0 ? 0 - static_cast<guint64>(value) : 0;
        sample = back < total ? total - back : 0;
        type = GST_SEEK_TYPE_SET;
    }
    return static_cast<gint64>(std::min<guint64>(time_of_sample(sample, rate), G_MAXINT64));
}

// Where a start or stop lands in time; -1 when it keeps the current one.
gint64 landing(GstSeekType type, gint64 value, GstClockTime duration) {
    if (type == GST_SEEK_TYPE_END) {
        return std::max<gint64>(0, static_cast<gint64>(duration) + value);
    }
    return type == GST_SEEK_TYPE_SET ? value : -1;
}

bool handle_seek(PevDemux* self, GstEvent* event) {
    DemuxState& s = *self->state;
    gdouble rate = 1.0;
    GstFormat format = GST_FORMAT_UNDEFINED;
    GstSeekFlags flags = GST_SEEK_FLAG_NONE;
    GstSeekType start_type = GST_SEEK_TYPE_NONE, stop_type = GST_SEEK_TYPE_NONE;
    gint64 start = 0, stop = 0;
    gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
    const guint32 sample_rate = s.list.rate;
    const guint64 total = s.list.total_samples();
    start = seek_time(format, start_type, start, total, sample_rate);
    stop = seek_time(format, stop_type, stop, total, sample_rate);
    const GstClockTime duration = time_of_sample(total, sample_rate);
    const gint64 first_time = landing(start_type, start, duration);
    const gint64 last_time = landing(stop_type, stop, duration);
    if (rate <= 0.0 || (format != GST_FORMAT_TIME && format != GST_FORMAT_DEFAULT) ||
        (first_time >= 0 && last_time >= 0 && first_time > last_time)) {
        GST_DEBUG_OBJECT(self,
                         "refusing a seek at rate %g in %s, or one that ends before it starts",
                         rate, gst_format_get_name(format));
        return false;
    }
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
