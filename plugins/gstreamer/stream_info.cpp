#include "stream_info.hpp"

#include "../common/clip_titles.hpp"

#include <cstdio>

namespace pev::gst {

namespace {

std::string toc_uid(std::size_t position) {
    char uid[32];
    std::snprintf(uid, sizeof uid, "clip-%04zu", position);
    return uid;
}

} // namespace

GstClockTime time_of_sample(guint64 sample, guint32 rate) {
    return gst_util_uint64_scale(sample, GST_SECOND, rate);
}

guint64 sample_at_time(GstClockTime time, guint32 rate) {
    return gst_util_uint64_scale_ceil(time, rate, GST_SECOND);
}

GstTagList* clip_tags(const player::ClipList& list, std::size_t clip,
                      const std::string& base_name) {
    const player::ListedClip& listed = list.clips[clip];
    const std::string title = player::clip_title(base_name, listed.position());
    GstTagList* tags = gst_tag_list_new(GST_TAG_TITLE, title.c_str(), GST_TAG_TRACK_NUMBER,
                                        static_cast<guint>(listed.position()), GST_TAG_TRACK_COUNT,
                                        static_cast<guint>(list.archive_clips), nullptr);
    gst_tag_list_set_scope(tags, GST_TAG_SCOPE_STREAM);
    return tags;
}

GstTagList* archive_tags() {
    GstTagList* tags = gst_tag_list_new(GST_TAG_CONTAINER_FORMAT, "Voice archive (PEV)",
                                        GST_TAG_AUDIO_CODEC, "PEV voice block codec", nullptr);
    gst_tag_list_set_scope(tags, GST_TAG_SCOPE_GLOBAL);
    return tags;
}

GstToc* clip_toc(const player::ClipList& list, const std::string& base_name) {
    GstToc* toc = gst_toc_new(GST_TOC_SCOPE_GLOBAL);
    for (std::size_t clip = 0; clip < list.clips.size(); ++clip) {
        const player::ListedClip& listed = list.clips[clip];
        GstTocEntry* entry =
            gst_toc_entry_new(GST_TOC_ENTRY_TYPE_TRACK, toc_uid(listed.position()).c_str());
        gst_toc_entry_set_start_stop_times(
            entry, static_cast<gint64>(time_of_sample(listed.start, list.rate)),
            static_cast<gint64>(time_of_sample(listed.end(), list.rate)));
        gst_toc_entry_set_tags(entry, clip_tags(list, clip, base_name));
        gst_toc_append_entry(toc, entry);
    }
    return toc;
}

std::size_t clip_of_toc_uid(const player::ClipList& list, const char* uid) {
    for (std::size_t clip = 0; clip < list.clips.size(); ++clip) {
        if (toc_uid(list.clips[clip].position()) == uid) {
            return clip;
        }
    }
    return list.clips.size();
}

} // namespace pev::gst
