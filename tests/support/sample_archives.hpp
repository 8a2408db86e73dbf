#pragma once
// Small archives shared by the tests: a few clips with every kind of block.

#include "support/archive_builder.hpp"

namespace pev::test {

// A silent block followed by a delta block that opens with an escape to
// silence and wanders around it.
TestEntry silence_then_delta_entry(std::uint16_t id);

// One raw block: a ramp through every stored byte value, four times.
TestEntry raw_ramp_entry(std::uint16_t id);

// Two delta blocks; the first ends with an escape begun in its last nibble,
// which takes the second block's first byte as its code.
TestEntry cross_block_escape_entry(std::uint16_t id);

// The three entries above, in that order, with ids 10, 11 and 12.
TestArchive three_clip_archive();

// An entry of `blocks` silent blocks.
TestEntry silent_entry(std::uint16_t id, std::size_t blocks);

// An archive of `entry` alone.
TestArchive single_clip_archive(TestEntry entry);

} // namespace pev::test
