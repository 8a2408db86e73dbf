#include "cli/pev/replace_report.hpp"

#include "cli/pev/json_path.hpp"
#include "cli/pev/loudness_support.hpp"
#include "cli/pev/named_archive.hpp"
#include "cli/pev/sizes.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pev::cli::tool {
namespace {

using Json = JsonWithNames::Json;
using loudness::LevelMatch;
using loudness::MatchBasis;
using loudness::MatchProblem;

std::string number_text(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    // A change that rounds to nothing shows as such, not as "-0.0".
    if (text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1)) {
        return text + 1;
    }
    return text;
}

std::string seconds_text(std::uint64_t samples, std::uint32_t rate) {
    return number_text("%.3f", seconds_of(samples, rate));
}

// "--max-longer 10%".
std::string limit_text(const char* option, double limit) {
    return std::string(option) + " " + number_text("%g", limit) + "%";
}

// What the match reached: "-23.1 LUFS", "a speech level of -20.1 dBFS".
std::string reached_text(const LevelMatch& match) {
    return match.basis == MatchBasis::integrated
               ? level_text(match.reached) + " LUFS"
               : "a speech level of " + level_text(match.reached) + " dBFS";
}

bool matched(const PlannedClip& planned) {
    return planned.match && planned.match->basis != MatchBasis::none;
}

// Why a match was asked for and none made.
const char* why_not_matched(const PlannedClip& planned) {
    if (!planned.clip_known) {
        return "the clip it replaces cannot be decoded";
    }
    if (planned.match && planned.match->problem == MatchProblem::clip_silent) {
        return "the clip it replaces is silent";
    }
    return "it is silent";
}

constexpr const char* kByspeech = "too short or quiet for an integrated loudness";

// The notes of one row of the table.
std::string table_notes(const PlannedClip& planned, const ReplaceReportContext& context,
                        bool matching) {
    std::vector<std::string> notes;
    if (!planned.clip_known) {
        notes.emplace_back("the clip cannot be decoded");
    } else if (planned.length == LengthVerdict::longer) {
        notes.push_back(planned.old_samples == 0
                            ? "the clip is empty"
                            : "longer than " + limit_text("--max-longer", *context.limits.longer));
    } else if (planned.length == LengthVerdict::shorter) {
        notes.push_back("shorter than " + limit_text("--max-shorter", *context.limits.shorter));
    }
    if (matched(planned) && planned.match->basis == MatchBasis::speech) {
        notes.push_back(std::string("matched by speech level: ") + kByspeech);
    }
    if (matched(planned) && planned.match->limited()) {
        notes.push_back("gain limited from " + gain_text(planned.match->wanted_db) +
                        ": more would clip");
    }
    if (matching && planned.clip_known && !matched(planned)) {
        notes.push_back(std::string("not matched: ") + why_not_matched(planned));
    }
    std::string text;
    for (const std::string& note : notes) {
        text += (text.empty() ? "" : "; ") + note;
    }
    return text;
}

// Levels and gains to a thousandth of a dB, finer than any meter agrees.
double thousandths(double value) {
    const double rounded = std::round(value * 1000.0) / 1000.0;
    return rounded == 0.0 ? 0.0 : rounded;
}

Json optional_level(const std::optional<double>& value) {
    return value ? Json(thousandths(*value)) : Json(nullptr);
}

Json optional_number(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json loudness_object(const std::optional<loudness::ClipLoudness>& measured) {
    if (!measured) {
        return nullptr;
    }
    return {
        {"integrated_lufs", optional_level(measured->integrated)},
        {"speech_rms_dbfs", optional_level(measured->speech_rms)},
        {"sample_peak_dbfs", optional_level(measured->peak_dbfs())},
    };
}

const char* basis_code(MatchBasis basis) {
    switch (basis) {
    case MatchBasis::integrated:
        return "integrated";
    case MatchBasis::speech:
        return "speech_rms";
    case MatchBasis::none:
        break;
    }
    return nullptr;
}

Json match_object(const PlannedClip& planned, bool matching) {
    if (!matching) {
        return nullptr;
    }
    if (!matched(planned)) {
        return {{"matched", false}, {"reason", why_not_matched(planned)}};
    }
    const LevelMatch& match = *planned.match;
    return {
        {"matched", true},
        {"basis", basis_code(match.basis)},
        {"target", thousandths(match.target)},
        {"reached", thousandths(match.reached)},
        {"wanted_gain_db", thousandths(match.wanted_db)},
        {"gain_db", thousandths(match.gain_db)},
        {"limited", match.limited()},
    };
}

const char* length_code(LengthVerdict verdict) {
    switch (verdict) {
    case LengthVerdict::longer:
        return "longer";
    case LengthVerdict::shorter:
        return "shorter";
    case LengthVerdict::within:
        break;
    }
    return "within";
}

} // namespace

std::string length_problem(const PlannedClip& planned, const ReplaceReportContext& context) {
    const std::string now = planned.file + " is " + seconds_text(planned.new_samples, context.rate);
    switch (planned.length) {
    case LengthVerdict::within:
        return "";
    case LengthVerdict::longer:
        if (planned.old_samples == 0) {
            return now + " s, and the clip it replaces is empty";
        }
        return now + " s, " + number_text("%.1f", *planned.change_percent) +
               "% longer than the clip's " + seconds_text(planned.old_samples, context.rate) +
               " s (" + limit_text("--max-longer", *context.limits.longer) + ")";
    case LengthVerdict::shorter:
        return now + " s, " + number_text("%.1f", -*planned.change_percent) +
               "% shorter than the clip's " + seconds_text(planned.old_samples, context.rate) +
               " s (" + limit_text("--max-shorter", *context.limits.shorter) + ")";
    }
    return "";
}

std::vector<std::string> match_warnings(const PlannedClip& planned,
                                        const ReplaceReportContext& context) {
    std::vector<std::string> warnings;
    if (!context.matching) {
        return warnings;
    }
    if (!matched(planned)) {
        warnings.push_back(planned.file +
                           " is taken at its own level: " + why_not_matched(planned));
    } else if (planned.match->limited()) {
        const LevelMatch& match = *planned.match;
        warnings.push_back(planned.file + " is raised by " + gain_text(match.gain_db) +
                           ", not the " + gain_text(match.wanted_db) + " that would match " +
                           (match.basis == MatchBasis::integrated
                                ? level_text(match.target) + " LUFS"
                                : "a speech level of " + level_text(match.target) + " dBFS") +
                           ", so that no sample clips");
    }
    return warnings;
}

std::string replaced_suffix(const PlannedClip& planned, const ReplaceReportContext& context,
                            bool verbose) {
    std::string text;
    if (matched(planned)) {
        text +=
            "; gain " + gain_text(planned.match->gain_db) + " to " + reached_text(*planned.match);
        if (planned.match->basis == MatchBasis::speech) {
            text += std::string(" (") + kByspeech + ")";
        }
    }
    if (verbose) {
        text += "; " + seconds_text(planned.new_samples, context.rate) + " s";
        if (!planned.clip_known) {
            text += ", the clip's length unknown";
        } else if (planned.old_samples == 0) {
            text += " for an empty clip";
        } else {
            text += " for " + seconds_text(planned.old_samples, context.rate) + " s (" +
                    number_text("%+.1f", *planned.change_percent) + "%)";
        }
    }
    return text;
}

void print_plan_table(const std::vector<PlannedClip>& plan, const ReplaceReportContext& context,
                      std::FILE* out) {
    const bool loudness = context.loudness_measured;
    const bool matching = context.matching;
    if (loudness) {
        std::fprintf(out, "%-4s %6s %9s %9s %8s %9s %9s %9s  %s\n", "clip", "id", "old s", "new s",
                     "change", "old LUFS", "new LUFS", "gain", "file");
    } else {
        std::fprintf(out, "%-4s %6s %9s %9s %8s  %s\n", "clip", "id", "old s", "new s", "change",
                     "file");
    }
    for (const PlannedClip& planned : plan) {
        char position[16];
        std::snprintf(position, sizeof position, "%04zu", planned.index + 1);
        const std::string old_seconds =
            planned.clip_known ? seconds_text(planned.old_samples, context.rate) : "-";
        const std::string change = planned.change_percent
                                       ? number_text("%+.1f", *planned.change_percent) + "%"
                                       : std::string("-");
        const std::string notes = table_notes(planned, context, matching);
        const std::string file = planned.file + (notes.empty() ? "" : "  (" + notes + ")");
        const std::string new_seconds = seconds_text(planned.new_samples, context.rate);
        if (!loudness) {
            std::fprintf(out, "%-4s %6u %9s %9s %8s  %s\n", position, unsigned{planned.id},
                         old_seconds.c_str(), new_seconds.c_str(), change.c_str(), file.c_str());
            continue;
        }
        const auto integrated = [](const std::optional<loudness::ClipLoudness>& measured) {
            return measured ? measured->integrated : std::nullopt;
        };
        std::optional<double> new_level = integrated(planned.new_loudness);
        if (new_level && matched(planned)) {
            *new_level += planned.match->gain_db;
        }
        const std::string gain = matched(planned) ? gain_text(planned.match->gain_db) : "-";
        std::fprintf(out, "%-4s %6u %9s %9s %8s %9s %9s %9s  %s\n", position, unsigned{planned.id},
                     old_seconds.c_str(), new_seconds.c_str(), change.c_str(),
                     level_text(integrated(planned.old_loudness)).c_str(),
                     level_text(new_level).c_str(), gain.c_str(), file.c_str());
    }
}

std::string plan_json(const std::vector<PlannedClip>& plan, const ReplaceReportContext& context,
                      const ReplaceSummary& summary) {
    JsonWithNames names;
    const bool matching = context.matching;
    Json clips = Json::array();
    for (const PlannedClip& planned : plan) {
        const auto known = [&](std::uint64_t samples) {
            return planned.clip_known ? Json(samples) : Json(nullptr);
        };
        clips.push_back({
            {"position", planned.index + 1},
            {"id", planned.id},
            {"file", names.name(planned.file)},
            {"conversion", planned.conversion.empty() ? Json(nullptr) : Json(planned.conversion)},
            {"old_samples", known(planned.old_samples)},
            {"new_samples", planned.new_samples},
            {"old_seconds", planned.clip_known ? Json(seconds_of(planned.old_samples, context.rate))
                                               : Json(nullptr)},
            {"new_seconds", seconds_of(planned.new_samples, context.rate)},
            {"length_change_percent", optional_level(planned.change_percent)},
            {"length", length_code(planned.length)},
            {"old_loudness", loudness_object(planned.old_loudness)},
            {"new_loudness", loudness_object(planned.new_loudness)},
            {"loudness_match", match_object(planned, matching)},
        });
    }
    const Json document = {
        {"format", 1},
        {"archive", names.name(summary.archive)},
        {"output", names.name(summary.output)},
        {"dry_run", summary.dry_run},
        {"written", summary.written},
        {"clip_count", summary.clip_count},
        {"replaced_count", plan.size()},
        {"archive_bytes", summary.archive_bytes ? Json(*summary.archive_bytes) : Json(nullptr)},
        {"max_longer_percent", optional_number(context.limits.longer)},
        {"max_shorter_percent", optional_number(context.limits.shorter)},
        {"replacements", std::move(clips)},
    };
    return names.dump(document, 2);
}

} // namespace pev::cli::tool
