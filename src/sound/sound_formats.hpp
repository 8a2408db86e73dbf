#pragma once
// The sound file formats pev writes, by the names and extensions people use
// for them, and the extensions a folder's recordings are picked by. Only
// names here: whether this build can write a format is the sound library's
// to say (see sound_file_writer.hpp), and this header serves builds without
// it too, so that they can name what they lack.

#include "common/name_order.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace pev::sound {

enum class SoundFormat { wav, flac, ogg, opus, mp3, aiff };

struct SoundFormatName {
    SoundFormat format;
    std::string_view name;            // as --format takes it
    std::string_view extension;       // the one extracted files get
    std::string_view other_extension; // also taken from a name template; may be empty
};

inline constexpr std::array<SoundFormatName, 6> kSoundFormats{{
    {SoundFormat::wav, "wav", ".wav", ""},
    {SoundFormat::flac, "flac", ".flac", ""},
    {SoundFormat::ogg, "ogg", ".ogg", ".oga"},
    {SoundFormat::opus, "opus", ".opus", ""},
    {SoundFormat::mp3, "mp3", ".mp3", ""},
    {SoundFormat::aiff, "aiff", ".aiff", ".aif"},
}};

// The files of a folder that packing takes when it can read any recording:
// what these formats are saved as, and AIFF-C. Anything else in the folder
// (pictures, notes, playlists) is left out; a file named on the command
// line is taken whatever its name, by its content.
inline constexpr std::array<std::string_view, 9> kRecordingExtensions{
    ".wav", ".flac", ".ogg", ".oga", ".opus", ".mp3", ".aif", ".aiff", ".aifc"};

inline const SoundFormatName& name_of(SoundFormat format) {
    return *std::find_if(kSoundFormats.begin(), kSoundFormats.end(),
                         [&](const SoundFormatName& row) { return row.format == format; });
}

// The format --format NAME names; nullptr for none.
inline const SoundFormatName* format_named(std::string_view name) {
    for (const SoundFormatName& row : kSoundFormats) {
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

// The only rates a format stores (its codec takes no others); empty when it
// takes any.
inline std::span<const std::uint32_t> fixed_rates(SoundFormat format) {
    static constexpr std::uint32_t kOpus[] = {8000, 12000, 16000, 24000, 48000};
    static constexpr std::uint32_t kMp3[] = {8000,  11025, 12000, 16000, 22050,
                                             24000, 32000, 44100, 48000};
    switch (format) {
    case SoundFormat::opus:
        return kOpus;
    case SoundFormat::mp3:
        return kMp3;
    default:
        return {};
    }
}

// The rate a clip at `rate` is stored at in `format`: its own where the
// format takes it, else the next one up it takes (the highest, past them
// all), so nothing of the clip's band is lost.
inline std::uint32_t storable_rate(SoundFormat format, std::uint32_t rate) {
    const std::span<const std::uint32_t> rates = fixed_rates(format);
    if (rates.empty()) {
        return rate;
    }
    const auto above = std::lower_bound(rates.begin(), rates.end(), rate);
    return above != rates.end() ? *above : rates.back();
}

// The format a file name's extension stands for (any letter case); nullptr
// for none.
inline const SoundFormatName* format_of_file_name(std::string_view name) {
    const auto ends_with = [&](std::string_view extension) {
        return !extension.empty() && ends_with_ignoring_case(name, extension);
    };
    for (const SoundFormatName& row : kSoundFormats) {
        if (ends_with(row.extension) || ends_with(row.other_extension)) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace pev::sound
