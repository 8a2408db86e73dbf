#pragma once
// The archive as a playlist: one item per clip that can be decoded, titled
// as `pev extract` names its file, with its track number, the archive's
// clip count and its length. Each item is the archive again with the option
// pev-clip=N, which makes the module play that clip alone.

#include "../common/clip_list.hpp"
#include "demux_role.hpp"

#include <string>

namespace pev::vlc {

class ClipPlaylist : public DemuxRole {
  public:
    // `parent` is the archive's item; the items go under it.
    ClipPlaylist(demux_t* demux, input_item_t* parent, player::ClipList list,
                 std::string base_name);
    int demux() override;
    int control(int query, va_list args) override;

  private:
    input_item_t* clip_item(const char* uri, const player::ListedClip& clip) const;

    demux_t* demux_;
    input_item_t* parent_;
    player::ClipList list_;
    std::string base_name_;
    bool posted_ = false;
};

} // namespace pev::vlc
