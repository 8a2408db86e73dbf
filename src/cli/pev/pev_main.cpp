#include "cli/pev/pev_main.hpp"

#include "cli/pev/commands.hpp"
#include "common/version.hpp"
#include "platform/console.hpp"

#include <CLI/CLI.hpp>
#include <new>
#include <vector>

namespace pev::cli::tool {
namespace {

constexpr const char* kDescription =
    "pev: lists, tests, extracts, plays and packs voice archives (.pev files).\n"
    "ARCHIVE may be named with or without .pev.";

constexpr const char* kExtractFooter =
    "TEMPLATE may hold {base} (the archive's name without .pev), {n} (the clip's\n"
    "position, 4 digits) and {id} (its entry id); the default is {base}_{n}.wav,\n"
    "the names Pev2wav gives.";

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
                   "       pev ARCHIVE         extracts every clip beside the archive\n";
        }
        return "\n" + CLI::Formatter::make_usage(app, std::move(name));
    }
};

// Checked before CLI11 converts it, which would say no more than "Could not
// convert".
const CLI::Validator kClipNumber(
    [](const std::string& text) {
        const bool digits =
            !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
        return digits ? std::string() : "\"" + text + "\" is not a clip number";
    },
    "");

// The parsed command line: which command, with its options.
struct Parsed {
    CLI::App app{kDescription, "pev"};
    std::string bare_archive; // `pev ARCHIVE`
    std::string help_topic;   // `pev help COMMAND`
    CLI::App* help = nullptr;
    CLI::App* list = nullptr;
    CLI::App* extract = nullptr;
    CLI::App* cat = nullptr;
    CLI::App* test = nullptr;
    CLI::App* pack = nullptr;
    ListOptions list_options;
    ExtractOptions extract_options;
    CatOptions cat_options;
    TestOptions test_options;
    PackOptions pack_options;
    std::size_t quiet = 0;
    std::size_t verbose = 0;

    Parsed() {
        app.formatter(std::make_shared<HelpFormatter>());
        // Set before the commands are added, which inherit the help flag.
        app.set_help_flag("-h,--help", "show this help");
        app.set_version_flag("--version", std::string("pev version ") + kVersion,
                             "show the version");
        positional(app, "ARCHIVE", bare_archive, "extract this archive beside itself");
        app.require_subcommand(0, 1);

        list = app.add_subcommand("list", "list the clips (--json for scripts)");
        positional(*list, "ARCHIVE", list_options.archive, "the archive")->required();
        list->add_flag("--json", list_options.json, "print one JSON document, for scripts");

        extract = app.add_subcommand("extract", "write the clips as WAV files");
        add_extract_options(*extract);

        cat = app.add_subcommand("cat", "write one clip as a WAV file to standard output");
        positional(*cat, "ARCHIVE", cat_options.archive, "the archive")->required();
        positional(*cat, "N", cat_options.position, "the clip's position, counted from 1")
            ->required()
            ->check(kClipNumber);

        test = app.add_subcommand("test", "check that every clip can be extracted");
        positional(*test, "ARCHIVE", test_options.archive, "the archive")->required();

        pack = app.add_subcommand("pack", "pack WAV files into a voice archive");
        positional(*pack, "OUT.pev", pack_options.output, "the archive to write")->required();
        positional(*pack, "INPUT", pack_options.inputs,
                   "WAV files, and folders whose .wav files are taken in name order")
            ->required();
        pack->add_option("--like", pack_options.like,
                         "keep the entry ids and unused header bytes of ARCHIVE")
            ->type_name("ARCHIVE");
        pack->add_flag("--force", pack_options.force, "replace OUT.pev if it exists");

        help = app.add_subcommand("help", "show the help of pev or of one command");
        positional(*help, "COMMAND", help_topic, "the command");

        for (CLI::App* command : {list, extract, cat, test, pack, help}) {
            command->group("Commands");
        }
        // Set last: the commands would inherit it.
        app.footer("Run `pev help COMMAND` for a command's arguments and options.");
    }

    template <typename T>
    static CLI::Option* positional(CLI::App& command, const std::string& name, T& value,
                                   const std::string& description) {
        return command.add_option(name, value, description)->type_name("");
    }

    void add_extract_options(CLI::App& command) {
        ExtractOptions& o = extract_options;
        positional(command, "ARCHIVE", o.archive, "the archive")->required();
        command
            .add_option("-o,--output", o.folder,
                        "write into DIR, made if missing "
                        "(default: the archive's folder)")
            ->type_name("DIR");
        command.add_option("-c,--clips", o.clips, "only these clips, by position: 1,5-9,12")
            ->type_name("LIST");
        command.add_option("--name", o.name_template, "name the files after TEMPLATE")
            ->type_name("TEMPLATE");
        command.add_flag("--force", o.force, "replace existing files");
        command.add_flag("-q,--quiet", quiet, "print no summary line");
        command.add_flag("-v,--verbose", verbose, "print a line per file");
        command.footer(kExtractFooter);
    }

    CLI::App* command_named(const std::string& name) {
        for (CLI::App* command : {list, extract, cat, test, pack, help}) {
            if (command->get_name() == name) {
                return command;
            }
        }
        return nullptr;
    }

    // The command whose options were being read when parsing stopped.
    const CLI::App* current_command() const {
        for (const CLI::App* command : {list, extract, cat, test, pack, help}) {
            if (command->parsed()) {
                return command;
            }
        }
        return nullptr;
    }
};

int usage_error(const Parsed& parsed, const std::string& message, std::FILE* err) {
    const CLI::App* command = parsed.current_command();
    const std::string hint = command != nullptr && command != parsed.help
                                 ? "pev help " + command->get_name()
                                 : std::string("pev --help");
    std::fprintf(err, "pev: %s\nRun `%s` for help.\n", message.c_str(), hint.c_str());
    return kExitUsage;
}

int show_help(Parsed& parsed, std::FILE* out, std::FILE* err) {
    if (parsed.help_topic.empty()) {
        std::fputs(parsed.app.help().c_str(), out);
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
    if (parsed.list->parsed()) {
        return list_command(parsed.list_options, io);
    }
    if (parsed.extract->parsed()) {
        if (parsed.quiet > 0 && parsed.verbose > 0) {
            return usage_error(parsed, "-q and -v exclude each other", io.err);
        }
        parsed.extract_options.verbosity = parsed.quiet > 0     ? Verbosity::quiet
                                           : parsed.verbose > 0 ? Verbosity::verbose
                                                                : Verbosity::normal;
        return extract_command(parsed.extract_options, io);
    }
    if (parsed.cat->parsed()) {
        return cat_command(parsed.cat_options, io);
    }
    if (parsed.test->parsed()) {
        return test_command(parsed.test_options, io);
    }
    if (parsed.pack->parsed()) {
        return pack_command(parsed.pack_options, io);
    }
    if (parsed.help->parsed()) {
        return show_help(parsed, io.out, io.err);
    }
    // No command: a double-click, or an archive dropped on the program.
    int status = kExitUsage;
    if (parsed.bare_archive.empty()) {
        std::fputs(parsed.app.help().c_str(), io.out);
    } else {
        ExtractOptions options;
        options.archive = parsed.bare_archive;
        status = extract_command(options, io);
    }
    hold_console_window_open();
    return status;
}

} // namespace

int run_pev(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
    const Streams io{out, err};
    try {
        Parsed parsed;
        // CLI11 takes the arguments last first, without the program name.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        if (!reversed.empty()) {
            reversed.pop_back();
        }
        try {
            parsed.app.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            const CLI::App* command = parsed.current_command();
            std::fputs((command != nullptr ? command->help("pev") : parsed.app.help()).c_str(),
                       out);
            return kExitOk;
        } catch (const CLI::CallForVersion& version) {
            std::fprintf(out, "%s\n", version.what());
            return kExitOk;
        } catch (const CLI::ExtrasError& error) {
            if (parsed.current_command() != nullptr) {
                return usage_error(parsed, error.what(), err);
            }
            // Several files dropped on the program at once, most likely.
            const int status = usage_error(
                parsed, "one archive at a time: " + parsed.bare_archive + " and more were given",
                err);
            hold_console_window_open();
            return status;
        } catch (const CLI::ParseError& error) {
            return usage_error(parsed, error.what(), err);
        }
        return run_parsed(parsed, io);
    } catch (const std::bad_alloc&) {
        std::fputs("pev: out of memory\n", err);
        return kExitFailed;
    }
}

} // namespace pev::cli::tool
