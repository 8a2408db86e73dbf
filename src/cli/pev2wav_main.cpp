#include "cli/pev2wav_main.hpp"

#include "cli/pev2wav_extract.hpp"
#include "platform/files.hpp"

namespace pev::cli {

int run_pev2wav(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
    std::fputs("Pev2wav version 0.36a / 2002.3 \n\n", out);
    if (args.size() <= 1) {
        std::fputs("Usage: PEV2WAV filename   (wild cards * and ? NG!)\n", out);
        return 0;
    }
    // The decoder's tables are compile-time constants: nothing to build here.
    const std::string& base_name = args[1];
    // The extension is always appended, even when the user typed it.
    const std::string archive_path = base_name + ".pev";
    std::FILE* archive = open_for_reading(archive_path);
    if (archive == nullptr) {
        std::fprintf(out, "File open error: %s\n", archive_path.c_str());
        return 0;
    }
    std::fprintf(out, "Searching for: %s\n", archive_path.c_str());

    cli::ExtractOptions options;
    options.out = out;
    options.err = err;
    const int result = cli::extract_archive(base_name, archive, options);
    std::fclose(archive);

    if (result > 0) {
        std::fprintf(out, "\nTotal files extracted: %d\n", result);
    } else {
        std::fputs("\n...Extract error !?\n", out);
    }
    return 0;
}

} // namespace pev::cli
