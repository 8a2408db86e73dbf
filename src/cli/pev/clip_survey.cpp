#include "cli/pev/clip_survey.hpp"

#include "cli/pev/clip_measurer.hpp"
#include "extraction/clip_stream.hpp"

#include <algorithm>
#include <thread>

namespace pev::cli::tool {
namespace {

SurveyedClip surveyed(std::size_t index, const archive::ClipInfo& info) {
    SurveyedClip clip;
    clip.index = index;
    clip.id = info.row.id;
    clip.problem = info.problem;
    clip.table_read = info.problem != archive::ClipProblem::block_table_past_end;
    clip.silent_blocks = info.silent_blocks;
    clip.raw_blocks = info.raw_blocks;
    clip.delta_blocks = info.delta_blocks;
    clip.stored_bytes = info.stored_bytes();
    return clip;
}

// Decoding ahead on one thread while every CPU measures: measuring a clip
// takes far longer than decoding it.
void survey_measured(const archive::ArchiveReader& reader, const std::vector<std::size_t>& indices,
                     const std::function<void(const SurveyedClip&)>& each) {
    const unsigned cpus = std::max(std::thread::hardware_concurrency(), 1U);
    ClipMeasurer measurer(cpus, reader.sample_rate(), each);
    std::size_t next = 0;
    extraction::stream_clips(
        reader, indices,
        extraction::StreamOptions{.stop_at_refusal = false, .threads = cpus > 1 ? 2U : 1U},
        [&](extraction::ReadyClip& ready) {
            SurveyedClip clip = surveyed(indices[next++], ready.info);
            clip.samples = clip.ok() ? ready.frame.sample_count() : 0;
            measurer.add(clip, clip.ok() ? ready.frame.samples() : std::span<const std::int16_t>());
            return true;
        });
    measurer.finish();
}

} // namespace

void survey_clips(const archive::ArchiveReader& reader, const std::vector<std::size_t>& indices,
                  const std::function<void(const SurveyedClip&)>& each, bool measure) {
    if (measure) {
        survey_measured(reader, indices, each);
        return;
    }
    archive::ClipBuffers buffers;
    for (const std::size_t index : indices) {
        const archive::ClipInfo info = reader.inspect(index, buffers);
        SurveyedClip clip = surveyed(index, info);
        if (info.ok()) {
            clip.samples = reader.decode(info, buffers).sample_count();
        }
        each(clip);
    }
}

} // namespace pev::cli::tool
