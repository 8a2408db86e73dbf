// pev cat: one clip as a WAV file on standard output, for a player at the
// other end of a pipe.

#include "cli/pev/archive_file.hpp"
#include "cli/pev/commands.hpp"
#include "platform/console.hpp"
#include "wav/wav_writer.hpp"

#include <cerrno>
#include <system_error>

namespace pev::cli::tool {

int cat_command(const CatOptions& options, const Streams& io) {
    if (is_terminal(io.out)) {
        std::fputs("pev: a WAV file would be written to the terminal; pipe it into a player "
                   "(pev cat ARCHIVE N | aplay) or redirect it to a file\n",
                   io.err);
        return kExitUsage;
    }
    const auto archive = ArchiveFile::open(options.archive, io.err);
    if (!archive) {
        return kExitFailed;
    }
    const archive::ArchiveReader& reader = archive->reader();
    const std::size_t count = reader.clip_count();
    if (options.position == 0 || options.position > count) {
        std::fprintf(io.err, "pev: there is no clip %zu: the archive holds %zu clip%s\n",
                     options.position, count, count == 1 ? "" : "s");
        return kExitUsage;
    }
    archive::ClipBuffers buffers;
    const archive::ClipInfo clip = reader.inspect(options.position - 1, buffers);
    if (!clip.ok()) {
        std::fprintf(io.err, "pev: %s cannot be extracted: %s\n",
                     clip_label(clip.index, clip.row.id).c_str(), archive::describe(clip.problem));
        return kExitFailed;
    }
    const std::span<std::int16_t> frame = reader.decode(clip, buffers);
    set_binary_mode(io.out);
    errno = 0;
    if (!wav::write_file(io.out, frame, 1, reader.sample_rate()) || std::fflush(io.out) != 0) {
        std::fprintf(io.err, "pev: cannot write to standard output: %s\n",
                     std::generic_category().message(errno).c_str());
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace pev::cli::tool
