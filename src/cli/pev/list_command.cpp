// pev list: one row per clip and a summary, as a table for people or as one
// JSON document for scripts.

#include "archive/clip_file_name.hpp"
#include "cli/pev/archive_report.hpp"
#include "cli/pev/clip_selection.hpp"
#include "cli/pev/loudness_spread.hpp"
#include "cli/pev/loudness_support.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/sizes.hpp"
#include "platform/wildcards.hpp"

namespace pev::cli::tool {
namespace {

struct ListOptions {
    std::vector<std::string> archives;
    bool json = false;
    std::optional<std::string> clips; // -c LIST; default: every clip
    std::optional<std::string> ids;   // --id LIST, instead of -c
    bool loudness = false;
};

struct Totals {
    std::size_t refused = 0;
    std::uint64_t samples = 0;
    LoudnessSpread spread;

    void add(const SurveyedClip& clip) {
        refused += clip.ok() ? 0 : 1;
        samples += clip.samples;
        spread.add(clip);
    }
};

// The file column is as wide as its names, which share one length.
constexpr const char* kRowFormat = "%-4s %6s %10s %9s %7s %7s %7s %11s %11s  %-*s  %s\n";
constexpr const char* kMeasuredRowFormat =
    "%-4s %6s %10s %9s %7s %7s %7s %11s %11s %6s %6s  %-*s  %s\n";

void print_row(std::FILE* out, const NamedArchive& archive, const SurveyedClip& clip,
               std::uint32_t rate, int file_width, bool measured) {
    char position[16];
    std::snprintf(position, sizeof position, "%04zu", clip.index + 1);
    const auto known = [](bool is_known, std::uint64_t value) {
        return is_known ? std::to_string(value) : std::string("-");
    };
    char seconds[32] = "-";
    if (clip.ok()) {
        std::snprintf(seconds, sizeof seconds, "%.3f", seconds_of(clip.samples, rate));
    }
    const std::string samples = known(clip.ok(), clip.samples);
    const std::string silent = known(clip.table_read, clip.silent_blocks);
    const std::string raw = known(clip.table_read, clip.raw_blocks);
    const std::string delta = known(clip.table_read, clip.delta_blocks);
    const std::string stored = known(clip.table_read, clip.stored_bytes);
    const std::string wav_bytes = known(clip.ok(), wav_bytes_of(clip));
    const std::string file = default_file_of(archive, clip);
    if (!measured) {
        std::fprintf(out, kRowFormat, position, std::to_string(clip.id).c_str(), samples.c_str(),
                     seconds, silent.c_str(), raw.c_str(), delta.c_str(), stored.c_str(),
                     wav_bytes.c_str(), file_width, file.c_str(), clip_problem_text(clip.problem));
        return;
    }
    const std::string lufs = level_text(clip.loudness ? clip.loudness->integrated : std::nullopt);
    const std::string peak = level_text(clip.loudness ? clip.loudness->peak_dbfs() : std::nullopt);
    std::fprintf(out, kMeasuredRowFormat, position, std::to_string(clip.id).c_str(),
                 samples.c_str(), seconds, silent.c_str(), raw.c_str(), delta.c_str(),
                 stored.c_str(), wav_bytes.c_str(), lufs.c_str(), peak.c_str(), file_width,
                 file.c_str(), clip_problem_text(clip.problem));
}

void print_table(const NamedArchive& archive, const std::vector<std::size_t>& indices,
                 bool measured, std::FILE* out) {
    const archive::ArchiveReader& reader = archive.reader();
    const std::uint32_t rate = reader.sample_rate();
    const int file_width = static_cast<int>(archive::clip_file_name(archive.base_name(), 1).size());
    if (reader.clip_count() > 0 && measured) {
        std::fprintf(out, kMeasuredRowFormat, "clip", "id", "samples", "seconds", "silent", "raw",
                     "delta", "stored", "wav bytes", "LUFS", "peak", file_width, "file", "status");
    } else if (reader.clip_count() > 0) {
        std::fprintf(out, kRowFormat, "clip", "id", "samples", "seconds", "silent", "raw", "delta",
                     "stored", "wav bytes", file_width, "file", "status");
    }
    Totals totals;
    survey_clips(
        reader, indices,
        [&](const SurveyedClip& clip) {
            print_row(out, archive, clip, rate, file_width, measured);
            totals.add(clip);
        },
        measured);
    const std::size_t count = reader.clip_count();
    if (indices.size() != count) {
        std::fprintf(out, "%zu of ", indices.size()); // only some were listed
    }
    std::fprintf(out, "%zu clip%s", count, count == 1 ? "" : "s");
    if (totals.refused > 0) {
        std::fprintf(out, " (%zu cannot be extracted)", totals.refused);
    }
    std::fprintf(out, ", %u Hz", static_cast<unsigned>(rate));
    if (reader.header().samples_per_sec == 0) {
        std::fputs(" (stored as 0)", out);
    }
    std::fprintf(out, ", %s in all, archive %llu bytes\n",
                 human_duration(seconds_of(totals.samples, rate)).c_str(),
                 static_cast<unsigned long long>(reader.archive_size()));
    if (measured) {
        std::fprintf(out, "%s\n", totals.spread.text().c_str());
    }
}

class ListCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        positional(command, "ARCHIVE", options_.archives, "the archives")->required();
        command.add_flag("--json", options_.json, "print one JSON document, for scripts");
        command
            .add_option("-c,--clips", options_.clips, "only these clips, by position: 1,5-9,12,20-")
            ->type_name("LIST");
        command.add_option("--id", options_.ids, "only the clips with these entry ids: 3,7-9")
            ->type_name("LIST");
        command.add_flag("--loudness", options_.loudness,
                         "measure each clip's integrated loudness (LUFS) and sample peak (dBFS)");
    }

    int run(const Streams& io) override {
        if (options_.loudness && !has_loudness()) {
            return usage_error("list", lacking_loudness("--loudness"), io.err);
        }
        const std::vector<std::string> archives = with_wildcards_expanded(options_.archives);
        if (options_.json) {
            return print_reports(archives, options_.clips, options_.ids, false, io,
                                 options_.loudness);
        }
        return for_each_archive(archives, io,
                                [&](const std::string& name) { return list(name, io); });
    }

  private:
    int list(const std::string& name, const Streams& io) const {
        const auto archive = NamedArchive::open(name, io.err);
        if (!archive) {
            return kExitFailed;
        }
        const auto indices = chosen_clips(options_.clips, options_.ids, archive->reader(), io.err);
        if (!indices) {
            return kExitUsage;
        }
        print_table(*archive, *indices, options_.loudness, io.out);
        return kExitOk;
    }

    ListOptions options_;
};

} // namespace

std::unique_ptr<Command> make_list_command() {
    return std::make_unique<ListCommand>();
}

} // namespace pev::cli::tool
