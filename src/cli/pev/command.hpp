#pragma once
// The commands of the `pev` tool. Each is one file holding a Command (the
// arguments and options it takes, and what it does with them) and one row in
// the table of commands.cpp: adding a command is one file and one row.
// Commands print to `out` and `err` and return the exit status.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pev::cli::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // a clip or a file could not be read or written
inline constexpr int kExitUsage = 2;  // the command line itself is wrong

struct Streams {
    std::FILE* out;
    std::FILE* err;
};

// How much a command that writes files says: -q, nothing but errors (and
// no progress line); -v, a line per file too.
enum class Verbosity { quiet, normal, verbose };

class Command {
  public:
    virtual ~Command() = default;

    // Declares the command's arguments and options on its place on the
    // command line.
    virtual void define(CLI::App& command) = 0;

    // Runs the command once the command line was read into what define()
    // declared.
    virtual int run(const Streams& io) = 0;
};

struct CommandRow {
    const char* name;
    const char* summary; // one line, for the overview
    std::unique_ptr<Command> (*make)();
};

// Every command, in the order the overview lists them.
std::span<const CommandRow> command_table();

// The makers, one per command file.
std::unique_ptr<Command> make_list_command();
std::unique_ptr<Command> make_extract_command();
std::unique_ptr<Command> make_cat_command();
std::unique_ptr<Command> make_test_command();
std::unique_ptr<Command> make_pack_command();
std::unique_ptr<Command> make_replace_command();
std::unique_ptr<Command> make_mount_command();
std::unique_ptr<Command> make_unmount_command();

// The options `pev ARCHIVE` shares with `pev extract`.
struct BareOptions {
    std::optional<std::string> folder; // -o
    bool force = false;
    bool skip_existing = false;
    std::size_t quiet = 0;
    std::size_t verbose = 0;

    bool any() const { return folder || force || skip_existing || quiet > 0 || verbose > 0; }
};

// `pev ARCHIVE`: every clip extracted beside the archive (or into -o DIR), as
// `pev extract ARCHIVE` does.
int extract_beside(const std::vector<std::string>& archives, const BareOptions& options,
                   const Streams& io);

// Runs `one` on each of `archives` and returns the worst status. With more
// than one, each archive's output follows a heading line "NAME:" on standard
// output, with a blank line between archives, as ls does for folders.
int for_each_archive(const std::vector<std::string>& archives, const Streams& io,
                     const std::function<int(const std::string&)>& one);

// Declares a positional argument without the type name CLI11 would show.
template <typename T>
CLI::Option* positional(CLI::App& command, const std::string& name, T& value,
                        const std::string& description) {
    return command.add_option(name, value, description)->type_name("");
}

// "pev: MESSAGE" and where to find help, for a command line that is wrong;
// returns kExitUsage.
int usage_error(const std::string& command, const std::string& message, std::FILE* err);

// The verbosity -q and -v (each counted) ask for; nothing, after the usage
// error of `command` ("" for pev's own) on `err`, when both were given.
std::optional<Verbosity> verbosity_of(const std::string& command, std::size_t quiet,
                                      std::size_t verbose, std::FILE* err);

} // namespace pev::cli::tool
