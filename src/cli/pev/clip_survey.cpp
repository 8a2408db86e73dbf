#include "cli/pev/clip_survey.hpp"

#include "wav/wav_writer.hpp"

namespace pev::cli::tool {

void survey_clips(const archive::ArchiveReader& reader, const std::vector<std::size_t>& indices,
                  const std::function<void(const SurveyedClip&)>& each) {
    archive::ClipBuffers buffers;
    for (const std::size_t index : indices) {
        const archive::ClipInfo info = reader.inspect(index, buffers);
        SurveyedClip clip;
        clip.index = index;
        clip.id = info.row.id;
        clip.problem = info.problem;
        clip.table_read = info.problem != archive::ClipProblem::block_table_past_end;
        clip.silent_blocks = info.silent_blocks;
        clip.raw_blocks = info.raw_blocks;
        clip.delta_blocks = info.delta_blocks;
        clip.stored_bytes = info.stored_bytes();
        if (info.ok()) {
            clip.samples = reader.decode(info, buffers).sample_count();
        }
        each(clip);
    }
}

} // namespace pev::cli::tool
