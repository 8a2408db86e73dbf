// A player reads and seeks on its audio thread: once a reader is open, those
// calls must take no memory. Every operator new of the process (the
// library's included) is counted while they run (allocation_counter.cpp).

#include "capi/allocation_counter.hpp"
#include "capi/capi_support.hpp"
#include "support/archive_builder.hpp"

#include <gtest/gtest.h>

namespace pev::test {
namespace {

TEST(CapiStreaming, ReadingAndSeekingTakeNoMemory) {
    const Bytes demo = read_file(PEV_SOURCE_DIR "/examples/demo.pev");
    for (const bool from_file : {true, false}) {
        const ArchiveHandle archive =
            from_file ? open_path(PEV_SOURCE_DIR "/examples/demo.pev") : open_bytes(demo);
        pev_reader* reader = nullptr;
        ASSERT_EQ(pev_reader_open(archive.get(), 2, &reader), PEV_OK);
        std::int16_t frames[777];
        std::size_t got = 0;
        start_counting_allocations();
        for (const std::uint64_t at : {0, 100000, 5, 122202, 61000}) {
            EXPECT_EQ(pev_reader_seek(reader, at), PEV_OK);
            for (int i = 0; i < 30; ++i) {
                EXPECT_EQ(pev_reader_read(reader, frames, 777, &got), PEV_OK);
            }
        }
        const int allocations = stop_counting_allocations();
        pev_reader_close(reader);
        EXPECT_EQ(allocations, 0) << (from_file ? "file" : "memory");
    }
}

} // namespace
} // namespace pev::test
