#include "cli/pev/sound_support.hpp"

#include "extraction/wav_output.hpp"
#include "pack/pack_inputs.hpp"
#include "wav/wav_writer.hpp"

#if PEV_HAS_SOUND
#include "sound/recording_converter.hpp"
#include "sound/resampler.hpp"
#include "sound/sound_file_writer.hpp"
#include "wav/quantiser.hpp"
#endif

#include <algorithm>
#include <cerrno>

namespace pev::cli::tool {
namespace {

// The rates --rate takes: from telephone speech to the highest studio rate.
constexpr std::uint32_t kLowestRate = 1000;
constexpr std::uint32_t kHighestRate = 768000;

#if PEV_HAS_SOUND
// The clip's samples as they are, or resampled into `resampled`.
sound::ClipSamples samples_of(const wav::Frame& frame, std::uint32_t clip_rate, std::uint32_t rate,
                              bool dither, std::vector<float>& resampled) {
    if (rate == clip_rate) {
        return {.exact = frame.samples(), .resampled = {}, .dither = dither};
    }
    resampled = sound::resample_clip(frame.samples(), clip_rate, rate);
    return {.exact = {}, .resampled = resampled, .dither = dither};
}
#endif

} // namespace

bool has_sound_files() {
    return PEV_HAS_SOUND != 0;
}

std::string lacking(const std::string& option) {
    return has_sound_files()
               ? ""
               : option + " needs libsndfile and libsoxr, which this build of pev lacks; it "
                          "reads and writes 16-bit mono WAV files only";
}

void add_rate_option(CLI::App& command, std::optional<std::uint32_t>& rate,
                     const std::string& description) {
    command.add_option("--rate", rate, description)->type_name("HZ");
}

void add_dither_option(CLI::App& command, bool& no_dither) {
    command.add_flag("--no-dither", no_dither,
                     "bring resampled samples to 16 bits by rounding alone, without dither");
}

std::string sound_options_problem(const std::optional<std::uint32_t>& rate, bool no_dither) {
    if (rate && !has_sound_files()) {
        return lacking("--rate");
    }
    if (no_dither && !has_sound_files()) {
        return lacking("--no-dither");
    }
    if (rate && (*rate < kLowestRate || *rate > kHighestRate)) {
        return "--rate takes " + std::to_string(kLowestRate) + " to " +
               std::to_string(kHighestRate) + " (Hz), not " + std::to_string(*rate);
    }
    return "";
}

namespace {

std::string format_list(std::string_view last_joint) {
    std::string text;
    for (std::size_t i = 0; i < sound::kSoundFormats.size(); ++i) {
        text += i == 0 ? "" : i + 1 == sound::kSoundFormats.size() ? last_joint : ", ";
        text += sound::kSoundFormats[i].name;
    }
    return text;
}

std::string rate_list(std::span<const std::uint32_t> rates) {
    std::string text;
    for (std::size_t i = 0; i < rates.size(); ++i) {
        text += i == 0 ? "" : i + 1 == rates.size() ? " or " : ", ";
        text += std::to_string(rates[i]);
    }
    return text;
}

} // namespace

std::string choose_output(const std::optional<std::string>& format,
                          const std::optional<std::string>& name_template,
                          const std::optional<std::uint32_t>& rate, bool no_dither,
                          OutputChoice& choice) {
    const sound::SoundFormatName* named =
        name_template ? sound::format_of_file_name(*name_template) : nullptr;
    if (format) {
        const sound::SoundFormatName* asked = sound::format_named(*format);
        if (asked == nullptr) {
            return "--format takes " + format_list(" or ") + ", not " + *format;
        }
        if (named != nullptr && named != asked) {
            return "--format " + *format + " does not go with --name " + *name_template +
                   ", whose extension says " + std::string(named->name);
        }
        choice.format = asked->format;
    } else if (named != nullptr) {
        choice.format = named->format;
    }
    const std::string format_name(sound::name_of(choice.format).name);
    if (choice.format != sound::SoundFormat::wav) {
        if (!has_sound_files()) {
            return lacking(format ? "--format " + *format : "writing " + format_name + " files");
        }
        if (!this_build_writes(choice.format)) {
            return "this build's libsndfile cannot write " + format_name + " files; it writes " +
                   writable_format_names();
        }
    }
    if (const std::string problem = sound_options_problem(rate, no_dither); !problem.empty()) {
        return problem;
    }
    const std::span<const std::uint32_t> rates = sound::fixed_rates(choice.format);
    if (rate && !rates.empty() && std::find(rates.begin(), rates.end(), *rate) == rates.end()) {
        return "--rate " + std::to_string(*rate) + ": " + format_name + " files take only " +
               rate_list(rates) + " Hz";
    }
    choice.rate = rate;
    choice.dither = !no_dither;
    return "";
}

std::uint32_t output_rate(const OutputChoice& choice, std::uint32_t clip_rate) {
    return choice.rate ? *choice.rate : sound::storable_rate(choice.format, clip_rate);
}

void report_conversion(const std::string& file, const pack::Conversion& conversion, bool verbose,
                       const Streams& io, const std::function<void()>& clear) {
    if (clear && (verbose || conversion.clipped > 0)) {
        clear();
    }
    if (verbose) {
        std::fprintf(io.out, "%s: %s\n", file.c_str(), conversion.description.c_str());
    }
    if (conversion.clipped > 0) {
        std::fprintf(io.err, "pev: warning: %s: %llu sample%s clipped at full scale\n",
                     file.c_str(), static_cast<unsigned long long>(conversion.clipped),
                     conversion.clipped == 1 ? " was" : "s were");
    }
}

std::unique_ptr<pack::InputConverter> make_input_converter([[maybe_unused]] bool dither) {
#if PEV_HAS_SOUND
    return std::make_unique<sound::RecordingConverter>(dither);
#else
    return nullptr;
#endif
}

std::span<const std::string_view> folder_extensions() {
    if (has_sound_files()) {
        return sound::kRecordingExtensions;
    }
    return pack::kWavExtensions;
}

bool this_build_writes(sound::SoundFormat format) {
#if PEV_HAS_SOUND
    return sound::can_write(format);
#else
    return format == sound::SoundFormat::wav;
#endif
}

std::string writable_format_names() {
    std::vector<std::string_view> names;
    for (const sound::SoundFormatName& row : sound::kSoundFormats) {
        if (this_build_writes(row.format)) {
            names.push_back(row.name);
        }
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += i == 0 ? "" : i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

Error ClipOutput::write_file(const std::string& path, const wav::Frame& frame,
                             std::uint32_t clip_rate, bool replace, NameSeen seen,
                             std::uint64_t& size) {
    if (format_ == sound::SoundFormat::wav) {
        const wav::Frame written = rate_ == clip_rate ? frame : resampled_frame(frame, clip_rate);
        size = written.file_size();
        return extraction::write_wav_file(path, written, rate_, replace, seen);
    }
#if PEV_HAS_SOUND
    return sound::write_sound_file(path, format_, rate_,
                                   samples_of(frame, clip_rate, rate_, dither_, resampled_),
                                   replace, &size, seen);
#else
    size = 0;
    return error_about(ErrorCode::cannot_write, path); // refused before any clip
#endif
}

bool ClipOutput::write_to(std::FILE* out, const wav::Frame& frame, std::uint32_t clip_rate,
                          Error& error) {
    if (format_ == sound::SoundFormat::wav) {
        const wav::Frame written = rate_ == clip_rate ? frame : resampled_frame(frame, clip_rate);
        errno = 0;
        return wav::write_file(out, written, 1, rate_);
    }
#if PEV_HAS_SOUND
    error = sound::encode_sound_file(
        format_, rate_, samples_of(frame, clip_rate, rate_, dither_, resampled_), encoded_);
    if (!error.ok()) {
        return true;
    }
    errno = 0;
    return std::fwrite(encoded_.data(), 1, encoded_.size(), out) == encoded_.size();
#else
    error = error_about(ErrorCode::cannot_write, "");
    return true;
#endif
}

wav::Frame ClipOutput::resampled_frame([[maybe_unused]] const wav::Frame& frame,
                                       [[maybe_unused]] std::uint32_t clip_rate) {
#if PEV_HAS_SOUND
    resampled_ = sound::resample_clip(frame.samples(), clip_rate, rate_);
    frame_buffer_.resize(wav::Frame::buffer_size(resampled_.size()));
    const wav::Frame resampled(frame_buffer_, resampled_.size());
    wav::Quantiser(dither_).quantise(resampled_, resampled.samples());
    return resampled;
#else
    return frame; // never asked for: --rate is refused first
#endif
}

} // namespace pev::cli::tool
