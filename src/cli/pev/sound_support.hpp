#pragma once
// What pev does with sound files other than 16-bit mono WAV, in one place:
// builds with libsndfile and libsoxr (PEV_HAS_SOUND) read any recording for
// pack and replace and write FLAC, Ogg Vorbis, Opus, MP3 and AIFF, at any
// rate; builds without them (such as Windows's) take and give WAV files as
// Pev2wav and Wav2pev do, and the options that need the libraries say so.

#include "cli/pev/command.hpp"
#include "common/error.hpp"
#include "pack/input_converter.hpp"
#include "platform/output_file.hpp"
#include "sound/sound_formats.hpp"
#include "wav/frame.hpp"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pev::cli::tool {

// True when this build reads and writes other sound files than WAV.
bool has_sound_files();

// "--OPTION needs libsndfile and libsoxr, which this build lacks", for an
// option only such builds take; "" in those builds.
std::string lacking(const std::string& option);

// --rate HZ, as pack and extract take it.
void add_rate_option(CLI::App& command, std::optional<std::uint32_t>& rate,
                     const std::string& description);
// --no-dither.
void add_dither_option(CLI::App& command, bool& no_dither);

// Why --rate and --no-dither cannot be had as given (this build lacks what
// they need, or the rate is out of range); "" when they can.
std::string sound_options_problem(const std::optional<std::uint32_t>& rate, bool no_dither);

// The files extract and cat write: a format, a rate and whether to dither.
struct OutputChoice {
    sound::SoundFormat format = sound::SoundFormat::wav;
    std::optional<std::uint32_t> rate; // --rate; else the clips' own (where the format takes it)
    bool dither = true;
};

// Reads --format, the extension of --name's template, --rate and
// --no-dither into `choice`; returns why they cannot be had together or in
// this build ("" when they can).
std::string choose_output(const std::optional<std::string>& format,
                          const std::optional<std::string>& name_template,
                          const std::optional<std::uint32_t>& rate, bool no_dither,
                          OutputChoice& choice);

// The rate files of `choice` get for clips at `clip_rate`.
std::uint32_t output_rate(const OutputChoice& choice, std::uint32_t clip_rate);

// After a file was converted for packing: with `verbose`, a line
// "NAME: 48000 Hz stereo 24-bit FLAC -> 22050 Hz mono" on standard output;
// always, a warning when samples were clipped. `clear` runs first (it
// clears a progress line).
void report_conversion(const std::string& file, const pack::Conversion& conversion, bool verbose,
                       const Streams& io, const std::function<void()>& clear = {});

// What pack and replace hand the packer for the files its WAV reader does
// not take; nullptr in builds without sound files.
std::unique_ptr<pack::InputConverter> make_input_converter(bool dither);

// What a folder given to pack is searched for.
std::span<const std::string_view> folder_extensions();

// The formats this build writes, "wav, flac, ogg, opus, mp3 and aiff".
std::string writable_format_names();
bool this_build_writes(sound::SoundFormat format);

// Writes decoded clips as files of one format at one rate, keeping its
// buffers from clip to clip. WAV at the archive's rate is written exactly as
// Pev2wav writes it.
class ClipOutput {
  public:
    // `rate`: the files' rate; clips at another are resampled (dithered to
    // 16 bits unless `dither` is false).
    ClipOutput(const OutputChoice& choice, std::uint32_t rate)
        : format_(choice.format), rate_(rate), dither_(choice.dither) {}

    // One clip, decoded at `clip_rate`, into a file at `path`; `size` is the
    // size of the file written.
    // `seen`: what the caller saw under `path`, which the file need not ask.
    Error write_file(const std::string& path, const wav::Frame& frame, std::uint32_t clip_rate,
                     bool replace, NameSeen seen, std::uint64_t& size);

    // The same bytes to `out`; false with errno set when a write failed,
    // and `error` set when the clip could not be encoded.
    bool write_to(std::FILE* out, const wav::Frame& frame, std::uint32_t clip_rate, Error& error);

  private:
    // The clip at the output rate as a frame of 16-bit samples (for WAV).
    wav::Frame resampled_frame(const wav::Frame& frame, std::uint32_t clip_rate);

    sound::SoundFormat format_;
    std::uint32_t rate_;
    bool dither_;
    std::vector<float> resampled_;
    std::vector<std::int16_t> frame_buffer_;
    std::vector<std::uint8_t> encoded_;
};

} // namespace pev::cli::tool
