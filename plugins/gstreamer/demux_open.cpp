// pevdemux opening its archive: from pulled ranges or collected buffers,
// its clips listed, damaged ones warned of, and the source pad added.

#include "../common/clip_titles.hpp"
#include "demux_state.hpp"
#include "stream_info.hpp"

#include <gst/audio/audio.h>
#include <new>

#define GST_CAT_DEFAULT pev_demux_debug

namespace pev::gst {

namespace {

// The URI upstream reads, for the clips' titles; null when none says.
gchar* upstream_uri(PevDemux* self) {
    GstQuery* query = gst_query_new_uri();
    gchar* uri = nullptr;
    if (gst_pad_peer_query(self->sinkpad, query)) {
        gst_query_parse_uri(query, &uri);
    }
    gst_query_unref(query);
    return uri;
}

void report_open_failure(PevDemux* self, pev_status status) {
    DemuxState& s = *self->state;
    const char* why = pev_strerror(status);
    switch (status) {
    case PEV_ERR_NOT_AN_ARCHIVE:
        GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE, ("This file is not a voice archive."),
                          ("%s", why));
        break;
    case PEV_ERR_IO:
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The voice archive could not be read."),
                          ("%s", why));
        break;
    case PEV_ERR_CLIP_INDEX:
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND,
                          ("The voice archive has no clip %u: it holds %zu.", s.clip_property,
                           s.list.archive_clips),
                          (nullptr));
        break;
    case PEV_ERR_NO_MEMORY:
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Not enough memory to open the voice archive."),
                          (nullptr));
        break;
    default:
        if (s.clip_property != 0 && status >= PEV_ERR_BLOCK_TABLE_PAST_END) {
            GST_ELEMENT_ERROR(
                self, STREAM, DECODE,
                ("Clip %u of the voice archive cannot be decoded: %s.", s.clip_property, why),
                (nullptr));
        } else {
            GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("The voice archive cannot be read: %s.", why),
                              (nullptr));
        }
    }
}

void warn_of_skipped_clips(PevDemux* self) {
    const DemuxState& s = *self->state;
    for (const pev::player::SkippedClip& skipped : s.list.skipped) {
        const std::string title = pev::player::clip_title(s.base_name, skipped.index + 1);
        GST_ELEMENT_WARNING_WITH_DETAILS(
            self, STREAM, DECODE,
            ("Clip %zu (%s) cannot be decoded and is left out: %s.", skipped.index + 1,
             title.c_str(), pev_strerror(skipped.problem)),
            (nullptr),
            ("position", G_TYPE_UINT, static_cast<guint>(skipped.index + 1), "problem", G_TYPE_INT,
             static_cast<gint>(skipped.problem), nullptr));
    }
}

// Adds the source pad, with the stream's start, caps, tags and table of
// contents stored on it before decodebin or the application sees it.
void add_source_pad(PevDemux* self) {
    DemuxState& s = *self->state;
    self->srcpad = gst_pad_new_from_template(
        gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(self), "src"), "src");
    gst_pad_set_event_function(self->srcpad, src_event);
    gst_pad_set_query_function(self->srcpad, src_query);
    gst_pad_use_fixed_caps(self->srcpad);
    gst_pad_set_active(self->srcpad, TRUE);

    gchar* stream_id = gst_pad_create_stream_id(self->srcpad, GST_ELEMENT(self), nullptr);
    GstEvent* start = gst_event_new_stream_start(stream_id);
    gst_event_set_group_id(start, gst_util_group_id_next());
    gst_pad_push_event(self->srcpad, start);
    g_free(stream_id);
    GstAudioInfo info;
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16LE, static_cast<gint>(s.list.rate), 1,
                              nullptr);
    GstCaps* caps = gst_audio_info_to_caps(&info);
    gst_pad_set_caps(self->srcpad, caps);
    gst_caps_unref(caps);

    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
    gst_element_no_more_pads(GST_ELEMENT(self));
}

// Makes the length known to queries, and tells the application the length
// and the table of contents.
void publish(PevDemux* self, GstToc* toc) {
    DemuxState& s = *self->state;
    GST_OBJECT_LOCK(self);
    s.published.ready = true;
    s.published.rate = s.list.rate;
    s.published.total_samples = s.list.total_samples();
    GST_OBJECT_UNLOCK(self);
    gst_element_post_message(GST_ELEMENT(self), gst_message_new_toc(GST_OBJECT(self), toc, FALSE));
    gst_element_post_message(GST_ELEMENT(self), gst_message_new_duration_changed(GST_OBJECT(self)));
}

} // namespace

bool open_stream(PevDemux* self) {
    DemuxState& s = *self->state;
    pev_status status = PEV_OK;
    if (s.pull_mode) {
        gint64 size = 0;
        if (!gst_pad_peer_query_duration(self->sinkpad, GST_FORMAT_BYTES, &size) || size < 0) {
            GST_ELEMENT_ERROR(self, STREAM, DEMUX, ("The voice archive's size is unknown."),
                              ("upstream answers no duration in bytes"));
            return false;
        }
        status = s.input.open_pulled(self->sinkpad, static_cast<guint64>(size), &s.archive);
    } else {
        status = s.input.open_collected(&s.archive);
    }
    GST_OBJECT_LOCK(self);
    const guint only = s.clip_property;
    GST_OBJECT_UNLOCK(self);
    gchar* uri = upstream_uri(self);
    try {
        s.base_name = pev::player::archive_base_name(uri != nullptr ? uri : "");
        if (status == PEV_OK) {
            status = pev::player::list_clips(s.archive, only, s.list);
        }
        if (status == PEV_OK) {
            s.sequence = std::make_unique<player::ClipSequence>(s.archive, s.list);
        }
    } catch (const std::bad_alloc&) {
        status = PEV_ERR_NO_MEMORY;
    }
    g_free(uri);
    if (status != PEV_OK) {
        if (s.input.last_pull_flow() != GST_FLOW_FLUSHING) { // else stopped meanwhile
            report_open_failure(self, status);
        }
        return false;
    }
    if (s.list.rate > static_cast<guint32>(G_MAXINT)) {
        GST_ELEMENT_ERROR(
            self, STREAM, FORMAT,
            ("The voice archive's rate, %u samples per second, cannot be played.", s.list.rate),
            (nullptr));
        return false;
    }
    warn_of_skipped_clips(self);

    gst_segment_init(&s.segment, GST_FORMAT_TIME);
    s.segment.duration = time_of_sample(s.list.total_samples(), s.list.rate);
    s.stop_sample = s.list.total_samples();
    s.seqnum = gst_util_seqnum_next();
    s.segment_pending = true;
    s.discont = true;
    s.tagged_clip = kNoClip;
    add_source_pad(self);
    gst_pad_push_event(self->srcpad, gst_event_new_tag(archive_tags()));
    GstToc* toc = clip_toc(s.list, s.base_name);
    publish(self, toc);
    gst_pad_push_event(self->srcpad, gst_event_new_toc(toc, FALSE));
    gst_toc_unref(toc);
    return true;
}

} // namespace pev::gst
