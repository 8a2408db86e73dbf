#include "cli/pev/pev_main.hpp"

#include "cli/guarded_run.hpp"
#include "cli/output_check.hpp"
#include "cli/pev/command.hpp"
#include "cli/pev/mistyped_command.hpp"
#include "common/version.hpp"
#include "platform/console.hpp"

#include <new>
#include <utility>
#include <vector>

namespace pev::cli::tool {
namespace {

constexpr const char* kDescription =
    "pev: lists, tests, extracts, plays and packs voice archives (.pev files).\n"
    "ARCHIVE may be named with or without .pev.";

// CLI11's help, with pev's usage lines and without type names nobody needs.
class HelpFormatter : public CLI::Formatter {
  public:
    HelpFormatter() {
        column_width(24);
        label("Positionals", "Arguments");
        label("REQUIRED", "");
    }

    std::string make_usage(const CLI::App* app, std::string name) const override {
        if (app->get_parent() == nullptr) {
            return "\nUsage: pev COMMAND ARGUMENTS [OPTIONS]\n"
                   "       pev ARCHIVE...      extracts every clip beside each archive\n";
        }
        return "\n" + CLI::Formatter::make_usage(app, std::move(name));
    }
};

// The command line: every command of the table, `help`, and `pev ARCHIVE`.
struct Parsed {
    struct Entry {
        CLI::App* app;
        std::unique_ptr<Command> command;
    };

    CLI::App app{kDescription, "pev"};
    std::vector<std::string> bare_archives; // `pev ARCHIVE...`
    BareOptions bare;                       // and the options of `extract` it takes
    std::string help_topic;                 // `pev help COMMAND`
    CLI::App* help = nullptr;
    std::vector<Entry> commands;

    Parsed() {
        app.formatter(std::make_shared<HelpFormatter>());
        // Set before the commands are added, which inherit the help flag.
        app.set_help_flag("-h,--help", "show this help");
        app.set_version_flag("--version", std::string("pev version ") + kVersion,
                             "show the version");
        positional(app, "ARCHIVE", bare_archives, "extract these archives, each beside itself");
        const std::string group = "Options of pev ARCHIVE (as pev extract has them)";
        app.add_option("-o,--output", bare.folder, "write into DIR, made if missing")
            ->type_name("DIR")
            ->group(group);
        app.add_flag("--force", bare.force, "replace existing files")->group(group);
        app.add_flag("-n,--skip-existing", bare.skip_existing,
                     "keep existing files and write the rest")
            ->group(group);
        app.add_flag("-q,--quiet", bare.quiet, "print no summary line")->group(group);
        app.add_flag("-v,--verbose", bare.verbose, "print a line per file")->group(group);
        app.require_subcommand(0, 1);

        for (const CommandRow& row : command_table()) {
            Entry entry{app.add_subcommand(row.name, row.summary), row.make()};
            entry.command->define(*entry.app);
            entry.app->group("Commands");
            commands.push_back(std::move(entry));
        }
        help = app.add_subcommand("help", "show the help of pev or of one command");
        positional(*help, "COMMAND", help_topic, "the command");
        help->group("Commands");
        // Set last: the commands would inherit it.
        app.footer("Run `pev help COMMAND` for a command's arguments and options.");
    }

    CLI::App* command_named(const std::string& name) const {
        for (const Entry& entry : commands) {
            if (entry.app->get_name() == name) {
                return entry.app;
            }
        }
        return help->get_name() == name ? help : nullptr;
    }

    // Every command's name, `help` included.
    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (const Entry& entry : commands) {
            all.push_back(entry.app->get_name());
        }
        all.push_back(help->get_name());
        return all;
    }

    // The command whose options were being read when parsing stopped.
    const Entry* current() const {
        for (const Entry& entry : commands) {
            if (entry.app->parsed()) {
                return &entry;
            }
        }
        return nullptr;
    }

    // Its name, "help" for the help command, "" for none.
    std::string current_name() const {
        if (const Entry* entry = current()) {
            return entry->app->get_name();
        }
        return help->parsed() ? "help" : "";
    }

    const CLI::App* current_app() const {
        const Entry* entry = current();
        return entry != nullptr ? entry->app : help->parsed() ? help : nullptr;
    }
};

// The overview. CLI11's App::help() shows the help of the command that was
// given instead, which for `pev help` is the help command's own.
std::string overview(const Parsed& parsed) {
    return parsed.app.get_formatter()->make_help(&parsed.app, "pev", CLI::AppFormatMode::Normal);
}

int usage_error(const Parsed& parsed, const std::string& message, std::FILE* err) {
    const std::string name = parsed.current_name();
    return tool::usage_error(name == "help" ? "" : name, message, err);
}

int show_help(Parsed& parsed, std::FILE* out, std::FILE* err) {
    if (parsed.help_topic.empty()) {
        std::fputs(overview(parsed).c_str(), out);
        return kExitOk;
    }
    CLI::App* command = parsed.command_named(parsed.help_topic);
    if (command == nullptr) {
        return usage_error(parsed, "there is no command " + parsed.help_topic, err);
    }
    std::fputs(command->help("pev").c_str(), out);
    return kExitOk;
}

int run_parsed(Parsed& parsed, const Streams& io) {
    if ((parsed.current() != nullptr || parsed.help->parsed()) && parsed.bare.any()) {
        return usage_error(parsed,
                           "-o, --force, -n, -q and -v go after the command (or after ARCHIVE when "
                           "there is none)",
                           io.err);
    }
    if (const Parsed::Entry* entry = parsed.current()) {
        return entry->command->run(io);
    }
    if (parsed.help->parsed()) {
        return show_help(parsed, io.out, io.err);
    }
    // No command: a double-click, or an archive dropped on the program.
    int status = kExitUsage;
    if (parsed.bare_archives.empty()) {
        // Nothing to do is a wrong command line: the overview goes where
        // usage errors go.
        std::fputs(overview(parsed).c_str(), io.err);
    } else if (const auto mistyped = mistyped_command(parsed.bare_archives, parsed.names())) {
        std::fprintf(io.err, "pev: %s\n", mistyped->c_str());
    } else {
        status = extract_beside(parsed.bare_archives, parsed.bare, io);
    }
    hold_console_window_open();
    return status;
}

int parse_and_run(std::span<const std::string> args, const Streams& io) {
    Parsed parsed;
    // CLI11 takes the arguments last first, without the program name.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    if (!reversed.empty()) {
        reversed.pop_back();
    }
    try {
        parsed.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        const CLI::App* command = parsed.current_app();
        std::fputs((command != nullptr ? command->help("pev") : overview(parsed)).c_str(), io.out);
        return kExitOk;
    } catch (const CLI::CallForVersion& version) {
        std::fprintf(io.out, "%s\n", version.what());
        return kExitOk;
    } catch (const CLI::ExtrasError& error) {
        const CLI::App* where = parsed.current_app();
        const std::vector<std::string> extras =
            (where != nullptr ? where : &parsed.app)->remaining();
        for (const std::string& extra : extras) {
            if (extra.size() > 1 && extra[0] == '-') {
                return usage_error(parsed, "there is no option " + extra, io.err);
            }
        }
        const int status = usage_error(parsed, error.what(), io.err);
        if (where == nullptr) {
            hold_console_window_open();
        }
        return status;
    } catch (const CLI::ParseError& error) {
        return usage_error(parsed, error.what(), io.err);
    }
    return run_parsed(parsed, io);
}

} // namespace

int run_pev(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
    const int status = run_guarded("pev", err, [&] {
        return parse_and_run(args, Streams{out, err});
    });
    if (const std::string failure = output_failure(out); !failure.empty()) {
        std::fprintf(err, "pev: cannot write to standard output: %s\n", failure.c_str());
        return kExitFailed;
    }
    return status;
}

} // namespace pev::cli::tool
