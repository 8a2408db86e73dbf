#include "cli/pev/replace_plan.hpp"

#include "cli/pev/loudness_support.hpp"
#include "pack/replacement_input.hpp"

namespace pev::cli::tool {
namespace {

void judge_length(const LengthLimits& limits, PlannedClip& planned) {
    if (!planned.clip_known) {
        return;
    }
    if (planned.old_samples == 0) {
        planned.length = planned.new_samples > 0 && limits.longer ? LengthVerdict::longer
                                                                  : LengthVerdict::within;
        return;
    }
    const double change =
        (static_cast<double>(planned.new_samples) - static_cast<double>(planned.old_samples)) *
        100.0 / static_cast<double>(planned.old_samples);
    planned.change_percent = change;
    if (limits.longer && change > *limits.longer) {
        planned.length = LengthVerdict::longer;
    } else if (limits.shorter && -change > *limits.shorter) {
        planned.length = LengthVerdict::shorter;
    }
}

} // namespace

Error plan_clip(const archive::ArchiveReader& reader, std::size_t index, const std::string& file,
                const PlanOptions& options, PlannedClip& planned) {
    const std::uint32_t rate = reader.sample_rate();
    planned.index = index;
    planned.id = reader.row(index).id;
    planned.file = file;

    pack::Conversion done;
    const pack::ReplacementSamples read =
        pack::load_replacement(file, rate, options.converter, done);
    if (!read.error.ok()) {
        return read.error;
    }
    planned.new_samples = read.samples.size();
    planned.conversion = done.description;

    archive::ClipBuffers buffers;
    const archive::ClipInfo info = reader.inspect(index, buffers);
    planned.clip_known = info.ok();
    if (planned.clip_known) {
        const wav::Frame frame = reader.decode(info, buffers);
        planned.old_samples = frame.sample_count();
        if (options.measure || options.match) {
            planned.old_loudness = measure_loudness(frame.samples(), rate);
        }
    }
    judge_length(options.limits, planned);
    if (options.measure || options.match) {
        planned.new_loudness = measure_loudness(read.samples, rate);
    }
    if (options.match && planned.old_loudness && planned.new_loudness) {
        planned.match = loudness::match_as_stored(
            *planned.old_loudness, *planned.new_loudness, read.samples, options.dither,
            [rate](std::span<const std::int16_t> samples) {
                return measure_loudness(samples, rate).value_or(loudness::ClipLoudness{});
            });
    }
    return {};
}

} // namespace pev::cli::tool
