// pev test: reads and decodes every clip, writes nothing, and names each one
// that cannot be extracted, or with --json describes every clip as list
// --json does. The exit status says whether all are sound.

#include "cli/pev/archive_report.hpp"
#include "cli/pev/clip_selection.hpp"
#include "cli/pev/clip_survey.hpp"
#include "cli/pev/command.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/named_archive.hpp"
#include "platform/wildcards.hpp"

namespace pev::cli::tool {
namespace {

int test_archive(const std::string& name, const std::optional<std::string>& clips,
                 const std::optional<std::string>& ids, const Streams& io) {
    const auto archive = NamedArchive::open(name, io.err);
    if (!archive) {
        return kExitFailed;
    }
    const auto indices = chosen_clips(clips, ids, archive->reader(), io.err);
    if (!indices) {
        return kExitUsage;
    }
    std::size_t refused = 0;
    survey_clips(archive->reader(), *indices, [&](const SurveyedClip& clip) {
        if (!clip.ok()) {
            ++refused;
            std::fprintf(io.err, "pev: %s cannot be extracted: %s\n",
                         clip_label(clip.index, clip.id).c_str(), clip_problem_text(clip.problem));
        }
    });
    const std::size_t count = indices->size();
    const std::size_t all = archive->reader().clip_count();
    // "2 of 9 clips" when only some were tested.
    const std::string of = count == all ? "" : " of " + std::to_string(all);
    if (refused == 0) {
        std::fprintf(io.out, "%s: %zu%s clip%s, all sound\n", archive->path().c_str(), count,
                     of.c_str(), (count == all ? count : all) == 1 ? "" : "s");
        return kExitOk;
    }
    std::fprintf(io.out, "%s: %zu of %zu clip%s cannot be extracted\n", archive->path().c_str(),
                 refused, count, count == 1 ? "" : "s");
    return kExitFailed;
}

class TestCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        positional(command, "ARCHIVE", archives_, "the archives")->required();
        command.add_option("-c,--clips", clips_, "only these clips, by position: 1,5-9,12,20-")
            ->type_name("LIST");
        command.add_option("--id", ids_, "only the clips with these entry ids: 3,7-9")
            ->type_name("LIST");
        command.add_flag("--json", json_, "describe every clip in one JSON document, as list does");
    }
    int run(const Streams& io) override {
        const std::vector<std::string> archives = with_wildcards_expanded(archives_);
        if (json_) {
            return print_reports(archives, clips_, ids_, true, io);
        }
        return for_each_archive(archives, io, [&](const std::string& name) {
            return test_archive(name, clips_, ids_, io);
        });
    }

  private:
    std::vector<std::string> archives_;
    std::optional<std::string> clips_;
    std::optional<std::string> ids_;
    bool json_ = false;
};

} // namespace

std::unique_ptr<Command> make_test_command() {
    return std::make_unique<TestCommand>();
}

} // namespace pev::cli::tool
