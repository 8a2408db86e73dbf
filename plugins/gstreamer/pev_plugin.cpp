#include "pev_plugin.hpp"

#include "pev_demux.hpp"

#include <cstring>

namespace {

// A voice archive starts with the magic "PEVPAC"; the extension is a hint
// for the order finders are tried in, never a proof.
void find_voice_archive(GstTypeFind* find, gpointer) {
    const guint8* start = gst_type_find_peek(find, 0, 6);
    if (start != nullptr && std::memcmp(start, "PEVPAC", 6) == 0) {
        gst_type_find_suggest_empty_simple(find, GST_TYPE_FIND_MAXIMUM, "application/x-pev");
    }
}

} // namespace

gboolean pev_plugin_register(GstPlugin* plugin) {
    GstCaps* caps = gst_caps_new_empty_simple("application/x-pev");
    const gboolean found =
        gst_type_find_register(plugin, "application/x-pev", GST_RANK_PRIMARY, find_voice_archive,
                               "pev", caps, nullptr, nullptr);
    gst_caps_unref(caps);
    // Primary: decodebin and playbin pick the element for archives.
    return found && gst_element_register(plugin, "pevdemux", GST_RANK_PRIMARY, PEV_TYPE_DEMUX);
}
