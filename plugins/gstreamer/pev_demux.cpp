// The pevdemux element: its class, its property, its sink pad and its
// state changes. The streaming, opening, seeking and queries are in the
// demux_*.cpp files.

#include "demux_state.hpp"

GST_DEBUG_CATEGORY(pev_demux_debug);
#define GST_CAT_DEFAULT pev_demux_debug

using pev::gst::DemuxState;

G_DEFINE_TYPE(PevDemux, pev_demux, GST_TYPE_ELEMENT)

namespace {

enum { PROP_0, PROP_CLIP };

GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                             GST_STATIC_CAPS("application/x-pev"));
GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_SOMETIMES,
    GST_STATIC_CAPS("audio/x-raw, format=(string)S16LE, layout=(string)interleaved, "
                    "channels=(int)1, rate=(int)[1, MAX]"));

// ------------------------------------------------------------ the sink pad

// Pull mode where upstream can (filesrc), else push mode.
gboolean sink_activate(GstPad* pad, GstObject*) {
    GstQuery* query = gst_query_new_scheduling();
    const bool pull = gst_pad_peer_query(pad, query) &&
                      gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL,
                                                               GST_SCHEDULING_FLAG_SEEKABLE);
    gst_query_unref(query);
    return gst_pad_activate_mode(pad, pull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

gboolean sink_activate_mode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
    PevDemux* self = PEV_DEMUX(parent);
    DemuxState& s = *self->state;
    if (!active) {
        return gst_pad_stop_task(pad);
    }
    s.pull_mode = mode == GST_PAD_MODE_PULL;
    s.upstream_ended = false;
    s.refused = false;
    return s.pull_mode ? gst_pad_start_task(pad, pev::gst::stream_loop, self, nullptr) : TRUE;
}

// Push mode: the archive collected as it comes.
GstFlowReturn sink_chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
    PevDemux* self = PEV_DEMUX(parent);
    DemuxState& s = *self->state;
    if (s.upstream_ended || s.refused) {
        gst_buffer_unref(buffer);
        return s.refused ? GST_FLOW_ERROR : GST_FLOW_EOS;
    }
    if (const char* refusal = s.input.collect(buffer)) {
        s.refused = true;
        GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE,
                          ("This stream cannot be played as a voice archive."), ("%s", refusal));
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

// In push mode the stream starts once all of the archive has come; nothing
// else upstream says (its byte segments, caps, tags) concerns the samples.
gboolean sink_event(GstPad*, GstObject* parent, GstEvent* event) {
    PevDemux* self = PEV_DEMUX(parent);
    DemuxState& s = *self->state;
    if (!s.pull_mode && !s.upstream_ended && !s.refused) {
        if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
            s.upstream_ended = true;
            pev::gst::start_streaming(self);
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
            s.input.reset(); // upstream starts over
        }
    }
    gst_event_unref(event);
    return TRUE;
}

// ------------------------------------------------------------ the element

void close_stream(PevDemux* self) {
    DemuxState& s = *self->state;
    GST_OBJECT_LOCK(self);
    s.published = {};
    GST_OBJECT_UNLOCK(self);
    if (self->srcpad != nullptr) {
        gst_element_remove_pad(GST_ELEMENT(self), self->srcpad);
        self->srcpad = nullptr;
    }
    s.sequence.reset();
    pev_close(s.archive);
    s.archive = nullptr;
    s.input.reset();
    s.list = pev::player::ClipList{};
}

GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(pev_demux_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        close_stream(PEV_DEMUX(element)); // the pads and the task have stopped
    }
    return result;
}

void set_property(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
    PevDemux* self = PEV_DEMUX(object);
    if (id != PROP_CLIP) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
        return;
    }
    GST_OBJECT_LOCK(self);
    self->state->clip_property = g_value_get_uint(value);
    GST_OBJECT_UNLOCK(self);
}

void get_property(GObject* object, guint id, GValue* value, GParamSpec* spec) {
    PevDemux* self = PEV_DEMUX(object);
    if (id != PROP_CLIP) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
        return;
    }
    GST_OBJECT_LOCK(self);
    g_value_set_uint(value, self->state->clip_property);
    GST_OBJECT_UNLOCK(self);
}

void finalize(GObject* object) {
    PevDemux* self = PEV_DEMUX(object);
    close_stream(self);
    delete self->state;
    G_OBJECT_CLASS(pev_demux_parent_class)->finalize(object);
}

} // namespace

static void pev_demux_class_init(PevDemuxClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(pev_demux_debug, "pevdemux", 0, "voice archive demuxer");

    object_class->set_property = set_property;
    object_class->get_property = get_property;
    object_class->finalize = finalize;
    g_object_class_install_property(
        object_class, PROP_CLIP,
        g_param_spec_uint("clip", "Clip",
                          "The one clip to play, counted from 1 as extracted files are numbered; "
                          "0 plays every clip that can be decoded, one after another",
                          0, 9999, 0,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                   GST_PARAM_MUTABLE_READY)));
    element_class->change_state = change_state;
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(
        element_class, "Voice archive demuxer", "Codec/Demuxer/Audio",
        "Plays the clips of a voice archive (.pev) one after another as 16-bit mono audio",
        "Pev2wav developers");
}

static void pev_demux_init(PevDemux* self) {
    self->state = new DemuxState();
    self->srcpad = nullptr;
    self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
    gst_pad_set_activate_function(self->sinkpad, sink_activate);
    gst_pad_set_activatemode_function(self->sinkpad, sink_activate_mode);
    gst_pad_set_chain_function(self->sinkpad, sink_chain);
    gst_pad_set_event_function(self->sinkpad, sink_event);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
}
