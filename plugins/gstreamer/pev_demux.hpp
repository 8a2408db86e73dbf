#pragma once
// pevdemux: a voice archive in, its clips out as one stream of 16-bit mono
// samples at the archive's rate, every clip that can be decoded one after
// another (or the one clip the `clip` property names), with a table of
// contents, per-clip tags and seeking exact to the sample.

#include <gst/gst.h>

G_BEGIN_DECLS

#define PEV_TYPE_DEMUX (pev_demux_get_type())
G_DECLARE_FINAL_TYPE(PevDemux, pev_demux, PEV, DEMUX, GstElement)

G_END_DECLS
