#include "clip_playlist.hpp"

#include "../common/clip_titles.hpp"
#include "wav_timeline.hpp"

#include <cstdlib>
#include <string>
#include <utility>

namespace pev::vlc {

ClipPlaylist::ClipPlaylist(demux_t* demux, input_item_t* parent, player::ClipList list,
                           std::string base_name)
    : demux_(demux), parent_(parent), list_(std::move(list)), base_name_(std::move(base_name)) {}

input_item_t* ClipPlaylist::clip_item(const char* uri, const player::ListedClip& clip) const {
    const std::string title = player::clip_title(base_name_, clip.position());
    const WavTimeline timeline(list_.rate, clip.samples);
    input_item_t* item = input_item_NewExt(uri, title.c_str(), timeline.length().value_or(0),
                                           ITEM_TYPE_FILE, ITEM_NET_UNKNOWN);
    if (item == nullptr) {
        return nullptr;
    }
    const std::string position = std::to_string(clip.position());
    const std::string option = "pev-clip=" + position;
    input_item_AddOption(item, option.c_str(), VLC_INPUT_OPTION_TRUSTED);
    input_item_SetTrackNumber(item, position.c_str());
    input_item_SetTrackTotal(item, std::to_string(list_.archive_clips).c_str());
    return item;
}

// Posts the items once; the archive's own item then ends, and the playlist
// goes on with its clips.
int ClipPlaylist::demux() {
    if (posted_) {
        return VLC_DEMUXER_EOF;
    }
    posted_ = true;
    input_item_node_t* node = input_item_node_Create(parent_);
    char* uri = input_item_GetURI(parent_);
    if (node == nullptr || uri == nullptr) {
        std::free(uri);
        if (node != nullptr) {
            input_item_node_Delete(node);
        }
        return VLC_DEMUXER_EGENERIC;
    }
    for (const player::ListedClip& clip : list_.clips) {
        input_item_t* item = clip_item(uri, clip);
        if (item != nullptr) {
            input_item_node_AppendItem(node, item);
            input_item_Release(item);
        }
    }
    std::free(uri);
    if (es_out_Control(demux_->out, ES_OUT_POST_SUBNODE, node) != VLC_SUCCESS) {
        input_item_node_Delete(node);
    }
    return VLC_DEMUXER_EOF;
}

int ClipPlaylist::control(int query, va_list args) {
    switch (query) {
    case DEMUX_IS_PLAYLIST:
        *va_arg(args, bool*) = true;
        return VLC_SUCCESS;
    case DEMUX_HAS_UNSUPPORTED_META:
        *va_arg(args, bool*) = false;
        return VLC_SUCCESS;
    default:
        return VLC_EGENERIC;
    }
}

} // namespace pev::vlc
