// Several threads decoding clips of one open archive at once must get what
// one thread gets alone. Run under ThreadSanitizer, this also shows the
// library races on nothing (the file's position, the counts it keeps).

#include "capi/capi_support.hpp"
#include "support/archive_builder.hpp"

#include <gtest/gtest.h>
#include <thread>

namespace pev::test {
namespace {

const std::string kDemo = PEV_SOURCE_DIR "/examples/demo.pev";

TEST(CapiThreads, DifferentClipsOfOneArchiveAtOnce) {
    const Bytes bytes = read_file(kDemo);
    std::vector<Bytes> expected;
    {
        const ArchiveHandle alone = open_bytes(bytes);
        for (std::size_t i = 0; i < 3; ++i) {
            expected.push_back(decode_wav(alone.get(), i));
        }
    }
    constexpr std::size_t kThreads = 4;
    for (const bool from_file : {true, false}) {
        // A fresh archive: the threads also race to count the clips first.
        const ArchiveHandle archive = from_file ? open_path(kDemo) : open_bytes(bytes);
        std::vector<int> mismatches(kThreads, 0);
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (std::size_t round = 0; round < 6; ++round) {
                    const std::size_t clip = (t + round) % 3;
                    pev_clip_info info{};
                    mismatches[t] += pev_get_clip_info(archive.get(), clip, &info) != PEV_OK ||
                                     44 + 2 * info.sample_count != expected[clip].size();
                    mismatches[t] += decode_wav(archive.get(), clip) != expected[clip];
                    mismatches[t] += 44 + 2 * decode_samples(archive.get(), clip).size() !=
                                     expected[clip].size();
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        for (std::size_t t = 0; t < kThreads; ++t) {
            EXPECT_EQ(mismatches[t], 0) << "thread " << t << (from_file ? " file" : " memory");
        }
    }
}

} // namespace
} // namespace pev::test
