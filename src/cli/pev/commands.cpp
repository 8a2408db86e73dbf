#include "cli/pev/command.hpp"

#include <algorithm>
#include <array>

namespace pev::cli::tool {

std::span<const CommandRow> command_table() {
    static constexpr std::array<CommandRow, 8> kCommands = {{
        {"list", "list the clips (--json for scripts)", make_list_command},
        {"extract", "write the clips as WAV or other sound files", make_extract_command},
        {"cat", "write one clip as a sound file to standard output", make_cat_command},
        {"test", "check that every clip can be extracted", make_test_command},
        {"pack", "pack WAV or other sound files into a voice archive", make_pack_command},
        {"replace", "replace clips of an archive with WAV or other sound files",
         make_replace_command},
        {"mount", "show an archive as a folder of WAV files", make_mount_command},
        {"unmount", "write what a mounted folder holds, and unmount it", make_unmount_command},
    }};
    return kCommands;
}

int for_each_archive(const std::vector<std::string>& archives, const Streams& io,
                     const std::function<int(const std::string&)>& one) {
    int worst = kExitOk;
    for (std::size_t i = 0; i < archives.size(); ++i) {
        if (archives.size() > 1) {
            std::fprintf(io.out, "%s%s:\n", i == 0 ? "" : "\n", archives[i].c_str());
            // Before any message the archive brings on standard error.
            std::fflush(io.out);
        }
        worst = std::max(worst, one(archives[i]));
    }
    return worst;
}

int usage_error(const std::string& command, const std::string& message, std::FILE* err) {
    const std::string hint = command.empty() ? "pev --help" : "pev help " + command;
    std::fprintf(err, "pev: %s\nRun `%s` for help.\n", message.c_str(), hint.c_str());
    return kExitUsage;
}

std::optional<Verbosity> verbosity_of(const std::string& command, std::size_t quiet,
                                      std::size_t verbose, std::FILE* err) {
    if (quiet > 0 && verbose > 0) {
        usage_error(command, "-q and -v exclude each other", err);
        return std::nullopt;
    }
    return quiet > 0 ? Verbosity::quiet : verbose > 0 ? Verbosity::verbose : Verbosity::normal;
}

} // namespace pev::cli::tool
