// Audacious's input plugin for voice archives: every clip that can be
// decoded is a subtune ("archive.pev?N", N its position, as extracted files
// are numbered), titled with the name `pev extract` gives it, and played
// through libpev's streaming reader with seeking to the millisecond.

#include "../common/clip_list.hpp"
#include "../common/clip_titles.hpp"
#include "vfs_archive.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <libaudcore/audstrings.h>
#include <libaudcore/i18n.h>
#include <libaudcore/plugin.h>
#include <libaudcore/runtime.h>
#include <new>
#include <vector>

#define EXPORT __attribute__((visibility("default")))

namespace {

constexpr char kMagic[] = "PEVPAC";
constexpr size_t kSamplesPerWrite = 4096;

// Milliseconds, to the nearest, within Audacious's int.
int milliseconds_of(uint64_t samples, uint32_t rate) {
    const uint64_t ms = (samples * 1000 + rate / 2) / rate;
    return static_cast<int>(std::min<uint64_t>(ms, INT_MAX));
}

// The first sample at or after `ms`.
uint64_t sample_at(int ms, uint32_t rate) {
    return (static_cast<uint64_t>(ms) * rate + 999) / 1000;
}

// The subtune a file name asks for ("archive.pev?3" asks for 3; 0 for none).
int subtune_of(const char* filename) {
    int subtune = 0;
    uri_parse(filename, nullptr, nullptr, nullptr, &subtune);
    return subtune;
}

// Subtune `subtune`'s clip: false, logged, when there is no such clip or it
// cannot be decoded.
bool subtune_clip(const char* filename, const pev_archive* archive, int subtune,
                  pev_clip_info& info) {
    size_t count = 0;
    pev_clip_count(archive, &count);
    if (subtune < 1 || static_cast<size_t>(subtune) > count) {
        AUDERR("%s: the archive has no clip %d\n", filename, subtune);
        return false;
    }
    const pev_status status = pev_get_clip_info(archive, static_cast<size_t>(subtune) - 1, &info);
    if (status != PEV_OK || info.problem != PEV_OK) {
        AUDERR("%s: %s\n", filename, pev_strerror(status != PEV_OK ? status : info.problem));
        return false;
    }
    return true;
}

// The whole archive: its subtunes are the clips that can be decoded.
bool list_subtunes(const char* filename, const pev_archive* archive, Tuple& tuple) {
    pev::player::ClipList list;
    const pev_status status = pev::player::list_clips(archive, 0, list);
    if (status != PEV_OK || list.clips.empty()) {
        AUDERR("%s: %s\n", filename,
               status != PEV_OK ? pev_strerror(status) : "no clip in it can be decoded");
        return false;
    }
    for (const pev::player::SkippedClip& skipped : list.skipped) {
        AUDWARN("%s: clip %zu is left out: %s\n", filename, skipped.index + 1,
                pev_strerror(skipped.problem));
    }
    std::vector<short> subtunes;
    for (const pev::player::ListedClip& clip : list.clips) {
        subtunes.push_back(static_cast<short>(clip.position())); // at most 9999
    }
    tuple.set_subtunes(static_cast<short>(subtunes.size()), subtunes.data());
    return true;
}

bool describe_subtune(const char* filename, const pev_archive* archive, int subtune, Tuple& tuple) {
    pev_clip_info info{};
    if (!subtune_clip(filename, archive, subtune, info)) {
        return false;
    }
    uint32_t rate = 0;
    size_t count = 0;
    pev_sample_rate(archive, &rate);
    pev_clip_count(archive, &count);
    const std::string title =
        pev::player::clip_title(pev::player::archive_base_name(filename), subtune);
    // The stored bytes over the clip's length, in kilobits per second.
    const uint64_t kbps =
        info.sample_count == 0 ? 0 : info.stored_bytes * 8 * rate / info.sample_count / 1000;
    tuple.set_str(Tuple::Title, title.c_str());
    tuple.set_int(Tuple::Track, subtune);
    tuple.set_int(Tuple::Length, milliseconds_of(info.sample_count, rate));
    tuple.set_format("Voice archive (PEV)", 1, static_cast<int>(std::min<uint32_t>(rate, INT_MAX)),
                     static_cast<int>(std::min<uint64_t>(kbps, INT_MAX)));
    tuple.set_int(Tuple::Channels, 1);
    return true;
}

} // namespace

class PevInput : public InputPlugin {
  public:
    static const char about[];
    static const char* const extensions[];
    static const char* const mime_types[];
    static constexpr PluginInfo info = {N_("Voice Archive Player"), "pev2wav", about, nullptr, 0};

    constexpr PevInput()
        : InputPlugin(info, InputInfo(FlagSubtunes).with_exts(extensions).with_mimes(mime_types)) {}

    bool is_our_file(const char*, VFSFile& file) override {
        char start[sizeof kMagic - 1];
        return file.fread(start, 1, sizeof start) == sizeof start &&
               std::memcmp(start, kMagic, sizeof start) == 0;
    }

    bool read_tag(const char* filename, VFSFile& file, Tuple& tuple, Index<char>*) override {
        try {
            const VfsArchive archive(file);
            if (archive.status() != PEV_OK) {
                AUDERR("%s: %s\n", filename, pev_strerror(archive.status()));
                return false;
            }
            const int subtune = subtune_of(filename);
            return subtune == 0 ? list_subtunes(filename, archive.get(), tuple)
                                : describe_subtune(filename, archive.get(), subtune, tuple);
        } catch (const std::bad_alloc&) {
            AUDERR("%s: not enough memory\n", filename);
            return false;
        }
    }

    bool play(const char* filename, VFSFile& file) override {
        const VfsArchive archive(file);
        pev_clip_info info{};
        if (archive.status() != PEV_OK) {
            AUDERR("%s: %s\n", filename, pev_strerror(archive.status()));
            return false;
        }
        const int subtune = subtune_of(filename);
        if (!subtune_clip(filename, archive.get(), subtune, info)) {
            return false;
        }
        uint32_t rate = 0;
        pev_sample_rate(archive.get(), &rate);
        if (rate > INT_MAX) {
            AUDERR("%s: a rate of %u samples per second cannot be played\n", filename, rate);
            return false;
        }
        pev_reader* reader = nullptr;
        pev_status status =
            pev_reader_open(archive.get(), static_cast<size_t>(subtune) - 1, &reader);
        if (status == PEV_OK) {
            status = stream(reader, rate);
            pev_reader_close(reader);
        }
        if (status != PEV_OK) {
            AUDERR("%s: %s\n", filename, pev_strerror(status));
        }
        return status == PEV_OK;
    }

  private:
    // Plays the clip until its end or until Audacious stops it; a seek lands
    // on the first sample at or after the millisecond asked for.
    static pev_status stream(pev_reader* reader, uint32_t rate) {
        uint64_t length = 0;
        pev_reader_length(reader, &length);
        open_audio(FMT_S16_NE, static_cast<int>(rate), 1);
        int16_t samples[kSamplesPerWrite];
        while (!check_stop()) {
            const int seek = check_seek();
            if (seek >= 0) {
                pev_reader_seek(reader, std::min(length, sample_at(seek, rate)));
            }
            size_t got = 0;
            const pev_status status = pev_reader_read(reader, samples, kSamplesPerWrite, &got);
            if (status != PEV_OK) {
                return status;
            }
            if (got == 0) {
                break;
            }
            write_audio(samples, static_cast<int>(got * sizeof samples[0]));
        }
        return PEV_OK;
    }
};

const char PevInput::about[] =
    "Plays voice archives (.pev): each clip that can be decoded is a subtune, titled with the "
    "name pev extract gives its file.";
const char* const PevInput::extensions[] = {"pev", nullptr};
const char* const PevInput::mime_types[] = {"application/x-pev", nullptr};

EXPORT PevInput aud_plugin_instance;
