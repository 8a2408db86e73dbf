#include "cli/wav2pev_main.hpp"

#include "cli/guarded_run.hpp"
#include "cli/output_check.hpp"
#include "cli/pack_messages.hpp"
#include "common/version.hpp"
#include "pack/pack_inputs.hpp"
#include "pack/wav_packer.hpp"

#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace pev::cli {
namespace {

constexpr const char* kUsage =
    "Usage: Wav2pev [--force] [--like ARCHIVE.pev] BASE [FILE.wav...]\n"
    "Packs 16-bit mono PCM WAV files into the voice archive BASE.pev.\n"
    "\n"
    "  Wav2pev BASE              packs BASE_0001.wav, BASE_0002.wav, ...\n"
    "                            up to the first missing number\n"
    "  Wav2pev BASE FILE.wav...  packs the named files, in that order\n"
    "\n"
    "Options:\n"
    "  --like ARCHIVE.pev  keep the entry ids and the unused header bytes of\n"
    "                      ARCHIVE.pev, which must hold as many clips\n"
    "  --force             replace BASE.pev if it exists\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n";

struct Options {
    bool help = false;
    bool version = false;
    bool force = false;
    std::optional<std::string> like;
    std::string base;
    std::vector<std::string> inputs;
};

// Parses the command line; an error message when it makes no sense.
std::string parse_options(std::span<const std::string> args, Options& options) {
    bool positional_only = false;
    bool have_base = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (positional_only || arg.size() < 2 || arg[0] != '-') {
            if (!have_base) {
                options.base = arg;
                have_base = true;
            } else {
                options.inputs.push_back(arg);
            }
        } else if (arg == "--") {
            positional_only = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--like") {
            if (i + 1 == args.size()) {
                return "--like needs an archive";
            }
            options.like = args[++i];
        } else if (arg.rfind("--like=", 0) == 0) {
            options.like = arg.substr(7);
        } else {
            return "unknown option " + arg;
        }
    }
    if (!have_base && !options.help && !options.version) {
        return "no BASE given";
    }
    if (have_base && options.base.empty()) {
        return "BASE is empty";
    }
    return "";
}

// Packs with the engine and prints its progress, its warnings and its
// outcome as this program's lines.
int pack(const Options& options, std::FILE* out, std::FILE* err) {
    const auto report = [err](const Error& error) {
        std::fprintf(err, "Wav2pev: %s\n", pack_error_text(error).c_str());
        return kExitFailed;
    };
    pack::PackRequest request;
    request.archive = options.base + ".pev";
    request.like = options.like;
    request.force = options.force;
    if (!options.inputs.empty()) {
        request.inputs = options.inputs;
    } else {
        pack::InputList numbered = pack::numbered_inputs(options.base);
        if (!numbered.error.ok()) {
            return report(numbered.error);
        }
        request.inputs = std::move(numbered.files);
    }
    pack::PackProgress progress;
    progress.warning = [err](const std::string& file, const std::string& warning) {
        std::fprintf(err, "Wav2pev: warning: %s: %s\n", file.c_str(), warning.c_str());
    };
    progress.packed = [out](const std::string& file, const pack::ClipSummary& clip) {
        std::fprintf(out, "%s\n", pack::packed_clip_line(file, clip).c_str());
    };
    const pack::PackOutcome outcome = pack::pack_wav_files(request, progress);
    if (!outcome.ok()) {
        return report(outcome.error);
    }
    std::fprintf(out, "%s\n", pack::packed_archive_line(request.archive, outcome).c_str());
    return kExitPacked;
}

int run_wav2pev_unchecked(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
    Options options;
    if (const std::string error = parse_options(args, options); !error.empty()) {
        std::fprintf(err, "Wav2pev: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, out);
        return kExitPacked;
    }
    if (options.version) {
        std::fprintf(out, "Wav2pev version %s\n", kVersion);
        return kExitPacked;
    }
    return run_guarded("Wav2pev", err, [&] { return pack(options, out, err); });
}

} // namespace

int run_wav2pev(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
    const int status = run_wav2pev_unchecked(args, out, err);
    if (const std::string failure = output_failure(out); !failure.empty()) {
        std::fprintf(err, "Wav2pev: cannot write to standard output: %s\n", failure.c_str());
        return kExitFailed;
    }
    return status;
}

} // namespace pev::cli
