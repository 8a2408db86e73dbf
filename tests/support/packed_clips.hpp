#pragma once
// Archives packed from samples by the packing engine itself, for tests that
// need real clips (speech-like ones) rather than hand-made entries.

#include "archive/byte_sink.hpp"
#include "pack/archive_packer.hpp"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace pev::test {

// The bytes of an archive at `rate` holding `clips`, ids 0, 1, ...
inline std::vector<std::uint8_t> packed_archive(const std::vector<std::vector<std::int16_t>>& clips,
                                                std::uint32_t rate) {
    archive::MemorySink sink;
    const pack::LayoutResult layout = pack::layout_for(clips.size(), nullptr);
    pack::ArchivePacker packer(sink, layout.layout);
    for (const std::vector<std::int16_t>& clip : clips) {
        if (!packer.add_clip(clip, rate).ok()) {
            throw std::runtime_error("a test clip could not be packed");
        }
    }
    if (!packer.finish().ok()) {
        throw std::runtime_error("a test archive could not be finished");
    }
    return sink.take();
}

} // namespace pev::test
