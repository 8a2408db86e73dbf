#include "sound/recording_converter.hpp"

#include "codec/block_encoder.hpp"
#include "pack/archive_packer.hpp"
#include "sound/recording_file.hpp"
#include "sound/resampler.hpp"
#include "wav/quantiser.hpp"

#include <optional>

namespace pev::sound {
namespace {

constexpr std::size_t kFramesPerRead = 4096;

// Brings floats to 16 bits and hands them on.
class Output {
  public:
    Output(pack::SampleSink& sink, bool dither) : sink_(sink), quantiser_(dither) {}

    void take(std::span<const float> samples) {
        while (!samples.empty()) {
            const std::size_t count = std::min(samples.size(), run_.size());
            quantiser_.quantise(samples.first(count), run_);
            sink_.take(std::span<const std::int16_t>(run_.data(), count));
            samples = samples.subspan(count);
        }
    }

    std::uint64_t clipped() const { return quantiser_.clipped(); }

  private:
    pack::SampleSink& sink_;
    wav::Quantiser quantiser_;
    std::vector<std::int16_t> run_ = std::vector<std::int16_t>(kFramesPerRead);
};

// A recording whose length is known exactly and whose clip, once
// resampled, could not fit is refused before any of it is read.
Error check_length(const RecordingFile& recording, std::uint32_t rate) {
    if (!recording.frames()) {
        return {};
    }
    const auto samples = static_cast<std::uint64_t>(
        static_cast<double>(*recording.frames()) * rate / recording.rate() + 0.5);
    const std::uint64_t blocks = blocks_for_samples(samples);
    if (blocks <= pack::kMaxBlocksPerClip) {
        return {};
    }
    Error error = error_about(ErrorCode::clip_too_long, "");
    error.value = samples;
    error.limit = blocks;
    return error;
}

// Collects the samples of one clip, refusing more than a clip holds.
class SampleVector final : public pack::SampleSink {
  public:
    void take(std::span<const std::int16_t> samples) override {
        count_ += samples.size();
        if (count_ <= pack::kMaxBlocksPerClip * 1024) {
            samples_.insert(samples_.end(), samples.begin(), samples.end());
        }
    }
    std::vector<std::int16_t> samples_;
    std::uint64_t count_ = 0;
};

} // namespace

Error RecordingConverter::convert(const std::string& path, const pack::ConvertTarget& target,
                                  pack::SampleSink& sink, pack::Conversion& done) const {
    Error error;
    const std::unique_ptr<RecordingFile> recording = RecordingFile::open(path, error);
    if (!recording) {
        return error;
    }
    const std::uint32_t rate = target.rate != 0 ? target.rate : recording->rate();
    if (rate != recording->rate() && !target.resample) {
        error = error_about(ErrorCode::rate_mismatch, path);
        error.value = recording->rate();
        error.limit = rate;
        return error;
    }
    if (error = check_length(*recording, rate); !error.ok()) {
        error.subject = path;
        return error;
    }
    done.rate = rate;
    done.description = recording->description() + " -> " + std::to_string(rate) + " Hz mono";

    const auto channels = static_cast<std::size_t>(recording->channels());
    std::vector<float> interleaved(kFramesPerRead * channels);
    std::vector<float> mono(kFramesPerRead);
    Output output(sink, dither_);
    std::optional<Resampler> resampler;
    if (rate != recording->rate()) {
        resampler.emplace(recording->rate(), rate);
    }
    const Resampler::Emit emit = [&output](std::span<const float> samples) {
        output.take(samples);
    };
    std::uint64_t frames_read = 0;
    while (const std::size_t frames = recording->read(interleaved, kFramesPerRead)) {
        frames_read += frames;
        for (std::size_t frame = 0; frame < frames; ++frame) {
            // The mean of the channels: a sound in both of two channels
            // keeps its level, one in only one of them comes out at half.
            float sum = 0.0f;
            for (std::size_t channel = 0; channel < channels; ++channel) {
                sum += interleaved[frame * channels + channel];
            }
            mono[frame] = channels == 1 ? sum : sum / static_cast<float>(channels);
        }
        const std::span<const float> run(mono.data(), frames);
        if (resampler) {
            resampler->push(run, emit);
        } else {
            output.take(run);
        }
    }
    if (const std::string problem = recording->read_problem(frames_read); !problem.empty()) {
        error = error_about(ErrorCode::wav_refused, path);
        error.detail = problem;
        return error;
    }
    if (resampler) {
        resampler->flush(emit);
    }
    done.clipped = output.clipped();
    return {};
}

Recording read_recording(const std::string& path, std::uint32_t rate, bool dither) {
    Recording recording;
    SampleVector samples;
    pack::Conversion done;
    recording.error =
        RecordingConverter(dither).convert(path, pack::ConvertTarget{rate, true}, samples, done);
    if (recording.error.ok() && samples.count_ > pack::kMaxBlocksPerClip * 1024) {
        recording.error = error_about(ErrorCode::clip_too_long, path);
        recording.error.value = samples.count_;
        recording.error.limit = blocks_for_samples(samples.count_);
    }
    if (!recording.error.ok()) {
        return recording;
    }
    recording.samples = std::move(samples.samples_);
    recording.rate = done.rate;
    recording.description = std::move(done.description);
    recording.clipped = done.clipped;
    return recording;
}

} // namespace pev::sound
