// pev replace: rewrites an archive with some clips taken from sound files
// (named one by one, or a folder of them named as extract names the clips)
// and every other clip copied as it is stored, in place or into a new
// archive; each new recording checked in length and, when asked, matched
// in loudness to the clip it replaces.

#include "cli/pev/command.hpp"
#include "cli/pev/loudness_support.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/named_archive.hpp"
#include "cli/pev/progress_line.hpp"
#include "cli/pev/replace_plan.hpp"
#include "cli/pev/replace_report.hpp"
#include "cli/pev/replacement_sources.hpp"
#include "cli/pev/sound_support.hpp"
#include "pack/clip_replacer.hpp"
#include "pack/wav_packer.hpp"
#include "platform/utf8_path.hpp"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>

namespace pev::cli::tool {
namespace {

struct ReplaceOptions {
    std::string archive;
    std::vector<std::string> pairs;  // N=FILE.wav
    std::optional<std::string> from; // --from DIR
    std::optional<std::string> name_template;
    bool ignore_unmatched = false;
    std::optional<std::string> output;
    bool force = false;
    Verbosity verbosity = Verbosity::normal;
    bool no_dither = false;
    bool match_loudness = false;
    LengthLimits limits;
    bool strict_length = false;
    bool dry_run = false;
    bool json = false;
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

// The clips the command line names, N=FILE first, then --from's files:
// false, after saying why, when a clip is named twice or a file of the
// folder names none (unless --ignore-unmatched).
int gather_sources(const ReplaceOptions& options, const std::vector<WrittenReplacement>& written,
                   const NamedArchive& archive, std::vector<ReplacementSource>& sources,
                   const Streams& io) {
    const archive::ArchiveReader& reader = archive.reader();
    const std::size_t count = reader.clip_count();
    for (const WrittenReplacement& pair : written) {
        if (pair.position == 0 || pair.position > count) {
            std::fprintf(io.err, "pev: there is no clip %zu: the archive holds %zu clip%s\n",
                         pair.position, count, count == 1 ? "" : "s");
            return kExitUsage;
        }
        sources.push_back({pair.position - 1, pair.file});
    }
    if (options.from && count == 0) {
        std::fprintf(io.err, "pev: %s holds no clips to replace\n", archive.path().c_str());
        return kExitUsage;
    }
    if (options.from) {
        NameTemplate names;
        if (options.name_template) {
            if (const std::string error = names.parse(*options.name_template); !error.empty()) {
                return usage_error("replace", error, io.err);
            }
        }
        FolderMatch match = match_folder(*options.from, reader, archive.base_name(), names);
        if (!match.error.empty()) {
            std::fprintf(io.err, "pev: %s\n", match.error.c_str());
            return kExitUsage;
        }
        for (const std::string& file : match.unmatched) {
            std::fprintf(io.err, "pev: %s%s: named after no clip of %s\n",
                         options.ignore_unmatched ? "warning: " : "", file.c_str(),
                         archive.path().c_str());
        }
        if (!match.unmatched.empty() && !options.ignore_unmatched) {
            std::fprintf(io.err,
                         "pev: nothing was written: name %s as extract names the clips "
                         "(%s), or give --ignore-unmatched to leave %s aside\n",
                         match.unmatched.size() == 1 ? "it" : "them",
                         names.expand(archive.base_name(), 1, reader.row(0).id).c_str(),
                         match.unmatched.size() == 1 ? "it" : "them");
            return kExitUsage;
        }
        sources.insert(sources.end(), match.matched.begin(), match.matched.end());
    }
    if (sources.empty()) {
        return usage_error("replace",
                           options.from.value_or("") + " holds no file named after a clip", io.err);
    }
    std::map<std::size_t, const std::string*> named;
    for (const ReplacementSource& source : sources) {
        const auto [first, added] = named.emplace(source.index, &source.file);
        if (!added) {
            return usage_error("replace",
                               clip_label(source.index, reader.row(source.index).id) +
                                   " is given twice: " + *first->second + " and " + source.file,
                               io.err);
        }
    }
    return kExitOk;
}

// Prints the warnings of the plan, and with --strict-length refuses the
// recordings out of bounds: false then.
bool judge_plan(const std::vector<PlannedClip>& plan, const ReplaceOptions& options,
                const ReplaceReportContext& context, const Streams& io) {
    std::size_t out_of_bounds = 0;
    for (const PlannedClip& planned : plan) {
        const std::string label = clip_label(planned.index, planned.id);
        if (const std::string problem = length_problem(planned, context); !problem.empty()) {
            ++out_of_bounds;
            std::fprintf(io.err, "pev: %s%s: %s\n",
                         options.strict_length ? "" : "warning: ", label.c_str(), problem.c_str());
        }
        if (!options.dry_run) {
            for (const std::string& warning : match_warnings(planned, context)) {
                std::fprintf(io.err, "pev: warning: %s: %s\n", label.c_str(), warning.c_str());
            }
        }
    }
    if (options.strict_length && out_of_bounds > 0) {
        std::fprintf(io.err,
                     "pev: nothing was %s: %zu recording%s out of the bounds of length "
                     "(--strict-length)\n",
                     options.dry_run ? "to be written" : "written", out_of_bounds,
                     out_of_bounds == 1 ? " is" : "s are");
        return false;
    }
    return true;
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
    std::vector<ReplacementSource> sources;
    if (const int status = gather_sources(options, written, *archive, sources, io);
        status != kExitOk) {
        return status;
    }
    pack::ReplaceRequest request;
    for (const ReplacementSource& source : sources) {
        request.replacements.push_back({source.index, source.file});
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
    request.dither = !options.no_dither;

    // Every recording read once before anything is written: its length,
    // and its loudness where asked for.
    PlanOptions planning;
    planning.limits = options.limits;
    planning.match = options.match_loudness;
    planning.dither = !options.no_dither;
    planning.measure = options.match_loudness || (options.dry_run && has_loudness());
    planning.converter = converter.get();
    std::vector<PlannedClip> plan(request.replacements.size());
    std::map<std::size_t, const PlannedClip*> planned_clip;
    {
        // Hundreds of recordings, each measured, take a while.
        ProgressLine reading(io.err, plan.size(),
                             options.verbosity != Verbosity::quiet && !options.json);
        for (std::size_t i = 0; i < plan.size(); ++i) {
            pack::Replacement& replacement = request.replacements[i];
            if (const Error error = plan_clip(archive->reader(), replacement.index,
                                              replacement.file, planning, plan[i]);
                !error.ok()) {
                reading.clear();
                return report(error, io.err);
            }
            replacement.gain = plan[i].gain();
            reading.advance(0);
        }
    }
    std::sort(plan.begin(), plan.end(),
              [](const PlannedClip& a, const PlannedClip& b) { return a.index < b.index; });
    for (const PlannedClip& planned : plan) {
        planned_clip[planned.index] = &planned;
    }
    const ReplaceReportContext context{archive->reader().sample_rate(), options.limits,
                                       planning.measure, options.match_loudness};
    ReplaceSummary summary{
        request.source, request.output, options.dry_run, false, archive->reader().clip_count(),
        std::nullopt};
    const bool within_bounds = judge_plan(plan, options, context, io);
    if (!within_bounds || options.dry_run) {
        if (options.json) {
            std::fprintf(io.out, "%s\n", plan_json(plan, context, summary).c_str());
        } else if (options.dry_run) {
            print_plan_table(plan, context, io.out);
            const std::size_t count = archive->reader().clip_count();
            std::fprintf(io.out, "Would replace %zu of %zu clip%s %s; nothing was written\n",
                         plan.size(), count, count == 1 ? "" : "s",
                         options.output
                             ? ("of " + request.source + " into " + request.output).c_str()
                             : ("in " + request.source).c_str());
        }
        return within_bounds ? kExitOk : kExitFailed;
    }

    const bool quiet = options.verbosity == Verbosity::quiet || options.json;
    const bool verbose = options.verbosity == Verbosity::verbose && !options.json;
    pack::ReplaceProgress progress;
    progress.converted = [&](const std::string& file, const pack::Conversion& conversion) {
        report_conversion(file, conversion, verbose, io);
    };
    progress.warning = [&io](const std::string& file, const std::string& warning) {
        std::fprintf(io.err, "pev: warning: %s: %s\n", file.c_str(), warning.c_str());
    };
    progress.replaced = [&](std::size_t index, std::uint16_t id, const std::string& file,
                            const pack::ClipSummary& clip) {
        if (!quiet) {
            std::fprintf(io.out, "Replaced: %s with %s %s%s\n", clip_label(index, id).c_str(),
                         file.c_str(), pack::clip_figures(clip).c_str(),
                         replaced_suffix(*planned_clip.at(index), context, verbose).c_str());
        }
    };
    if (verbose) {
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
    if (options.json) {
        summary.written = true;
        summary.archive_bytes = outcome.archive_bytes;
        std::fprintf(io.out, "%s\n", plan_json(plan, context, summary).c_str());
    } else if (!quiet) {
        const std::string where = options.output
                                      ? "of " + request.source + " into " + request.output
                                      : "in " + request.source;
        std::fprintf(io.out, "Replaced %zu of %zu clip%s %s: %llu bytes\n", outcome.replaced,
                     outcome.clips, outcome.clips == 1 ? "" : "s", where.c_str(),
                     static_cast<unsigned long long>(outcome.archive_bytes));
    }
    return kExitOk;
}

// "10" or "10%", a share of a clip's length from 0 on.
std::string read_percent(const std::string& option, const std::optional<std::string>& text,
                         std::optional<double>& percent) {
    if (!text) {
        return "";
    }
    std::string number = *text;
    if (!number.empty() && number.back() == '%') {
        number.pop_back();
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc{} || end != number.data() + number.size() ||
        !std::isfinite(value) || value < 0.0) {
        return option +
               " takes a percentage of the clip's length from 0 on, such as 10 or "
               "25%, not " +
               *text;
    }
    percent = value;
    return "";
}

constexpr const char* kReplaceFooter =
    "Clip N is counted from 1, as the extracted files are numbered. With --from,\n"
    "each sound file of DIR named as extract names a clip (BASE_0002.flac, or\n"
    "after --name) replaces that clip. Every clip not replaced is copied as it is\n"
    "stored, and the entry ids are kept. A recording longer than its clip by more\n"
    "than --max-longer (or shorter by more than --max-shorter) is named;\n"
    "--strict-length refuses it. Without -o the archive itself is replaced, only\n"
    "once the new one is complete.";

class ReplaceCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        ReplaceOptions& o = options_;
        positional(command, "ARCHIVE", o.archive, "the archive")->required();
        positional(command, "N=FILE", o.pairs,
                   "clip N replaced by a sound file, resampled to the archive's rate "
                   "(without sound support: a 16-bit mono WAV file at that rate)");
        command
            .add_option("--from", o.from,
                        "replace each clip by the sound file of DIR named as extract names it")
            ->type_name("DIR");
        command
            .add_option("--name", o.name_template,
                        "with --from: the files are named after TEMPLATE, as extract's --name")
            ->type_name("TEMPLATE");
        command.add_flag("--ignore-unmatched", o.ignore_unmatched,
                         "with --from: leave aside the files named after no clip");
        command.add_flag("--match-loudness", o.match_loudness,
                         "give each recording the loudness of the clip it replaces");
        command
            .add_option("--max-longer", max_longer_,
                        "name a recording longer than its clip by more than PCT% (default 10)")
            ->type_name("PCT");
        command
            .add_option("--max-shorter", max_shorter_,
                        "name a recording shorter than its clip by more than PCT%")
            ->type_name("PCT");
        command.add_flag("--strict-length", o.strict_length,
                         "refuse, rather than name, a recording out of those bounds");
        command.add_flag("--dry-run", o.dry_run,
                         "print what would change, clip by clip; write nothing");
        command.add_flag("--json", o.json, "say what was done in one JSON document, for scripts");
        command.add_option("-o,--output", o.output, "write OUT.pev instead of replacing ARCHIVE")
            ->type_name("OUT");
        command.add_flag("--force", o.force, "replace OUT.pev if it exists");
        add_dither_option(command, o.no_dither);
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
        if (const std::string error = options_problem(); !error.empty()) {
            return usage_error("replace", error, io.err);
        }
        options_.verbosity = *verbosity;
        return replace(options_, io);
    }

  private:
    std::string options_problem() {
        ReplaceOptions& o = options_;
        if (o.pairs.empty() && !o.from) {
            return "give the clips to replace: N=FILE, or --from DIR";
        }
        if (!o.from && (o.name_template || o.ignore_unmatched)) {
            return std::string(o.name_template ? "--name" : "--ignore-unmatched") +
                   " goes with --from DIR";
        }
        if (o.from) {
            std::error_code error;
            if (!std::filesystem::is_directory(path_from_utf8(*o.from), error)) {
                return "--from " + *o.from + ": there is no such folder";
            }
        }
        if (const std::string error = sound_options_problem(std::nullopt, o.no_dither);
            !error.empty()) {
            return error;
        }
        if (o.match_loudness && !has_loudness()) {
            return lacking_loudness("--match-loudness");
        }
        if (const std::string error = read_percent("--max-longer", max_longer_, o.limits.longer);
            !error.empty()) {
            return error;
        }
        return read_percent("--max-shorter", max_shorter_, o.limits.shorter);
    }

    ReplaceOptions options_;
    std::optional<std::string> max_longer_;
    std::optional<std::string> max_shorter_;
    std::size_t quiet_ = 0;
    std::size_t verbose_ = 0;
};

} // namespace

std::unique_ptr<Command> make_replace_command() {
    return std::make_unique<ReplaceCommand>();
}

} // namespace pev::cli::tool
