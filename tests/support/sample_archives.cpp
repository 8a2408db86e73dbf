#include "support/sample_archives.hpp"

namespace pev::test {

TestEntry silence_then_delta_entry(std::uint16_t id) {
    TestEntry entry;
    entry.id = id;
    // 0xFF 0x0F: escape code 0xFF (step +128, to silence), then code 0.
    // 0x21 0x43: +1, -1, +2, -2 around silence.
    entry.block_sizes = {0, 4};
    entry.bytes = {0xFF, 0x0F, 0x21, 0x43};
    return entry;
}

TestEntry raw_ramp_entry(std::uint16_t id) {
    TestEntry entry;
    entry.id = id;
    entry.block_sizes = {1024};
    for (int i = 0; i < 1024; ++i) {
        entry.bytes.push_back(static_cast<std::uint8_t>(i));
    }
    return entry;
}

TestEntry cross_block_escape_entry(std::uint16_t id) {
    TestEntry entry;
    entry.id = id;
    // Block 1 (3 bytes): codes 1, 3, 5, 7, 9, then an escape begun in its
    // last nibble whose code is the next stored byte, 0x3C.
    // Block 2 (2 bytes): 0x3C 0x21 decoded again as its own: 12, 3, 1, 2.
    entry.block_sizes = {3, 2};
    entry.bytes = {0x31, 0x75, 0xF9, 0x3C, 0x21};
    return entry;
}

TestArchive three_clip_archive() {
    TestArchive archive;
    archive.entries = {silence_then_delta_entry(10), raw_ramp_entry(11),
                       cross_block_escape_entry(12)};
    return archive;
}

TestEntry silent_entry(std::uint16_t id, std::size_t blocks) {
    TestEntry entry;
    entry.id = id;
    entry.block_sizes.assign(blocks, 0);
    return entry;
}

TestArchive single_clip_archive(TestEntry entry) {
    TestArchive archive;
    archive.entries = {std::move(entry)};
    return archive;
}

} // namespace pev::test
