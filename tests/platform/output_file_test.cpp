#include "platform/files.hpp"
#include "platform/output_file.hpp"
#include "platform/refused_calls.hpp"
#include "platform/temporary_name.hpp"
#include "support/archive_builder.hpp"
#include "support/process.hpp"
#include "support/sync_order.hpp"
#include "support/temp_dir.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pev::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> names_in(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
    }
    return bytes;
}

// Writes as the archive writer does: a header's room, many small pieces, one
// large one, and the header over the room at the end; returns the bytes the
// file must hold.
Bytes write_sample(OutputFile& file) {
    Bytes expected(16, 0);
    EXPECT_FALSE(file.append(expected));
    for (std::uint8_t i = 0; i < 200; ++i) {
        const Bytes piece = pattern(97 + i, i);
        EXPECT_FALSE(file.append(piece));
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    // Over bytes partly still in the buffer.
    const Bytes patch = pattern(40, 99);
    EXPECT_FALSE(file.write_at(expected.size() - 30, {patch.data(), 30}));
    std::copy(patch.begin(), patch.begin() + 30, expected.end() - 30);
    const Bytes large = pattern(300000, 3);
    EXPECT_FALSE(file.append(large));
    expected.insert(expected.end(), large.begin(), large.end());
    const Bytes header = pattern(16, 200);
    EXPECT_FALSE(file.write_at(0, header));
    std::copy(header.begin(), header.end(), expected.begin());
    EXPECT_EQ(file.size(), expected.size());
    return expected;
}

// Unnamed (O_TMPFILE); named from the start; named because /proc is missing.
enum class Way { unnamed, named, no_proc };
constexpr Way kWays[] = {Way::unnamed, Way::named, Way::no_proc};
enum class Target { absent, present, appears }; // appears: after create()

const OutputFileSystemCalls kNamed = named_file_calls();
const OutputFileSystemCalls kNoProc = [] {
    OutputFileSystemCalls calls = OutputFileSystemCalls::host();
    calls.proc_fd_available = no_proc;
    return calls;
}();

OutputFileOptions options_for(Way way, bool replace) {
    const OutputFileSystemCalls* calls = way == Way::named     ? &kNamed
                                         : way == Way::no_proc ? &kNoProc
                                                               : nullptr;
    return {.replace = replace, .sync = true, .system_calls = calls};
}

// A temporary name grows no longer with the final name: one near the longest
// a folder allows (255 bytes nearly everywhere) still works.
std::string long_name(const TempDir& dir) {
    const long longest = pathconf(dir.path().c_str(), _PC_NAME_MAX);
    return std::string(static_cast<std::size_t>(std::min(longest, 255L)) - 9, 'n') + ".pev";
}

const Bytes kOld = {'o', 'l', 'd'};

TEST(OutputFile, EveryWayGivesTheFinalNameOnlyWhenAllowed) {
    for (const Way way : kWays) {
        for (const bool replace : {false, true}) {
            for (const Target target : {Target::absent, Target::present, Target::appears}) {
                SCOPED_TRACE(testing::Message()
                             << "way " << static_cast<int>(way) << " replace " << replace
                             << " target " << static_cast<int>(target));
                const TempDir dir;
                const std::string name = long_name(dir);
                const std::string path = dir.file(name);
                if (target == Target::present) {
                    write_file(path, kOld);
                }
                std::optional<OutputFile> file(std::in_place, path, options_for(way, replace));
                const std::error_code created = file->create();
                if (target == Target::present && !replace) {
                    EXPECT_EQ(created, std::errc::file_exists);
                    EXPECT_EQ(file->failed_step(), OutputStep::create);
                    file.reset();
                    EXPECT_EQ(read_file(path), kOld);
                    EXPECT_EQ(names_in(dir), std::vector<std::string>{name});
                    continue;
                }
                ASSERT_FALSE(created) << created.message();
                // Only the unnamed way shows no file while writing.
                const std::size_t before = target == Target::present ? 1 : 0;
                EXPECT_EQ(names_in(dir).size(), before + (way == Way::unnamed ? 0 : 1));
                if (target == Target::appears) {
                    write_file(path, kOld);
                }
                const Bytes expected = write_sample(*file);
                const std::error_code committed = file->commit();
                file.reset();
                if (target == Target::appears && !replace) {
                    EXPECT_EQ(committed, std::errc::file_exists);
                    EXPECT_EQ(read_file(path), kOld);
                } else {
                    EXPECT_FALSE(committed) << committed.message();
                    EXPECT_EQ(read_file(path), expected);
                }
                EXPECT_EQ(names_in(dir), std::vector<std::string>{name});
            }
        }
    }
}

// Each way the no-replace rename falls back to when the host refuses the
// one before: still never over a file, and no temporary name left.
TEST(OutputFile, NoReplaceRenameFallsBackWhereRefused) {
    struct Case {
        const char* name;
        int (*rename_no_replace)(const char*, const char*);
        int (*link)(const char*, const char*);
    };
    const auto host_link = OutputFileSystemCalls::host().link;
    const Case cases[] = {
        {"old kernel: link then unlink", refused<ENOSYS>, host_link},
        {"file system without renameat2: link then unlink", refused<EINVAL>, host_link},
        {"no hard links: check then rename", refused<EINVAL>, refused<EPERM>},
        {"no hard links (EOPNOTSUPP): check then rename", refused<ENOSYS>, refused<EOPNOTSUPP>},
    };
    for (const Case& c : cases) {
        for (const bool taken : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << ", name taken " << taken);
            OutputFileSystemCalls calls = named_file_calls();
            calls.rename_no_replace = c.rename_no_replace;
            calls.link = c.link;
            const TempDir dir;
            const std::string path = dir.file("out.wav");
            {
                OutputFile file(path, {.system_calls = &calls});
                ASSERT_FALSE(file.create());
                const Bytes bytes = pattern(5000, 1);
                ASSERT_FALSE(file.append(bytes));
                if (taken) {
                    write_file(path, kOld);
                    EXPECT_EQ(file.commit(), std::errc::file_exists);
                    EXPECT_EQ(file.failed_step(), OutputStep::commit);
                    EXPECT_EQ(read_file(path), kOld);
                } else {
                    const std::error_code committed = file.commit();
                    EXPECT_FALSE(committed) << committed.message();
                    EXPECT_EQ(read_file(path), bytes);
                }
            }
            EXPECT_EQ(names_in(dir), std::vector<std::string>{"out.wav"});
        }
    }
}

// What the caller saw under the name only spares a look: a name seen free
// that is taken by the commit is still not replaced unasked, and one seen
// taken that is gone by then is still filled.
TEST(OutputFile, NameSeenSparesALookButNotTheSafety) {
    struct Case {
        NameSeen seen;
        bool replace;
        bool present; // at commit
        bool refused; // as taken
    };
    const Case cases[] = {
        {NameSeen::free, false, true, true},
        {NameSeen::free, true, true, false},
        {NameSeen::taken, true, false, false},
        {NameSeen::taken, true, true, false},
    };
    for (const Way way : kWays) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "way " << static_cast<int>(way) << " seen " << static_cast<int>(c.seen)
                         << " replace " << c.replace << " present " << c.present);
            const TempDir dir;
            const std::string path = dir.file("out.wav");
            OutputFileOptions options = options_for(way, c.replace);
            options.seen = c.seen;
            Bytes expected;
            std::error_code committed;
            {
                OutputFile file(path, options);
                ASSERT_FALSE(file.create());
                expected = write_sample(file);
                if (c.present) {
                    write_file(path, kOld);
                }
                committed = file.commit();
            }
            if (c.refused) {
                EXPECT_EQ(committed, std::errc::file_exists);
            } else {
                EXPECT_FALSE(committed) << committed.message();
            }
            EXPECT_EQ(read_file(path), c.refused ? kOld : expected);
            EXPECT_EQ(names_in(dir), std::vector<std::string>{"out.wav"});
        }
    }
}

// A folder that refused a way of writing is not asked again by the next
// files: the stand-ins count how often they are asked.
int tmpfile_asked = 0;
int rename_asked = 0;
int counting_open(const char* path, int flags, unsigned mode) {
    tmpfile_asked += (flags & O_TMPFILE) == O_TMPFILE ? 1 : 0;
    return open_without_tmpfile(path, flags, mode);
}
int counting_rename(const char* from, const char* to) {
    ++rename_asked;
    return refused<EINVAL>(from, to);
}

TEST(OutputFile, WhatAFolderRefusedIsAskedOnce) {
    OutputFileSystemCalls calls = OutputFileSystemCalls::host();
    calls.open = counting_open;
    calls.rename_no_replace = counting_rename;
    tmpfile_asked = rename_asked = 0;
    const TempDir dir;
    const Bytes bytes = pattern(3000, 4);
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        OutputFile file(dir.file(name), {.system_calls = &calls});
        ASSERT_FALSE(file.create());
        ASSERT_FALSE(file.append(bytes));
        ASSERT_FALSE(file.commit());
        EXPECT_EQ(read_file(dir.file(name)), bytes);
    }
    EXPECT_EQ(tmpfile_asked, 1);
    EXPECT_EQ(rename_asked, 1);
    // Another folder is asked afresh.
    const TempDir other;
    OutputFile file(other.file("d.wav"), {.system_calls = &calls});
    ASSERT_FALSE(file.create());
    EXPECT_EQ(tmpfile_asked, 2);
}

// Temporary names are entered for removal before they exist, which is safe
// only while no other process draws the same ones: a child made by fork
// must not repeat its parent's.
TEST(OutputFile, ForkedChildDrawsOtherTemporaryNames) {
    temporary_name("x"); // the parent has drawn, so its sequence is set
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string name = temporary_name("x");
        _exit(write(channel[1], name.data(), name.size()) == static_cast<ssize_t>(name.size()) ? 0
                                                                                               : 1);
    }
    close(channel[1]);
    char drawn[64] = {};
    const ssize_t got = read(channel[0], drawn, sizeof drawn - 1);
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_GT(got, 0);
    EXPECT_NE(std::string(drawn), temporary_name("x"));
}

// A writer killed between linking a replacing file under its temporary name
// and renaming it leaves that name; the next archive written in the folder
// removes it, and only the names of processes that are gone.
TEST(OutputFile, ArchiveClearsTheTemporaryNamesOfProcessesGone) {
    const pid_t gone = fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) {
        _exit(0);
    }
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const TempDir dir;
    const auto name = [](long pid) { return ".pev-" + std::to_string(pid) + "-0123456789abcdef.tmp"; };
    const std::vector<std::string> kept = {name(getpid()), name(1), ".pev-7.tmp", "a.wav"};
    for (const std::string& file : kept) {
        write_file(dir.file(file), {1});
    }
    write_file(dir.file(name(gone)), {1});
    for (const bool sync : {false, true}) {
        OutputFile file(dir.file("out.pev"), OutputFileOptions{.replace = true, .sync = sync});
        ASSERT_FALSE(file.create());
        ASSERT_FALSE(file.commit());
        // WAV files, which are not synced, do not look.
        EXPECT_EQ(fs::exists(dir.file(name(gone))), !sync);
    }
    for (const std::string& file : kept) {
        EXPECT_TRUE(fs::exists(dir.file(file))) << file;
    }
}

// Files may not grow past this while alive; a write beyond fails with EFBIG
// instead of ending the process.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, SIG_DFL);
    }

  private:
    rlimit saved_;
};

TEST(OutputFile, LeavesNothingWhenAbandonedOrFailed) {
    for (const Way way : kWays) {
        for (const bool write_fails : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "way " << static_cast<int>(way) << " write fails " << write_fails);
            const TempDir dir;
            {
                OutputFile file(dir.file("out.wav"), options_for(way, false));
                ASSERT_FALSE(file.create());
                const Bytes bytes = pattern(200000, 5);
                if (write_fails) {
                    const FileSizeLimit limit(65536);
                    EXPECT_EQ(file.append(bytes), std::errc::file_too_large);
                    EXPECT_EQ(file.failed_step(), OutputStep::write);
                    // The first error stays; nothing is put in place.
                    EXPECT_EQ(file.commit(), std::errc::file_too_large);
                } else {
                    EXPECT_FALSE(file.append(bytes));
                }
            }
            EXPECT_TRUE(names_in(dir).empty());
        }
    }
}

std::vector<int> open_descriptors() {
    std::vector<int> listed;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        listed.push_back(std::stoi(entry.path().filename().string()));
    }
    // Without the listing's own, closed by now.
    std::vector<int> open;
    std::copy_if(listed.begin(), listed.end(), std::back_inserter(open),
                 [](int fd) { return fcntl(fd, F_GETFD) != -1; });
    return open;
}

// Every file the program opens is closed in a program it starts.
TEST(OutputFile, DescriptorsAreClosedOnExec) {
    const TempDir dir;
    write_file(dir.file("in.pev"), kOld);
    const std::vector<int> before = open_descriptors();
    OutputFile unnamed(dir.file("a.wav"));
    OutputFile named(dir.file("b.wav"), {.system_calls = &kNamed});
    ASSERT_FALSE(unnamed.create());
    ASSERT_FALSE(named.create());
    std::FILE* reading = open_for_reading(dir.file("in.pev"));
    std::FILE* writing = open_for_writing(dir.file("c.wav"));
    ASSERT_NE(reading, nullptr);
    ASSERT_NE(writing, nullptr);
    int checked = 0;
    for (const int fd : open_descriptors()) {
        if (std::find(before.begin(), before.end(), fd) == before.end()) {
            EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << fd;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 4);
    std::fclose(reading);
    std::fclose(writing);
}

// A program killed midway through writing leaves no temporary file, and the
// program's own way with the signal stands.
TEST(OutputFile, InterruptedProgramLeavesNothing) {
    struct Disposition {
        const char* name;
        bool survives;
        int exit_status; // when it ends by exiting
    };
    const Disposition dispositions[] = {
        {"default", false, 0}, {"handler", false, 7}, {"ignore", true, 0}};
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        for (const Disposition& disposition : dispositions) {
            SCOPED_TRACE(testing::Message() << "signal " << signal << ", " << disposition.name);
            const TempDir dir;
            int to_child[2];
            int from_child[2];
            ASSERT_EQ(pipe(to_child), 0);
            ASSERT_EQ(pipe(from_child), 0);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                dup2(to_child[0], STDIN_FILENO);
                dup2(from_child[1], STDOUT_FILENO);
                close(to_child[1]);
                close(from_child[0]);
                const std::string folder = dir.path().string();
                execl(PEV_OUTPUT_FILE_CHILD, PEV_OUTPUT_FILE_CHILD, folder.c_str(),
                      disposition.name, static_cast<char*>(nullptr));
                _exit(127);
            }
            close(to_child[0]);
            close(from_child[1]);
            char mark = 0;
            ASSERT_EQ(read(from_child[0], &mark, 1), 1);
            EXPECT_EQ(mark, 'r');
            EXPECT_EQ(names_in(dir).size(), 1u) << "the temporary file stands while writing";
            kill(child, signal);
            close(to_child[1]);
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            close(from_child[0]);
            if (disposition.exit_status == 0 && !disposition.survives) {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
            } else {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == disposition.exit_status)
                    << status;
            }
            EXPECT_TRUE(names_in(dir).empty());
        }
    }
}

// A real run in which the system refuses a call: the program says so and
// leaves nothing.
TEST(OutputFile, RefusedSystemCallLeavesNothing) {
    if (!strace_available()) {
        GTEST_SKIP() << "strace is not installed";
    }
    struct Case {
        const char* mode;
        const char* inject;
        int status;
    };
    const Case cases[] = {
        {"commit", "pwrite64:error=ENOSPC", 3},
        {"commit", "renameat2:error=EIO", 5},
        {"commit-unnamed", "pwrite64:error=EDQUOT", 3},
        {"commit-unnamed", "linkat:error=ENOSPC", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.inject);
        const TempDir dir;
        // The leak checker cannot work under strace.
        const std::string command =
            std::string("ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e inject=") +
            c.inject + " " PEV_OUTPUT_FILE_CHILD " " + dir.path().string() + " " + c.mode +
            " </dev/null >/dev/null";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << status;
        EXPECT_TRUE(names_in(dir).empty());
    }
}

// Where the file system refuses unnamed files, a file to be synced is too,
// before its temporary name becomes the final one, and its folder after.
TEST(OutputFile, NamedFileIsSyncedBeforeItsNameAndItsFolderAfter) {
    if (!strace_available()) {
        GTEST_SKIP() << "strace is not installed";
    }
    const TempDir dir;
    const std::string trace = dir.file("trace.txt");
    const std::string command = std::string("ASAN_OPTIONS=detect_leaks=0 strace -f -o ") + trace +
                                " -e trace=" + kSyncTraceCalls + " " PEV_OUTPUT_FILE_CHILD " " +
                                dir.path().string() + " commit-synced </dev/null >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<std::uint8_t> bytes = read_file(trace);
    const SyncOrder order = sync_order({bytes.begin(), bytes.end()});
    EXPECT_EQ(order.placed, 1);
    EXPECT_EQ(order.problem, "");
}

} // namespace
} // namespace pev::test
