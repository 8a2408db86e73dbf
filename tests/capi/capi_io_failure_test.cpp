// A real run in which the system refuses a read: the player-style example
// streams a clip while strace makes pread(2) fail from some call on. It must
// stop with PEV_ERR_IO and the system's reason, and what it streamed before
// must be the clip's true samples, never zeros standing in for what failed.

#include "support/archive_builder.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace pev::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string kDemo = PEV_SOURCE_DIR "/examples/demo.pev";

// The example streams across a hundred block boundaries; a reader that
// stops making progress at one fails here in 20 s, not at the test's limit.
std::string stream_command(const std::string& out, const std::string& err) {
    return "timeout 20 " + std::string(PEV_STREAM_EXAMPLE) + " " + kDemo + " 3 1.5 >" + out +
           " 2>" + err;
}

TEST(CapiFiles, ReadRefusedMidwayStopsWithIoError) {
    if (!strace_available()) {
        GTEST_SKIP() << "strace is not installed";
    }
    const TempDir dir;
    const std::string whole = dir.file("whole.raw");
    ASSERT_EQ(std::system(stream_command(whole, dir.file("whole.err")).c_str()), 0);
    const Bytes expected = read_file(whole);
    ASSERT_EQ(expected.size(), 2u * (122202 - 33075));
    // pread(2) of the archive refused from its 2nd call on (while it is
    // opened), its 10th (while the reader scans the clip, a read a block) or
    // its 100th (while the clip streams, from the 85th on).
    for (const int from : {2, 10, 100}) {
        SCOPED_TRACE(from);
        const std::string out = dir.file("part.raw");
        const std::string command = "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -P " +
                                    kDemo +
                                    " -e inject=pread64:error=EIO:when=" + std::to_string(from) +
                                    "+ " + stream_command(out, dir.file("part.err"));
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        const Bytes err = read_file(dir.file("part.err"));
        EXPECT_NE(std::string(err.begin(), err.end())
                      .find("a read failed or came up short (Input/output error)"),
                  std::string::npos)
            << std::string(err.begin(), err.end());
        const Bytes part = read_file(out);
        EXPECT_EQ(part.empty(), from < 100);
        EXPECT_LT(part.size(), expected.size());
        EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.begin()));
    }
}

} // namespace
} // namespace pev::test
