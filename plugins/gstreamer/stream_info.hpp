#pragma once
// What pevdemux tells downstream and the application about its stream,
// besides the samples: the tags of each clip as it begins, the archive's own
// tags, the table of contents, and the conversions between samples and
// stream time.

#include "../common/clip_list.hpp"

#include <gst/gst.h>
#include <string>

namespace pev::gst {

// Stream time of `sample` at `rate`: the time the sample starts at, rounded
// down to the nanosecond.
GstClockTime time_of_sample(guint64 sample, guint32 rate);
// The first sample that starts at `time` or later; time_of_sample's inverse.
guint64 sample_at_time(GstClockTime time, guint32 rate);

// Title ("BASE_NNNN.wav"), track number (its position in the archive) and
// track count (the archive's clips) of a clip, scoped to the stream.
GstTagList* clip_tags(const player::ClipList& list, std::size_t clip, const std::string& base_name);
// The container and codec, for the whole stream.
GstTagList* archive_tags();

// One track entry per listed clip, its uid "clip-NNNN", with its tags and its
// start and stop in the stream.
GstToc* clip_toc(const player::ClipList& list, const std::string& base_name);
// The listed clip a TOC uid names; list.clips.size() when none.
std::size_t clip_of_toc_uid(const player::ClipList& list, const char* uid);

} // namespace pev::gst
