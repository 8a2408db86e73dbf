#include "pack/replacement_input.hpp"

#include "pack/archive_packer.hpp"
#include "pack/converted_clip.hpp"
#include "wav/wav_reader.hpp"

#include <algorithm>

namespace pev::pack {

ReplacementSamples read_replacement(const std::string& path, std::uint32_t archive_rate) {
    ReplacementSamples result;
    wav::WavReadResult read = wav::read_wav_file(path);
    if (!read.ok()) {
        result.error = error_about(ErrorCode::wav_refused, path);
        result.error.detail = read.error;
        return result;
    }
    result.warnings = std::move(read.clip.warnings);
    // The packer would take the first clip's rate as the archive's; here the
    // archive has one already.
    if (read.clip.sample_rate != archive_rate) {
        result.error = error_about(ErrorCode::rate_mismatch, path);
        result.error.value = read.clip.sample_rate;
        result.error.limit = archive_rate;
        return result;
    }
    if (Error error = check_clip(read.clip.samples.size(), read.clip.sample_rate, archive_rate);
        !error.ok()) {
        error.subject = path;
        result.error = std::move(error);
        return result;
    }
    result.samples = std::move(read.clip.samples);
    return result;
}

ReplacementRoute route_replacement(const std::string& path, std::uint32_t archive_rate,
                                   const InputConverter* converter) {
    ReplacementRoute route;
    // Another kind of recording is not read whole first.
    route.convert = converter != nullptr && for_the_converter(path, archive_rate);
    if (!route.convert) {
        route.read = read_replacement(path, archive_rate);
        const ErrorCode refused = route.read.error.code;
        route.convert = converter != nullptr &&
                        (refused == ErrorCode::wav_refused || refused == ErrorCode::rate_mismatch);
    }
    return route;
}

namespace {

// Counts the samples a conversion hands over.
class CountingSink final : public SampleSink {
  public:
    void take(std::span<const std::int16_t> samples) override { count += samples.size(); }
    std::uint64_t count = 0;
};

// Keeps the samples of a conversion, up to one more than a clip may hold.
class CollectingSink final : public SampleSink {
  public:
    void take(std::span<const std::int16_t> samples) override {
        count += samples.size();
        const std::size_t room = kMostSamples + 1 - std::min(kept.size(), kMostSamples + 1);
        kept.insert(kept.end(), samples.begin(), samples.begin() + std::min(room, samples.size()));
    }
    static constexpr std::size_t kMostSamples = kMaxBlocksPerClip * 1024;
    std::vector<std::int16_t> kept;
    std::uint64_t count = 0;
};

} // namespace

ReplacementSamples load_replacement(const std::string& path, std::uint32_t archive_rate,
                                    const InputConverter* converter, Conversion& done) {
    ReplacementRoute route = route_replacement(path, archive_rate, converter);
    if (!route.convert) {
        return std::move(route.read);
    }
    ReplacementSamples result;
    CollectingSink collected;
    result.error = converter->convert(path, ConvertTarget{archive_rate, true}, collected, done);
    if (result.error.ok()) {
        result.error = check_clip(collected.count, archive_rate, archive_rate);
        if (!result.error.ok()) {
            result.error.subject = path;
        }
    }
    if (result.error.ok()) {
        result.samples = std::move(collected.kept);
    }
    return result;
}

Error judge_replacement(const std::string& path, std::uint32_t archive_rate,
                        const InputConverter* converter) {
    const ReplacementRoute route = route_replacement(path, archive_rate, converter);
    if (!route.convert) {
        return route.read.error;
    }
    CountingSink counted;
    Conversion done;
    Error error = converter->convert(path, ConvertTarget{archive_rate, true}, counted, done);
    if (error.ok()) {
        error = check_clip(counted.count, archive_rate, archive_rate);
        if (!error.ok()) {
            error.subject = path;
        }
    }
    return error;
}

} // namespace pev::pack
