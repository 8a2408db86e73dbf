#pragma once
// What the module does with an opened archive: either it lists the clips as
// playlist items (ClipPlaylist) or it plays a run of clips (ClipPlayer).
// VLC's demux callbacks hand over to the one chosen.

#include "vlc_api.hpp"

#include <cstdarg>

namespace pev::vlc {

class DemuxRole {
  public:
    virtual ~DemuxRole() = default;
    // VLC's pf_demux: VLC_DEMUXER_SUCCESS, _EOF or _EGENERIC.
    virtual int demux() = 0;
    // VLC's pf_control: VLC_SUCCESS, or VLC_EGENERIC for what is not answered.
    virtual int control(int query, va_list args) = 0;
};

} // namespace pev::vlc
