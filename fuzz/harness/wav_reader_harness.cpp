#include "harness/wav_reader_harness.hpp"

#include "wav/wav_reader.hpp"

#include <algorithm>
#include <vector>

namespace pev::fuzz {

std::string check_wav_reader(std::span<const std::uint8_t> input) {
    // A copy of its own, so a read past the end lands in a sanitizer's red
    // zone rather than in whatever follows the input.
    const std::vector<std::uint8_t> bytes(input.begin(), input.end());
    const wav::WavReadResult result = wav::parse_wav(bytes);
    if (!result.ok()) {
        if (!result.clip.samples.empty()) {
            return "a refused file still handed out samples";
        }
        return {};
    }
    const std::vector<std::int16_t>& samples = result.clip.samples;
    if (2 * samples.size() > bytes.size()) {
        return "parser holds " + std::to_string(2 * samples.size()) +
               " bytes of samples from a file of " + std::to_string(bytes.size());
    }
    // 16-bit mono PCM is taken as it is: the samples, little-endian, must be
    // one run of the file's bytes.
    std::vector<std::uint8_t> raw;
    raw.reserve(2 * samples.size());
    for (const std::int16_t sample : samples) {
        raw.push_back(static_cast<std::uint8_t>(sample));
        raw.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(sample) >> 8));
    }
    if (!raw.empty() &&
        std::search(bytes.begin(), bytes.end(), raw.begin(), raw.end()) == bytes.end()) {
        return "the samples are not a run of the file's bytes";
    }
    const wav::WavReadResult again = wav::parse_wav(bytes);
    if (!again.ok() || again.clip.samples != samples ||
        again.clip.sample_rate != result.clip.sample_rate) {
        return "parsing the same bytes twice gave two answers";
    }
    return {};
}

} // namespace pev::fuzz
