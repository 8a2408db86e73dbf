// pev cat: one clip as a WAV file on standard output, for a player at the
// other end of a pipe.

#include "cli/pev/clip_selection.hpp"
#include "cli/pev/command.hpp"
#include "cli/pev/messages.hpp"
#include "cli/pev/named_archive.hpp"
#include "cli/pev/sound_support.hpp"
#include "platform/console.hpp"
#include "wav/wav_writer.hpp"

#include <cerrno>
#include <system_error>

namespace pev::cli::tool {
namespace {

struct CatOptions {
    std::string archive;
    std::string position; // counted from 1, as the file names number clips
    std::optional<std::string> format;
    std::optional<std::uint32_t> rate;
    bool no_dither = false;
};

int cat_clip(const CatOptions& options, const Streams& io) {
    OutputChoice output;
    if (const std::string problem =
            choose_output(options.format, std::nullopt, options.rate, options.no_dither, output);
        !problem.empty()) {
        return usage_error("cat", problem, io.err);
    }
    if (is_terminal(io.out)) {
        const std::string kind =
            output.format == sound::SoundFormat::wav ? "a WAV file" : "a sound file";
        std::fprintf(io.err,
                     "pev: %s would be written to the terminal; pipe it into a player "
                     "(pev cat ARCHIVE N | aplay) or redirect it to a file\n",
                     kind.c_str());
        return kExitUsage;
    }
    const auto archive = NamedArchive::open(options.archive, io.err);
    if (!archive) {
        return kExitFailed;
    }
    const archive::ArchiveReader& reader = archive->reader();
    // One position, read as -c reads its list, so both say the same about it.
    const ClipSelection selection = select_clips(options.position, reader.clip_count());
    if (!selection.ok() || selection.indices.size() != 1) {
        std::fprintf(io.err, "pev: %s\n",
                     selection.ok() ? ("\"" + options.position + "\" is not one clip").c_str()
                                    : selection.error.c_str());
        return kExitUsage;
    }
    archive::ClipBuffers buffers;
    const archive::ClipInfo clip = reader.inspect(selection.indices.front(), buffers);
    if (!clip.ok()) {
        std::fprintf(io.err, "pev: %s cannot be extracted: %s\n",
                     clip_label(clip.index, clip.row.id).c_str(), clip_problem_text(clip.problem));
        return kExitFailed;
    }
    const wav::Frame frame = reader.decode(clip, buffers);
    set_binary_mode(io.out);
    ClipOutput clip_output(output, output_rate(output, reader.sample_rate()));
    Error error;
    const bool written = clip_output.write_to(io.out, frame, reader.sample_rate(), error);
    if (!error.ok()) {
        std::fprintf(io.err, "pev: %s cannot be encoded: %s\n",
                     clip_label(clip.index, clip.row.id).c_str(), error.detail.c_str());
        return kExitFailed;
    }
    if (!written || std::fflush(io.out) != 0) {
        std::fprintf(io.err, "pev: cannot write to standard output: %s\n",
                     std::generic_category().message(errno).c_str());
        // Said once, here, with the system's reason.
        std::clearerr(io.out);
        return kExitFailed;
    }
    return kExitOk;
}

class CatCommand final : public Command {
  public:
    void define(CLI::App& command) override {
        positional(command, "ARCHIVE", options_.archive, "the archive")->required();
        positional(command, "N", options_.position, "the clip's position, counted from 1")
            ->required();
        command
            .add_option("--format", options_.format,
                        "write a wav (the default), flac, ogg, opus, mp3 or aiff file")
            ->type_name("FORMAT");
        add_rate_option(command, options_.rate, "resample the clip to HZ");
        add_dither_option(command, options_.no_dither);
    }
    int run(const Streams& io) override { return cat_clip(options_, io); }

  private:
    CatOptions options_;
};

} // namespace

std::unique_ptr<Command> make_cat_command() {
    return std::make_unique<CatCommand>();
}

} // namespace pev::cli::tool
