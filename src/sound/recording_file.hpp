#pragma once
// A recording opened for reading by libsndfile, which finds its format from
// its content (WAV, AIFF, FLAC, Ogg Vorbis, Opus, MP3 and more), whatever
// its name says.

#include "common/error.hpp"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>

struct sf_private_tag;

namespace pev::sound {

class RecordingFile {
  public:
    // Opens `path` (UTF-8); on failure, `error` is wav_refused with the
    // reason in `detail` ("cannot open it: ...", "not a sound file pev can
    // read (...)") and nothing is returned.
    static std::unique_ptr<RecordingFile> open(const std::string& path, Error& error);
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    std::uint32_t rate() const { return rate_; }
    int channels() const { return channels_; }
    // Frames (one sample per channel) the file says it holds, where that is
    // exact: not for MP3, whose length is an estimate.
    std::optional<std::uint64_t> frames() const { return frames_; }
    // "48000 Hz stereo 24-bit FLAC".
    const std::string& description() const { return description_; }

    // Reads up to `frames` frames, interleaved, as floats at full scale
    // +-1.0; 0 at the end or on a failure.
    std::size_t read(std::span<float> interleaved, std::size_t frames);

    // After the last read: why the recording could not be read to its
    // end, "" when it was. `frames_read` is how many read() gave.
    std::string read_problem(std::uint64_t frames_read) const;

  private:
    RecordingFile() = default;

    std::FILE* file_ = nullptr;
    sf_private_tag* sound_ = nullptr;
    std::uint32_t rate_ = 0;
    int channels_ = 0;
    std::optional<std::uint64_t> frames_;
    std::string description_;
};

// "not a sound file pev can read (REASON)", the one way a recording is refused.
std::string not_readable(const std::string& reason);

} // namespace pev::sound
