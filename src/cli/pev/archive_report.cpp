#include "cli/pev/archive_report.hpp"

#include "archive/clip_file_name.hpp"
#include "cli/pev/clip_selection.hpp"
#include "cli/pev/json_path.hpp"
#include "cli/pev/loudness_spread.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/sizes.hpp"
#include "wav/frame.hpp"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace pev::cli::tool {
namespace {

using Json = JsonWithNames::Json;

const char* problem_code(archive::ClipProblem problem) {
    switch (problem) {
    case archive::ClipProblem::none:
        return "none";
    case archive::ClipProblem::block_table_past_end:
        return "block_table_past_end";
    case archive::ClipProblem::malformed_block_size:
        return "malformed_block_size";
    case archive::ClipProblem::bytes_past_room:
        return "bytes_past_room";
    case archive::ClipProblem::bytes_past_end:
        return "bytes_past_end";
    case archive::ClipProblem::too_long_for_wav:
        return "too_long_for_wav";
    }
    return "unknown";
}

Json clip_object(const NamedArchive& archive, const SurveyedClip& clip, std::uint32_t rate,
                 JsonWithNames& names) {
    const auto known = [](bool is_known, std::uint64_t value) {
        return is_known ? Json(value) : Json(nullptr);
    };
    return {
        {"position", clip.index + 1},
        {"id", clip.id},
        {"ok", clip.ok()},
        {"problem", clip.ok() ? Json(nullptr) : Json(problem_code(clip.problem))},
        {"reason", clip.ok() ? Json(nullptr) : Json(clip_problem_text(clip.problem))},
        {"samples", known(clip.ok(), clip.samples)},
        {"seconds", clip.ok() ? Json(seconds_of(clip.samples, rate)) : Json(nullptr)},
        {"silent_blocks", known(clip.table_read, clip.silent_blocks)},
        {"raw_blocks", known(clip.table_read, clip.raw_blocks)},
        {"delta_blocks", known(clip.table_read, clip.delta_blocks)},
        {"stored_bytes", known(clip.table_read, clip.stored_bytes)},
        {"wav_bytes", known(clip.ok(), wav_bytes_of(clip))},
        {"file", names.name(default_file_of(archive, clip))},
    };
}

// Levels to a thousandth of a dB, finer than any meter agrees.
Json optional_level(const std::optional<double>& value) {
    if (!value) {
        return nullptr;
    }
    const double rounded = std::round(*value * 1000.0) / 1000.0;
    return rounded == 0.0 ? 0.0 : rounded;
}

// The loudness fields of a clip measured (null for one that cannot be).
void add_loudness(Json& object, const SurveyedClip& clip) {
    const auto& measured = clip.loudness;
    object["loudness_lufs"] = optional_level(measured ? measured->integrated : std::nullopt);
    object["sample_peak_dbfs"] = optional_level(measured ? measured->peak_dbfs() : std::nullopt);
}

Json spread_object(const LoudnessSpread& spread) {
    const auto clip = [](const std::optional<MeasuredClip>& measured) {
        return measured ? Json{{"position", measured->index + 1},
                               {"id", measured->id},
                               {"loudness_lufs", optional_level(measured->lufs)}}
                        : Json(nullptr);
    };
    return {
        {"quietest", clip(spread.quietest())},
        {"loudest", clip(spread.loudest())},
        {"spread_lu", spread.quietest()
                          ? optional_level(spread.loudest()->lufs - spread.quietest()->lufs)
                          : Json(nullptr)},
        {"unmeasured_clips", spread.unmeasured()},
    };
}

} // namespace

std::string default_file_of(const NamedArchive& archive, const SurveyedClip& clip) {
    return archive::clip_file_name(archive.base_name(), static_cast<int>(clip.index + 1));
}

std::uint64_t wav_bytes_of(const SurveyedClip& clip) {
    return wav::Frame::file_size_for(clip.samples);
}

ArchiveReport archive_report(const NamedArchive& archive, const std::vector<std::size_t>& indices,
                             bool measured) {
    const archive::ArchiveReader& reader = archive.reader();
    const std::uint32_t rate = reader.sample_rate();
    JsonWithNames names;
    Json clips = Json::array();
    ArchiveReport report;
    std::uint64_t samples = 0;
    LoudnessSpread spread;
    survey_clips(
        reader, indices,
        [&](const SurveyedClip& clip) {
            Json object = clip_object(archive, clip, rate, names);
            if (measured) {
                add_loudness(object, clip);
            }
            clips.push_back(std::move(object));
            report.refused += clip.ok() ? 0 : 1;
            samples += clip.samples;
            spread.add(clip);
        },
        measured);
    Json document = {
        {"format", 1}, // raised when a field changes meaning or goes away
        {"archive", names.name(archive.path())},
        {"clip_count", reader.clip_count()},
        {"refused_clips", report.refused},
        {"sample_rate", rate},
        {"stored_sample_rate", reader.header().samples_per_sec},
        {"total_samples", samples},
        {"total_seconds", seconds_of(samples, rate)},
        {"archive_bytes", reader.archive_size()},
    };
    if (measured) {
        document["loudness"] = spread_object(spread);
    }
    document["clips"] = std::move(clips);
    report.json = names.dump(document, 2);
    return report;
}

int print_reports(const std::vector<std::string>& archives, const std::optional<std::string>& clips,
                  const std::optional<std::string>& ids, bool refused_clips_fail, const Streams& io,
                  bool measured) {
    const bool several = archives.size() > 1;
    int status = kExitOk;
    std::string text = several ? "[" : "";
    for (const std::string& name : archives) {
        const auto archive = NamedArchive::open(name, io.err);
        if (!archive) {
            status = std::max(status, kExitFailed);
            continue;
        }
        const auto indices = chosen_clips(clips, ids, archive->reader(), io.err);
        if (!indices) {
            status = kExitUsage;
            continue;
        }
        const ArchiveReport report = archive_report(*archive, *indices, measured);
        if (refused_clips_fail && report.refused > 0) {
            status = std::max(status, kExitFailed);
        }
        if (several) {
            text += text.size() > 1 ? ",\n" : "\n";
        }
        text += report.json;
    }
    if (several) {
        text += "\n]";
    }
    if (several || !text.empty()) {
        std::fprintf(io.out, "%s\n", text.c_str());
    }
    return status;
}

} // namespace pev::cli::tool
