// VLC's demux module for voice archives. An archive, known by its magic
// whatever its name, opens as a playlist of its clips; each item plays one
// clip (option pev-clip=N), sample for sample as `pev extract` writes it
// and placed in time as VLC's WAV reader places the extracted file.

#include "../common/clip_list.hpp"
#include "../common/clip_titles.hpp"
#include "clip_player.hpp"
#include "clip_playlist.hpp"
#include "stream_archive.hpp"
#include "vlc_api.hpp"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

// Read by vlc_plugin.h, which VLC's module list shows.
#define VLC_MODULE_COPYRIGHT "Copyright (C) the Pev2wav developers"
#define VLC_MODULE_LICENSE "Licensed under the MIT License."
// (after vlc_common.h, which it needs)
#include <vlc_plugin.h>

// VLC hands this back to the callbacks as demux_t::p_sys.
struct demux_sys_t {
    std::unique_ptr<pev::vlc::StreamArchive> archive;
    std::unique_ptr<pev::vlc::DemuxRole> role;
};

namespace {

using pev::vlc::StreamArchive;

constexpr char kMagic[] = "PEVPAC";
constexpr char kClipOption[] = "pev-clip";

bool starts_with_magic(stream_t* stream) {
    const std::uint8_t* peek = nullptr;
    return vlc_stream_Peek(stream, &peek, sizeof kMagic - 1) == sizeof kMagic - 1 &&
           std::memcmp(peek, kMagic, sizeof kMagic - 1) == 0;
}

// Whether the user named the stream an archive: by its extension, its MIME
// type or by asking for this module (--demux=pev).
bool named_archive(demux_t* demux) {
    return demux_IsForced(demux, "pev") || demux_IsPathExtension(demux, ".pev") ||
           demux_IsContentType(demux, "application/x-pev");
}

// The archive's name, as titles begin: from its item's URI.
std::string archive_base_name(demux_t* demux, input_item_t* item) {
    char* uri = item != nullptr ? input_item_GetURI(item) : nullptr;
    std::string base =
        pev::player::archive_base_name(uri != nullptr                 ? uri
                                       : demux->s->psz_url != nullptr ? demux->s->psz_url
                                                                      : "");
    std::free(uri);
    return base;
}

void report_skipped_clips(demux_t* demux, const pev::player::ClipList& list,
                          const std::string& base_name) {
    for (const pev::player::SkippedClip& skipped : list.skipped) {
        const std::string title = pev::player::clip_title(base_name, skipped.index + 1);
        msg_Err(demux, "clip %zu (%s) cannot be decoded and is left out: %s", skipped.index + 1,
                title.c_str(), pev_strerror(skipped.problem));
    }
}

// The run of clips to play: clip `position` alone, or every clip that can
// be decoded when it is 0. Reports what it cannot list.
bool list_run(demux_t* demux, const StreamArchive& archive, std::size_t position,
              const std::string& base_name, pev::player::ClipList& list) {
    const pev_status status = pev::player::list_clips(archive.get(), position, list);
    if (status == PEV_ERR_CLIP_INDEX) {
        std::size_t count = 0;
        pev_clip_count(archive.get(), &count);
        msg_Err(demux, "the archive has no clip %zu: it holds %zu", position, count);
        return false;
    }
    if (status != PEV_OK) {
        if (position != 0) {
            const std::string title = pev::player::clip_title(base_name, position);
            msg_Err(demux, "clip %zu (%s) cannot be decoded: %s", position, title.c_str(),
                    pev_strerror(status));
        } else {
            msg_Err(demux, "the clips cannot be listed: %s", pev_strerror(status));
        }
        return false;
    }
    report_skipped_clips(demux, list, base_name);
    if (list.clips.empty()) {
        msg_Err(demux, list.archive_clips == 0 ? "the archive holds no clip"
                                               : "no clip in the archive can be decoded");
        return false;
    }
    if (list.rate > pev::vlc::kMaxRate) {
        msg_Err(demux,
                "a rate of %" PRIu32 " samples per second is more than VLC plays (%" PRIu32
                " at most)",
                list.rate, pev::vlc::kMaxRate);
        return false;
    }
    return true;
}

// Whether opening the archive's item again reads the same bytes: not for a
// stream that cannot seek, nor for a file descriptor (fd://0 is standard
// input, whose bytes this input has read).
bool rereadable(demux_t* demux, const StreamArchive& archive) {
    return archive.seekable() &&
           (demux->psz_access == nullptr || std::strcmp(demux->psz_access, "fd") != 0);
}

// Chooses what to do with the opened archive; null when it cannot be played.
std::unique_ptr<pev::vlc::DemuxRole> choose_role(demux_t* demux, const StreamArchive& archive) {
    const std::int64_t asked = var_InheritInteger(demux, kClipOption);
    const std::size_t position = asked > 0 ? static_cast<std::size_t>(asked) : 0;
    input_item_t* item = demux->p_input != nullptr ? input_GetItem(demux->p_input) : nullptr;
    const std::string base_name = archive_base_name(demux, item);
    pev::player::ClipList list;
    if (!list_run(demux, archive, position, base_name, list)) {
        return nullptr;
    }
    // Items for the clips open the archive again: a stream that cannot be
    // read twice (a pipe, standard input) is played here, all clips in a row.
    if (position == 0 && item != nullptr && rereadable(demux, archive)) {
        return std::make_unique<pev::vlc::ClipPlaylist>(demux, item, std::move(list), base_name);
    }
    auto player = std::make_unique<pev::vlc::ClipPlayer>(demux, archive.get(), std::move(list),
                                                         base_name, position != 0);
    if (!player->start()) {
        msg_Err(demux, "VLC refused the audio stream");
        return nullptr;
    }
    return player;
}

// No exception may reach VLC's C code: titles and items take memory.
int Demux(demux_t* demux) {
    try {
        return demux->p_sys->role->demux();
    } catch (const std::bad_alloc&) {
        msg_Err(demux, "not enough memory");
        return VLC_DEMUXER_EGENERIC;
    }
}

int Control(demux_t* demux, int query, va_list args) {
    try {
        return demux->p_sys->role->control(query, args);
    } catch (const std::bad_alloc&) {
        return VLC_EGENERIC;
    }
}

int Open(vlc_object_t* object) {
    auto* demux = reinterpret_cast<demux_t*>(object);
    // Every archive begins with the magic: a stream without it is left to
    // the other modules, unread, with a word when it was named an archive.
    if (!starts_with_magic(demux->s)) {
        if (named_archive(demux)) {
            msg_Err(demux, "cannot open the voice archive: %s",
                    pev_strerror(PEV_ERR_NOT_AN_ARCHIVE));
        }
        return VLC_EGENERIC;
    }
    try {
        auto sys = std::make_unique<demux_sys_t>();
        sys->archive = std::make_unique<StreamArchive>(demux->s);
        if (sys->archive->status() != PEV_OK) {
            msg_Err(demux, "cannot open the voice archive: %s",
                    pev_strerror(sys->archive->status()));
            return VLC_EGENERIC;
        }
        sys->role = choose_role(demux, *sys->archive);
        if (sys->role == nullptr) {
            return VLC_EGENERIC;
        }
        demux->pf_demux = Demux;
        demux->pf_control = Control;
        demux->p_sys = sys.release();
        return VLC_SUCCESS;
    } catch (const std::bad_alloc&) {
        msg_Err(demux, "not enough memory");
        return VLC_ENOMEM;
    }
}

void Close(vlc_object_t* object) {
    auto* demux = reinterpret_cast<demux_t*>(object);
    delete demux->p_sys;
}

} // namespace

// (to the end of the file: clang-format would indent VLC's descriptor macros as code)
// clang-format off
vlc_module_begin()
    set_shortname("PEV")
    set_description("Voice archive (PEV) demuxer")
    set_help("Opens voice archives (.pev files) as a playlist of their clips")
    set_category(CAT_INPUT)
    set_subcategory(SUBCAT_INPUT_DEMUX)
    set_capability("demux", 145)
    set_callbacks(Open, Close)
    add_shortcut("pev")
    add_integer(kClipOption, 0, "Clip to play",
                "Plays this clip of the archive (numbered from 1, as extracted files are) "
                "instead of listing the clips as a playlist", false)
        change_integer_range(0, 9999)
        change_safe()
vlc_module_end()
