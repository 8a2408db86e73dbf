// pev pack: the packing engine behind Wav2pev, with folders as inputs.

#include "cli/pack_messages.hpp"
#include "cli/pev/archive_file.hpp"
#include "cli/pev/commands.hpp"
#include "pack/pack_inputs.hpp"
#include "pack/wav_packer.hpp"

namespace pev::cli::tool {
namespace {

int report(const Error& error, std::FILE* err) {
    std::fprintf(err, "pev: %s\n", pack_error_text(error).c_str());
    return kExitFailed;
}

// OUT is named with or without .pev, as archives are everywhere else.
std::string output_path(const std::string& name) {
    return has_pev_extension(name) ? name : name + ".pev";
}

} // namespace

int pack_command(const PackOptions& options, const Streams& io) {
    pack::InputList inputs = pack::expand_inputs(options.inputs);
    if (!inputs.error.ok()) {
        return report(inputs.error, io.err);
    }
    pack::PackRequest request;
    request.archive = output_path(options.output);
    request.inputs = std::move(inputs.files);
    if (options.like) {
        request.like = resolve_archive_path(*options.like);
    }
    request.force = options.force;

    pack::PackProgress progress;
    progress.warning = [&io](const std::string& file, const std::string& warning) {
        std::fprintf(io.err, "pev: warning: %s: %s\n", file.c_str(), warning.c_str());
    };
    progress.packed = [&io](const std::string& file, const pack::ClipSummary& clip) {
        std::fprintf(io.out, "%s\n", pack::packed_clip_line(file, clip).c_str());
    };
    const pack::PackOutcome outcome = pack::pack_wav_files(request, progress);
    if (!outcome.ok()) {
        return report(outcome.error, io.err);
    }
    std::fprintf(io.out, "%s\n", pack::packed_archive_line(request.archive, outcome).c_str());
    return kExitOk;
}

} // namespace pev::cli::tool
