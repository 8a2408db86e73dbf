// pevdemux's answers about its stream: its length and seekability in time
// and in samples, and conversions between the two.

#include "demux_state.hpp"
#include "stream_info.hpp"

namespace pev::gst {

gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query) {
    PevDemux* self = PEV_DEMUX(parent);
    DemuxState& s = *self->state;
    GST_OBJECT_LOCK(self);
    const auto published = s.published;
    GST_OBJECT_UNLOCK(self);
    gboolean answered = FALSE;
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION: {
        GstFormat format = GST_FORMAT_UNDEFINED;
        gst_query_parse_duration(query, &format, nullptr);
        if (published.ready && format == GST_FORMAT_DEFAULT) {
            gst_query_set_duration(query, format, static_cast<gint64>(published.total_samples));
            answered = TRUE;
        } else if (published.ready && format == GST_FORMAT_TIME) {
            gst_query_set_duration(
                query, format,
                static_cast<gint64>(time_of_sample(published.total_samples, published.rate)));
            answered = TRUE;
        }
        break;
    }
    case GST_QUERY_SEEKING: {
        GstFormat format = GST_FORMAT_UNDEFINED;
        gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
        if (published.ready && (format == GST_FORMAT_TIME || format == GST_FORMAT_DEFAULT)) {
            const guint64 end = format == GST_FORMAT_DEFAULT
                                    ? published.total_samples
                                    : time_of_sample(published.total_samples, published.rate);
            gst_query_set_seeking(query, format, TRUE, 0, static_cast<gint64>(end));
            answered = TRUE;
        }
        break;
    }
    case GST_QUERY_CONVERT: {
        GstFormat from = GST_FORMAT_UNDEFINED, to = GST_FORMAT_UNDEFINED;
        gint64 value = 0;
        gst_query_parse_convert(query, &from, &value, &to, nullptr);
        if (!published.ready || value < 0) {
            break;
        }
        const auto sample = static_cast<guint64>(value);
        if (from == to) {
            answered = TRUE;
        } else if (from == GST_FORMAT_DEFAULT && to == GST_FORMAT_TIME) {
            value = static_cast<gint64>(time_of_sample(sample, published.rate));
            answered = TRUE;
        } else if (from == GST_FORMAT_TIME && to == GST_FORMAT_DEFAULT) {
            value = static_cast<gint64>(sample_at_time(sample, published.rate));
            answered = TRUE;
        }
        if (answered) {
            gst_query_set_convert(query, from, static_cast<gint64>(sample), to, value);
        }
        break;
    }
    default:
        answered = gst_pad_query_default(pad, parent, query);
    }
    return answered;
}

} // namespace pev::gst
