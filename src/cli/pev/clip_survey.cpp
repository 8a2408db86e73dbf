#include "cli/pev/clip_survey.hpp"

#include "cli/pev/loudness_support.hpp"
#include "extraction/clip_stream.hpp"

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

// Decoding ahead pays wherever there is a second CPU: measuring a clip
// takes far longer than decoding it.
unsigned decoding_threads() {
    return std::thread::hardware_concurrency() > 1 ? 2 : 1;
}

// Decoding ahead while the clip before is measured, which takes far longer.
void survey_measured(const archive::ArchiveReader& reader, const std::vector<std::size_t>& indices,
                     const std::function<void(const SurveyedClip&)>& each) {
    std::size_t next = 0;
    extraction::stream_clips(reader, indices,
                             extraction::StreamOptions{.stop_at_refusal = false, .threads = decoding_threads()},
                             [&](extraction::ReadyClip& ready) {
                                 SurveyedClip clip = surveyed(indices[next++], ready.info);
                                 if (clip.ok()) {
                                     clip.samples = ready.frame.sample_count();
                                     clip.loudness = measure_loudness(ready.frame.samples(),
                                                                      reader.sample_rate());
                                 }
                                 each(clip);
                                 return true;
                             });
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
