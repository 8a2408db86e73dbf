// pev test: reads and decodes every clip, writes nothing, and names each one
// that cannot be extracted. The exit status says whether all are sound.

#include "cli/pev/archive_file.hpp"
#include "cli/pev/clip_survey.hpp"
#include "cli/pev/commands.hpp"

namespace pev::cli::tool {

int test_command(const TestOptions& options, const Streams& io) {
    const auto archive = ArchiveFile::open(options.archive, io.err);
    if (!archive) {
        return kExitFailed;
    }
    std::size_t refused = 0;
    survey_clips(archive->reader(), [&](const SurveyedClip& clip) {
        if (!clip.ok()) {
            ++refused;
            std::fprintf(io.err, "pev: %s cannot be extracted: %s\n",
                         clip_label(clip.index, clip.id).c_str(), archive::describe(clip.problem));
        }
    });
    const std::size_t count = archive->reader().clip_count();
    if (refused == 0) {
        std::fprintf(io.out, "%s: %zu clip%s, all sound\n", archive->path().c_str(), count,
                     count == 1 ? "" : "s");
        return kExitOk;
    }
    std::fprintf(io.out, "%s: %zu of %zu clip%s cannot be extracted\n", archive->path().c_str(),
                 refused, count, count == 1 ? "" : "s");
    return kExitFailed;
}

} // namespace pev::cli::tool
