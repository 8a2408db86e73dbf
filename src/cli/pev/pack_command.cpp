// pev pack: the packing engine behind Wav2pev, with folders as inputs.

#include "cli/pack_messages.hpp"
#include "cli/pev/command.hpp"
#include "cli/pev/named_archive.hpp"
#include "cli/pev/progress_line.hpp"
#include "cli/pev/sound_support.hpp"
#include "common/name_order.hpp"
#include "pack/pack_inputs.hpp"
#include "pack/wav_packer.hpp"
#include "platform/files.hpp"
#include "platform/utf8_path.hpp"
#include "platform/wildcards.hpp"

#include <filesystem>
#include <system_error>

namespace pev::cli::tool {
namespace {

struct PackOptions {
    std::string output;
    std::vector<std::string> inputs;
    std::optional<std::string> like;
    bool force = false;
    Verbosity verbosity = Verbosity::normal; // -q: errors and warnings only
    std::optional<std::uint32_t> rate;       // --rate: every clip resampled to it
    bool no_dither = false;
};

// True for a file that begins with "RIFF" and ends before the 12 bytes a
// RIFF header takes, which the WAV reader calls "not a RIFF file".
bool is_cut_short_riff(const std::string& name) {
    // Only a plain file is opened again: a named pipe would wait for a
    // writer, or for bytes that never come.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path_from_utf8(name), error)) {
        return false;
    }
    std::FILE* file = open_for_reading(name);
    if (file == nullptr) {
        return false;
    }
    char start[12];
    const std::size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    return got >= 4 && got < sizeof start && std::string_view(start, 4) == "RIFF";
}

// Wav2pev's words ("NAME: REASON"), where pev words two cases better
// without changing what Wav2pev prints.
std::string pack_problem_text(const Error& error) {
    if (error.code == ErrorCode::wav_refused && is_cut_short_riff(error.subject)) {
        return error.subject + ": it is cut short inside its 12-byte RIFF header";
    }
    if (error.code == ErrorCode::rate_mismatch && has_sound_files()) {
        return error.subject + ": its sample rate is " + std::to_string(error.value) +
               " Hz, but the clips before it are at " + std::to_string(error.limit) +
               " Hz; give --rate R to resample every input to one rate";
    }
    if (error.code == ErrorCode::folder_without_wavs && has_sound_files()) {
        std::string extensions;
        for (const std::string_view extension : folder_extensions()) {
            extensions += (extensions.empty() ? "" : " ") + std::string(extension);
        }
        return error.subject + ": it holds no sound files (" + extensions + ")";
    }
    if (error.code == ErrorCode::like_count_mismatch) {
        return error.subject + ": it holds " + std::to_string(error.value) + " clip" +
               (error.value == 1 ? "" : "s") + ", but " + std::to_string(error.limit) +
               (error.limit == 1 ? " is" : " are") + " being packed";
    }
    return pack_error_text(error);
}

int report(const Error& error, std::FILE* err) {
    std::fprintf(err, "pev: %s\n", pack_problem_text(error).c_str());
    return kExitFailed;
}

// OUT is named with or without .pev, as archives are everywhere else.
std::string output_path(const std::string& name) {
    return has_pev_extension(name) ? name : name + ".pev";
}

// What OUT must not be named: an input's name, which it would take for
// the archive's.
std::string input_kind(const std::string& name) {
    if (ends_with_ignoring_case(name, ".wav")) {
        return "a WAV file";
    }
    for (const std::string_view extension : folder_extensions()) {
        if (ends_with_ignoring_case(name, extension)) {
            return "a sound file";
        }
    }
    return "";
}

// Makes OUT's folder when it is missing, as extract -o does; `made` is the
// folder this run made, to be removed again when nothing was packed.
bool make_folder_of(const std::string& archive, std::string& made, std::FILE* err) {
    const std::string folder = folder_of(archive);
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(path_from_utf8(folder), error)) {
        return true;
    }
    if (!std::filesystem::create_directories(path_from_utf8(folder), error) && error) {
        std::fprintf(err, "pev: %s: cannot make the folder: %s\n", folder.c_str(),
                     error.message().c_str());
        return false;
    }
    made = folder;
    return true;
}

int pack(const PackOptions& options, const Streams& io) {
    if (const std::string kind = input_kind(options.output); !kind.empty()) {
        // `pev pack x.wav a.wav` would pack a.wav alone into x.wav.pev.
        return usage_error("pack",
                           "the archive to write comes first, and " + options.output + " is " +
                               kind + "; name the archive, as in pev pack OUT.pev " +
                               options.output,
                           io.err);
    }
    pack::InputList inputs =
        pack::expand_inputs(with_wildcards_expanded(options.inputs), folder_extensions());
    if (!inputs.error.ok()) {
        return report(inputs.error, io.err);
    }
    pack::PackRequest request;
    request.archive = output_path(options.output);
    request.inputs = std::move(inputs.files);
    if (options.like) {
        request.like = resolve_archive_path(*options.like);
    }
    request.force = options.force;
    request.rate = options.rate.value_or(0);
    const std::unique_ptr<pack::InputConverter> converter =
        make_input_converter(!options.no_dither);
    request.converter = converter.get();

    pack::PackProgress progress;
    progress.warning = [&io](const std::string& file, const std::string& warning) {
        std::fprintf(io.err, "pev: warning: %s: %s\n", file.c_str(), warning.c_str());
    };
    // As extract has it: a progress line on a terminal, a line per file
    // with -v, the summary unless -q.
    ProgressLine line(io.err, request.inputs.size(), options.verbosity != Verbosity::quiet);
    progress.converted = [&](const std::string& file, const pack::Conversion& conversion) {
        report_conversion(file, conversion, options.verbosity == Verbosity::verbose, io,
                          [&line] { line.clear(); });
    };
    progress.packed = [&](const std::string& file, const pack::ClipSummary& clip) {
        if (options.verbosity == Verbosity::verbose) {
            line.clear();
            std::fprintf(io.out, "%s\n", pack::packed_clip_line(file, clip).c_str());
        }
        line.advance(clip.stored_bytes);
    };
    std::string made_folder;
    if (!make_folder_of(request.archive, made_folder, io.err)) {
        return kExitFailed;
    }
    const pack::PackOutcome outcome = pack::pack_wav_files(request, progress);
    line.clear();
    if (!outcome.ok()) {
        if (!made_folder.empty()) {
            // Nothing was packed into it: the run leaves no trace.
            std::error_code ignored;
            std::filesystem::remove(path_from_utf8(made_folder), ignored);
        }
        return report(outcome.error, io.err);
    }
    if (options.verbosity != Verbosity::quiet) {
        std::fprintf(io.out, "%s\n", pack::packed_archive_line(request.archive, outcome).c_str());
    }
    return kExitOk;
}

class PackCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        positional(command, "OUT.pev", options_.output, "the archive to write")->required();
        positional(command, "INPUT", options_.inputs,
                   "sound files, and folders whose sound files are taken in name order "
                   "(clip2 before clip10)")
            ->required();
        command
            .add_option("--like", options_.like,
                        "keep the entry ids and unused header bytes of ARCHIVE")
            ->type_name("ARCHIVE");
        command.add_flag("--force", options_.force, "replace OUT.pev if it exists");
        add_rate_option(command, options_.rate,
                        "resample every input to HZ (default: the rate all inputs share)");
        add_dither_option(command, options_.no_dither);
        command.add_flag("-q,--quiet", quiet_, "print no summary line");
        command.add_flag("-v,--verbose", verbose_, "print a line per packed file");
    }
    int run(const Streams& io) override {
        const std::optional<Verbosity> verbosity = verbosity_of("pack", quiet_, verbose_, io.err);
        if (!verbosity) {
            return kExitUsage;
        }
        if (const std::string error = sound_options_problem(options_.rate, options_.no_dither);
            !error.empty()) {
            return usage_error("pack", error, io.err);
        }
        options_.verbosity = *verbosity;
        return pack(options_, io);
    }

  private:
    PackOptions options_;
    std::size_t quiet_ = 0;
    std::size_t verbose_ = 0;
};

} // namespace

std::unique_ptr<Command> make_pack_command() {
    return std::make_unique<PackCommand>();
}

} // namespace pev::cli::tool
