// pev replace: rewrites an archive with some clips taken from WAV files and
// every other clip copied as it is stored, in place or into a new archive.

#include "cli/pev/command.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/named_archive.hpp"
#include "cli/pev/sound_support.hpp"
#include "pack/clip_replacer.hpp"
#include "pack/wav_packer.hpp"
#include "platform/utf8_path.hpp"

#include <charconv>
#include <filesystem>
#include <limits>
#include <set>

namespace pev::cli::tool {
namespace {

struct ReplaceOptions {
    std::string archive;
    std::vector<std::string> pairs; // N=FILE.wav
    std::optional<std::string> output;
    bool force = false;
    Verbosity verbosity = Verbosity::normal;
    bool no_dither = false;
};

// A position as written, before the archive says how many clips it holds.
struct WrittenReplacement {
    std::size_t position = 0; // counted from 1; too large ones saturate
    std::string file;
};

// Reads "N=FILE.wav"; an empty string is left in `error` when it is good.
WrittenReplacement read_pair(const std::string& pair, std::string& error) {
    WrittenReplacement written;
    const std::size_t equals = pair.find('=');
    const std::string_view number = std::string_view(pair).substr(0, equals);
    if (equals == std::string::npos || number.empty() || equals + 1 == pair.size() ||
        number.find_first_not_of("0123456789") != std::string_view::npos) {
        error = "\"" + pair + "\" is not N=FILE.wav (a clip number, then the WAV file)";
        return written;
    }
    if (std::from_chars(number.data(), number.data() + number.size(), written.position).ec !=
        std::errc{}) {
        written.position = std::numeric_limits<std::size_t>::max();
    }
    written.file = pair.substr(equals + 1);
    return written;
}

std::string output_path(const std::string& name) {
    return has_pev_extension(name) ? name : name + ".pev";
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(path_from_utf8(a), path_from_utf8(b), error) && !error;
}

std::string uncopyable_text(const Error& error) {
    const ClipRef clip = error.clip.value_or(ClipRef{});
    return clip_label(clip.index, clip.id) +
           " cannot be copied: " + clip_problem_text(error.problem) + "; replace it too";
}

int report(const Error& error, std::FILE* err) {
    std::string text;
    if (error.code == ErrorCode::clip_refused && error.clip) {
        text = uncopyable_text(error);
    } else if (error.code == ErrorCode::cannot_read && error.clip) {
        // The archive changed while it was read (cut short, say).
        text = error.subject + ": " + clip_label(error.clip->index, error.clip->id) +
               " cannot be read: " + (error.os ? error.os.message() : "the file ends before it");
    } else {
        text = replacement_refusal_text(error);
    }
    std::fprintf(err, "pev: %s\n", text.c_str());
    return kExitFailed;
}

int replace(const ReplaceOptions& options, const Streams& io) {
    std::vector<WrittenReplacement> written;
    for (const std::string& pair : options.pairs) {
        std::string error;
        written.push_back(read_pair(pair, error));
        if (!error.empty()) {
            return usage_error("replace", error, io.err);
        }
    }
    auto archive = NamedArchive::open(options.archive, io.err);
    if (!archive) {
        return kExitFailed;
    }
    const std::size_t count = archive->reader().clip_count();
    pack::ReplaceRequest request;
    std::set<std::size_t> seen;
    for (const WrittenReplacement& pair : written) {
        if (pair.position == 0 || pair.position > count) {
            std::fprintf(io.err, "pev: there is no clip %zu: the archive holds %zu clip%s\n",
                         pair.position, count, count == 1 ? "" : "s");
            return kExitUsage;
        }
        if (!seen.insert(pair.position).second) {
            return usage_error("replace",
                               "clip " + std::to_string(pair.position) + " is given twice", io.err);
        }
        request.replacements.push_back({pair.position - 1, pair.file});
    }
    request.source = archive->path();
    request.output = options.output ? output_path(*options.output) : archive->path();
    request.replace = !options.output || options.force;
    if (options.output && same_file(request.output, request.source)) {
        return usage_error("replace",
                           "-o " + request.output +
                               " is the archive being read; leave -o out to replace it in place",
                           io.err);
    }
    const std::vector<Error> uncopyable =
        pack::clips_that_cannot_be_copied(archive->reader(), request.replacements);
    for (const Error& error : uncopyable) {
        report(error, io.err);
    }
    if (!uncopyable.empty()) {
        return kExitFailed;
    }

    const std::unique_ptr<pack::InputConverter> converter =
        make_input_converter(!options.no_dither);
    request.converter = converter.get();
    const bool quiet = options.verbosity == Verbosity::quiet;
    pack::ReplaceProgress progress;
    progress.converted = [&](const std::string& file, const pack::Conversion& conversion) {
        report_conversion(file, conversion, options.verbosity == Verbosity::verbose, io);
    };
    progress.warning = [&io](const std::string& file, const std::string& warning) {
        std::fprintf(io.err, "pev: warning: %s: %s\n", file.c_str(), warning.c_str());
    };
    progress.replaced = [&](std::size_t index, std::uint16_t id, const std::string& file,
                            const pack::ClipSummary& clip) {
        if (!quiet) {
            std::fprintf(io.out, "Replaced: %s with %s %s\n", clip_label(index, id).c_str(),
                         file.c_str(), pack::clip_figures(clip).c_str());
        }
    };
    if (options.verbosity == Verbosity::verbose) {
        progress.copied = [&io](std::size_t index, std::uint16_t id,
                                const pack::ClipSummary& clip) {
            std::fprintf(io.out, "Copied: %s as stored %s\n", clip_label(index, id).c_str(),
                         pack::clip_figures(clip).c_str());
        };
    }
    request.done_reading = [&archive] { archive.reset(); };
    const pack::ReplaceOutcome outcome = pack::replace_clips(archive->reader(), request, progress);
    if (!outcome.ok()) {
        return report(outcome.error, io.err);
    }
    if (!quiet) {
        const std::string where = options.output
                                      ? "of " + request.source + " into " + request.output
                                      : "in " + request.source;
        std::fprintf(io.out, "Replaced %zu of %zu clip%s %s: %llu bytes\n", outcome.replaced,
                     outcome.clips, outcome.clips == 1 ? "" : "s", where.c_str(),
                     static_cast<unsigned long long>(outcome.archive_bytes));
    }
    return kExitOk;
}

constexpr const char* kReplaceFooter =
    "Clip N is counted from 1, as the extracted files are numbered. Every clip\n"
    "not replaced is copied as it is stored, and the entry ids are kept. Without\n"
    "-o the archive itself is replaced, only once the new one is complete.";

class ReplaceCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        positional(command, "ARCHIVE", options_.archive, "the archive")->required();
        positional(command, "N=FILE", options_.pairs,
                   "clip N replaced by a sound file, resampled to the archive's rate "
                   "(without sound support: a 16-bit mono WAV file at that rate)")
            ->required();
        command
            .add_option("-o,--output", options_.output,
                        "write OUT.pev instead of replacing ARCHIVE")
            ->type_name("OUT");
        command.add_flag("--force", options_.force, "replace OUT.pev if it exists");
        add_dither_option(command, options_.no_dither);
        command.add_flag("-q,--quiet", quiet_, "print nothing but errors");
        command.add_flag("-v,--verbose", verbose_, "print a line per clip");
        command.footer(kReplaceFooter);
    }

    int run(const Streams& io) override {
        const std::optional<Verbosity> verbosity =
            verbosity_of("replace", quiet_, verbose_, io.err);
        if (!verbosity) {
            return kExitUsage;
        }
        if (const std::string error = sound_options_problem(std::nullopt, options_.no_dither);
            !error.empty()) {
            return usage_error("replace", error, io.err);
        }
        options_.verbosity = *verbosity;
        return replace(options_, io);
    }

  private:
    ReplaceOptions options_;
    std::size_t quiet_ = 0;
    std::size_t verbose_ = 0;
};

} // namespace

std::unique_ptr<Command> make_replace_command() {
    return std::make_unique<ReplaceCommand>();
}

} // namespace pev::cli::tool
