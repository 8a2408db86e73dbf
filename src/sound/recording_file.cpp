#include "sound/recording_file.hpp"

#include "platform/files.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <sndfile.h>
#include <sys/stat.h>
#include <system_error>

namespace pev::sound {
namespace {

// libsndfile's own words ("Error : flac decoder lost sync.") as the end of
// a sentence: no "Error :" in front, no capital, no full stop.
std::string as_reason(const char* text) {
    std::string reason = text != nullptr ? text : "";
    if (reason.starts_with("Error : ")) {
        reason.erase(0, 8);
    }
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) {
        reason.pop_back();
    }
    if (!reason.empty()) {
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    }
    return reason.empty() ? "libsndfile gives no reason" : reason;
}

// The container's name as people know it.
std::string container_name(int format) {
    const int subtype = format & SF_FORMAT_SUBMASK;
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
        return "WAV";
    case SF_FORMAT_AIFF:
        return "AIFF";
    case SF_FORMAT_FLAC:
        return "FLAC";
    case SF_FORMAT_OGG:
        return subtype == SF_FORMAT_OPUS     ? "Opus"
               : subtype == SF_FORMAT_VORBIS ? "Ogg Vorbis"
                                             : "Ogg";
    case SF_FORMAT_MPEG:
        return subtype == SF_FORMAT_MPEG_LAYER_III  ? "MP3"
               : subtype == SF_FORMAT_MPEG_LAYER_II ? "MP2"
                                                    : "MP1";
    case SF_FORMAT_CAF:
        return "CAF";
    case SF_FORMAT_W64:
        return "Wave64";
    case SF_FORMAT_RF64:
        return "RF64";
    case SF_FORMAT_AU:
        return "AU";
    }
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || info.name == nullptr) {
        return "sound";
    }
    const std::string name = info.name;
    return name.substr(0, name.find(" ("));
}

// How its samples are coded, "" for the lossy codecs that have no depth.
std::string sample_coding(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return "8-bit";
    case SF_FORMAT_PCM_16:
        return "16-bit";
    case SF_FORMAT_PCM_24:
        return "24-bit";
    case SF_FORMAT_PCM_32:
        return "32-bit";
    case SF_FORMAT_FLOAT:
        return "32-bit float";
    case SF_FORMAT_DOUBLE:
        return "64-bit float";
    case SF_FORMAT_ULAW:
        return "mu-law";
    case SF_FORMAT_ALAW:
        return "A-law";
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return "";
    }
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || info.name == nullptr) {
        return "";
    }
    return info.name;
}

std::string channel_name(int channels) {
    return channels == 1   ? "mono"
           : channels == 2 ? "stereo"
                           : std::to_string(channels) + "-channel";
}

std::string describe(const SF_INFO& info) {
    std::string text = std::to_string(info.samplerate) + " Hz " + channel_name(info.channels) + " ";
    if (const std::string coding = sample_coding(info.format); !coding.empty()) {
        text += coding + " ";
    }
    return text + container_name(info.format);
}

Error refused(const std::string& path, std::string detail) {
    Error error = error_about(ErrorCode::wav_refused, path);
    error.detail = std::move(detail);
    return error;
}

std::string seconds(std::uint64_t frames, std::uint32_t rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(frames) / rate);
    return text;
}

} // namespace

std::string not_readable(const std::string& reason) {
    return "not a sound file pev can read (" + reason + ")";
}

std::unique_ptr<RecordingFile> RecordingFile::open(const std::string& path, Error& error) {
    std::unique_ptr<RecordingFile> recording(new RecordingFile);
    errno = 0;
    recording->file_ = open_for_reading(path);
    if (recording->file_ == nullptr) {
        error = refused(path, "cannot open it: " + std::generic_category().message(errno));
        return nullptr;
    }
    // libsndfile reads through the descriptor pev opened (close-on-exec);
    // a pipe or a device is refused as the WAV reader refuses it.
    struct stat status {};
    if (fstat(fileno(recording->file_), &status) != 0 || !S_ISREG(status.st_mode)) {
        error = refused(path, "cannot read it: it is not a seekable file");
        return nullptr;
    }
    SF_INFO info{};
    recording->sound_ = sf_open_fd(fileno(recording->file_), SFM_READ, &info, SF_FALSE);
    if (recording->sound_ == nullptr) {
        error = refused(path, not_readable(as_reason(sf_strerror(nullptr))));
        return nullptr;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        error =
            refused(path, not_readable("it claims " + std::to_string(info.channels) +
                                       " channels at " + std::to_string(info.samplerate) + " Hz"));
        return nullptr;
    }
    recording->rate_ = static_cast<std::uint32_t>(info.samplerate);
    recording->channels_ = info.channels;
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG && info.frames >= 0 &&
        info.frames != SF_COUNT_MAX) {
        recording->frames_ = static_cast<std::uint64_t>(info.frames);
    }
    recording->description_ = describe(info);
    return recording;
}

RecordingFile::~RecordingFile() {
    if (sound_ != nullptr) {
        sf_close(sound_);
    }
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

std::size_t RecordingFile::read(std::span<float> interleaved, std::size_t frames) {
    const sf_count_t got =
        sf_readf_float(sound_, interleaved.data(), static_cast<sf_count_t>(frames));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::string RecordingFile::read_problem(std::uint64_t frames_read) const {
    if (frames_ && frames_read < *frames_) {
        return not_readable("it is cut short after " + seconds(frames_read, rate_) + " of its " +
                            seconds(*frames_, rate_) + " seconds");
    }
    if (sf_error(sound_) != SF_ERR_NO_ERROR) {
        return not_readable(as_reason(sf_strerror(sound_)));
    }
    return "";
}

} // namespace pev::sound
