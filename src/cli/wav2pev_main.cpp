#include "cli/wav2pev_main.hpp"

#include "archive/archive_layout.hpp"
#include "archive/archive_writer.hpp"
#include "archive/extract.hpp"
#include "codec/block_encoder.hpp"
#include "platform/files.hpp"
#include "platform/utf8_path.hpp"
#include "wav/wav_reader.hpp"

#include <cerrno>
#include <cinttypes>
#include <filesystem>
#include <new>
#include <optional>
#include <random>
#include <system_error>
#include <vector>

namespace pev::cli {
namespace {

constexpr const char* kVersion = "0.36";
constexpr std::uint64_t kMaxBlocksPerClip = 0xFFFF;

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

bool exists(const std::string& name) {
    std::error_code ignored;
    return std::filesystem::exists(path_from_utf8(name), ignored);
}

// The temporary archive lives beside the real one, so the final rename stays
// within one file system; the random part keeps two runs apart.
std::string temporary_name(const std::string& archive) {
    std::random_device random;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    return archive + suffix;
}

class Packer {
  public:
    Packer(const Options& options, std::FILE* out, std::FILE* err)
        : options_(options), out_(out), err_(err), archive_name_(options.base + ".pev") {}
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;

    // Whatever ends the run early, an exception included, the temporary
    // archive goes with it.
    ~Packer() {
        if (!committed_ && !temp_name_.empty()) {
            discard_temp();
        }
    }

    int run() {
        if (!collect_inputs() || !check_target() || !read_template()) {
            return kExitFailed;
        }
        const std::string temp_name = temporary_name(archive_name_);
        temp_ = open_for_writing(temp_name);
        if (temp_ == nullptr) {
            return fail(temp_name, "cannot create it: " + std::generic_category().message(errno));
        }
        temp_name_ = temp_name;
        if (!pack_all() || !finish()) {
            return kExitFailed;
        }
        committed_ = true;
        std::fprintf(
            out_,
            "Packed %zu clip%s, %" PRIu64 " samples, into %s: %" PRIu64
            " bytes (%.1f%% of the %" PRIu64 " bytes of samples)\n",
            inputs_.size(), inputs_.size() == 1 ? "" : "s", total_samples_, archive_name_.c_str(),
            archive_bytes_,
            total_samples_ == 0 ? 0.0 : 100.0 * double(archive_bytes_) / double(2 * total_samples_),
            2 * total_samples_);
        return kExitPacked;
    }

  private:
    int fail(const std::string& name, const std::string& reason) {
        std::fprintf(err_, "Wav2pev: %s: %s\n", name.c_str(), reason.c_str());
        return kExitFailed;
    }

    bool collect_inputs() {
        if (!options_.inputs.empty()) {
            inputs_ = options_.inputs;
        } else {
            for (int position = 1; position <= archive::kMaxWaveFiles; ++position) {
                const std::string name = archive::clip_file_name(options_.base, position);
                if (!exists(name)) {
                    break;
                }
                inputs_.push_back(name);
            }
            if (inputs_.empty()) {
                fail(archive::clip_file_name(options_.base, 1),
                     "not found, so there is nothing to pack");
                return false;
            }
            if (inputs_.size() == archive::kMaxWaveFiles &&
                exists(archive::clip_file_name(options_.base, archive::kMaxWaveFiles + 1))) {
                fail(archive::clip_file_name(options_.base, archive::kMaxWaveFiles + 1),
                     "an archive holds at most 9999 clips");
                return false;
            }
        }
        if (inputs_.size() > static_cast<std::size_t>(archive::kMaxWaveFiles)) {
            fail(archive_name_,
                 std::to_string(inputs_.size()) + " clips given; an archive holds at most 9999");
            return false;
        }
        return true;
    }

    bool check_target() {
        if (!options_.force && exists(archive_name_)) {
            fail(archive_name_, "already exists; use --force to replace it");
            return false;
        }
        return true;
    }

    bool read_template() {
        if (!options_.like) {
            kept_.entry_ids.resize(inputs_.size());
            for (std::size_t i = 0; i < inputs_.size(); ++i) {
                kept_.entry_ids[i] = static_cast<std::uint16_t>(i);
            }
            return true;
        }
        const std::string& like = *options_.like;
        std::FILE* file = open_for_reading(like);
        if (file == nullptr) {
            fail(like, "cannot open it: " + std::generic_category().message(errno));
            return false;
        }
        archive::TemplateReadResult read = archive::read_archive_template(file);
        std::fclose(file);
        if (!read.ok()) {
            fail(like, read.error);
            return false;
        }
        if (read.kept.entry_ids.size() != inputs_.size()) {
            fail(like, "it holds " + std::to_string(read.kept.entry_ids.size()) + " clips, but " +
                           std::to_string(inputs_.size()) + " are being packed");
            return false;
        }
        kept_ = std::move(read.kept);
        return true;
    }

    bool pack_all() {
        archive::FileSink sink(temp_);
        archive::ArchiveWriter writer(sink, inputs_.size());
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            if (!pack_one(writer, i)) {
                return false;
            }
        }
        if (const std::string error = writer.finish(rate_, kept_.header); !error.empty()) {
            fail(temp_name_, error);
            return false;
        }
        archive_bytes_ = writer.size();
        return true;
    }

    bool pack_one(archive::ArchiveWriter& writer, std::size_t index) {
        const std::string& name = inputs_[index];
        const wav::WavReadResult read = wav::read_wav_file(name);
        if (!read.ok()) {
            fail(name, read.error);
            return false;
        }
        for (const std::string& warning : read.clip.warnings) {
            std::fprintf(err_, "Wav2pev: warning: %s: %s\n", name.c_str(), warning.c_str());
        }
        if (index == 0) {
            rate_ = read.clip.sample_rate;
        } else if (read.clip.sample_rate != rate_) {
            fail(name, "its sample rate is " + std::to_string(read.clip.sample_rate) +
                           " Hz, but the clips before it are at " + std::to_string(rate_) +
                           " Hz; all clips of an archive share one rate");
            return false;
        }
        const std::uint64_t blocks = blocks_for_samples(read.clip.samples.size());
        if (blocks > kMaxBlocksPerClip) {
            fail(name, "its " + std::to_string(read.clip.samples.size()) + " samples need " +
                           std::to_string(blocks) +
                           " blocks of 1024; a clip holds at most 65535 blocks");
            return false;
        }
        const EncodedEntry entry = encode_entry(read.clip.samples);
        if (const std::string error =
                writer.add_entry(kept_.entry_ids[index], entry.block_sizes, entry.bytes);
            !error.empty()) {
            fail(name, error);
            return false;
        }
        total_samples_ += entry.sample_count;
        std::fprintf(out_,
                     "Packed: %s (%zu samples, %zu block%s: %zu silent, %zu raw, %zu delta, "
                     "%zu bytes)%s\n",
                     name.c_str(), read.clip.samples.size(), entry.block_sizes.size(),
                     entry.block_sizes.size() == 1 ? "" : "s", entry.silent_blocks,
                     entry.raw_blocks, entry.delta_blocks,
                     entry.bytes.size() + 2 * entry.block_sizes.size(),
                     entry.padded ? " + 1 sample repeating the last, for its odd length" : "");
        return true;
    }

    bool finish() {
        const bool closed = std::fclose(temp_) == 0;
        temp_ = nullptr;
        if (!closed) {
            fail(temp_name_, "cannot write it: " + std::generic_category().message(errno));
            return false;
        }
        // Checked again at the last moment: another program may have made
        // the archive while this one was packing.
        if (!options_.force && exists(archive_name_)) {
            fail(archive_name_, "already exists; use --force to replace it");
            return false;
        }
        std::error_code error;
        std::filesystem::rename(path_from_utf8(temp_name_), path_from_utf8(archive_name_), error);
        if (error) {
            fail(archive_name_, "cannot put it in place: " + error.message());
            return false;
        }
        return true;
    }

    void discard_temp() {
        if (temp_ != nullptr) {
            std::fclose(temp_);
            temp_ = nullptr;
        }
        std::error_code ignored;
        std::filesystem::remove(path_from_utf8(temp_name_), ignored);
    }

    const Options& options_;
    std::FILE* out_;
    std::FILE* err_;
    std::string archive_name_;
    std::vector<std::string> inputs_;
    archive::ArchiveTemplate kept_;
    std::string temp_name_;
    std::FILE* temp_ = nullptr;
    std::uint32_t rate_ = 0;
    std::uint64_t total_samples_ = 0;
    std::uint64_t archive_bytes_ = 0;
    bool committed_ = false;
};

} // namespace

int run_wav2pev(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
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
    try {
        return Packer(options, out, err).run();
    } catch (const std::bad_alloc&) {
        std::fputs("Wav2pev: out of memory\n", err);
        return kExitFailed;
    }
}

} // namespace pev::cli
