// The mounted folder's meaning, call by call as the kernel makes them but
// without a mount: how programs save (a shell's first close of a still-empty
// file, a refused draft kept open for the descriptors that remain, truncation
// and times by handle, a clip removed and made again, a file renamed over a
// clip while open), what the folder shows after every save, refusal and
// rewrite, and the pauses between rewrites that fail.

#include "mount/mount_tree.hpp"
#include "pack/clip_replacer.hpp"
#include "support/archive_builder.hpp"
#include "support/sample_archives.hpp"
#include "support/step_bound.hpp"
#include "support/temp_dir.hpp"
#include "wav/frame.hpp"
#include "wav/wav_writer.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <thread>

namespace pev::test {
namespace {

using namespace std::chrono_literals;
using mount::MountEvent;
using mount::OpenFile;
using mount::Rewrite;
using Bytes = std::vector<std::uint8_t>;

// A WAV file of `count` samples at the archive's 22050 Hz.
Bytes wav_of(std::size_t count, int seed) {
    const auto header = wav::make_header(static_cast<std::uint32_t>(count * 2), 1, 22050);
    Bytes bytes(header.begin(), header.end());
    for (std::size_t i = 0; i < count; ++i) {
        const auto sample = static_cast<std::uint16_t>((seed + static_cast<int>(i) * 37) % 20000);
        bytes.push_back(static_cast<std::uint8_t>(sample));
        bytes.push_back(static_cast<std::uint8_t>(sample >> 8));
    }
    return bytes;
}

const Bytes kText = {'n', 'o', 't', ' ', 'a', ' ', 'W', 'A', 'V', ' ', 'f', 'i', 'l', 'e'};

std::shared_ptr<const mount::ArchiveGeneration> generation_of(const std::string& path) {
    OpenResult refusal = OpenResult::ok;
    Error error;
    return mount::ArchiveGeneration::open(::open(path.c_str(), O_RDONLY | O_CLOEXEC), refusal,
                                          error);
}

// The WAV file `pev extract` writes for each clip of the archive at `path`.
std::vector<Bytes> extracted(const std::string& path) {
    const auto generation = generation_of(path);
    const archive::ArchiveReader& reader = generation->reader();
    std::vector<Bytes> files;
    archive::ClipBuffers buffers;
    for (std::size_t index = 0; index < reader.clip_count(); ++index) {
        const wav::Frame frame = reader.decode(reader.inspect(index, buffers), buffers);
        const auto bytes = wav::frame_to_file_bytes(frame, 1, reader.sample_rate());
        files.emplace_back(bytes.begin(), bytes.end());
    }
    return files;
}

std::string clip(std::size_t number) {
    return "a_000" + std::to_string(number) + ".wav";
}

// A folder of the three clips of a_000N.wav, written back into a.pev.
class Folder {
  public:
    explicit Folder(std::chrono::milliseconds delay = 1h, const std::string& rewrite_at = "") {
        write_file(original(), build_archive(three_clip_archive()));
        write_file(archive(), read_file(original()));
        stored_ = extracted(archive());
        mount::TreeSettings settings;
        settings.archive_path = rewrite_at.empty() ? archive() : rewrite_at;
        settings.writable = true;
        settings.draft_folder = dir_.path().string();
        settings.names_a_clip = [](std::string_view name) {
            return name.size() == 10 && name.substr(0, 2) == "a_" && name.substr(6) == ".wav";
        };
        settings.report = [this](const MountEvent& event) {
            const std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        };
        settings.batch_delay = delay;
        settings.retry_pause = 100ms;
        settings.longest_retry_pause = 400ms;
        std::vector<mount::ServedClip> clips;
        for (std::size_t index = 0; index < 3; ++index) {
            clips.push_back({index, clip(index + 1)});
        }
        tree_ = std::make_unique<mount::MountTree>(generation_of(archive()), clips, settings);
    }

    mount::MountTree& tree() { return *tree_; }
    const Bytes& stored(std::size_t number) const { return stored_[number - 1]; }
    std::string archive() const { return dir_.file("a.pev"); }
    std::string original() const { return dir_.file("original.pev"); }
    std::string file(const std::string& name) const { return dir_.file(name); }

    OpenFile* opened(const std::string& name, int flags) {
        OpenFile* file = nullptr;
        EXPECT_EQ(tree_->open(name, flags, file), 0) << name;
        return file;
    }

    long put(OpenFile* file, const Bytes& bytes, std::uint64_t offset = 0) {
        return tree_->write(*file, offset, bytes);
    }

    // Opened with O_TRUNC, written and closed, as cp saves: the close's result.
    int save(const std::string& name, const Bytes& bytes) {
        OpenFile* file = opened(name, O_WRONLY | O_TRUNC);
        EXPECT_EQ(put(file, bytes), static_cast<long>(bytes.size()));
        const int closed = tree_->flush(*file);
        tree_->release(file);
        return closed;
    }

    // What a program reading the file by name gets, and what stat says of it.
    Bytes shown(const std::string& name) {
        Bytes bytes;
        std::uint8_t part[65536];
        for (long got = 1; got > 0;) {
            got = tree_->read(name, bytes.size(), part);
            EXPECT_GE(got, 0) << name;
            bytes.insert(bytes.end(), part, part + std::max(got, 0L));
        }
        struct stat status {};
        EXPECT_EQ(tree_->stat(name, status), 0) << name;
        EXPECT_EQ(static_cast<std::size_t>(status.st_size), bytes.size()) << name;
        return bytes;
    }

    std::vector<std::string> listed() {
        std::vector<std::string> names;
        tree_->list(0, [&](const std::string& name, const struct stat&) {
            names.push_back(name);
            return true;
        });
        return names;
    }

    // The archive pev replace makes from the original with `files` in place.
    Bytes replaced(const std::vector<std::pair<std::size_t, Bytes>>& files) {
        pack::ReplaceRequest request;
        request.source = original();
        request.output = file("reference.pev");
        request.replace = true;
        for (const auto& [number, bytes] : files) {
            const std::string path = file("reference-" + std::to_string(number) + ".wav");
            write_file(path, bytes);
            request.replacements.push_back({number - 1, path});
        }
        EXPECT_TRUE(pack::replace_clips(generation_of(original())->reader(), request).ok());
        return read_file(request.output);
    }

    std::vector<MountEvent> events() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

    std::size_t count(MountEvent::Kind kind) {
        const auto all = events();
        return static_cast<std::size_t>(
            std::count_if(all.begin(), all.end(), [&](const auto& e) { return e.kind == kind; }));
    }

  private:
    TempDir dir_;
    std::vector<Bytes> stored_;
    std::mutex mutex_;
    std::vector<MountEvent> events_;
    std::unique_ptr<mount::MountTree> tree_;
};

TEST(MountTree, AShellsFirstCloseOfAnEmptyFileIsNoSave) {
    const StepBound bound("a shell's redirection", 30s);
    Folder folder;
    const Bytes saved = wav_of(3000, 1);
    // The shell opens, dup2's and closes the first descriptor: a flush of
    // the still-empty draft, which is no refusal; then the program writes.
    OpenFile* file = folder.opened(clip(2), O_WRONLY | O_TRUNC);
    EXPECT_EQ(folder.tree().flush(*file), 0);
    EXPECT_EQ(folder.put(file, saved), static_cast<long>(saved.size()));
    EXPECT_EQ(folder.tree().flush(*file), 0);
    folder.tree().release(file);
    EXPECT_EQ(folder.shown(clip(2)), saved);
    EXPECT_TRUE(folder.events().empty());
    EXPECT_EQ(folder.tree().write_pending(Rewrite::now), 0);
    EXPECT_EQ(read_file(folder.archive()), folder.replaced({{2, saved}}));
}

TEST(MountTree, ARefusedDraftStaysOpenForTheDescriptorsThatRemain) {
    const StepBound bound("a refused draft kept open", 30s);
    Folder folder;
    const Bytes saved = wav_of(2000, 2);
    OpenFile* file = folder.opened(clip(2), O_WRONLY | O_TRUNC);
    EXPECT_EQ(folder.put(file, kText), static_cast<long>(kText.size()));
    EXPECT_EQ(folder.tree().flush(*file), -EPERM);
    // The clip shows what it showed; the handle still has its draft.
    EXPECT_EQ(folder.shown(clip(2)), folder.stored(2));
    struct stat status {};
    EXPECT_EQ(folder.tree().stat(*file, status), 0);
    EXPECT_EQ(static_cast<std::size_t>(status.st_size), kText.size());
    // Truncated by handle and written again: judged again, taken.
    EXPECT_EQ(folder.tree().truncate(*file, 0), 0);
    EXPECT_EQ(folder.tree().stat(*file, status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 0);
    EXPECT_EQ(folder.put(file, saved), static_cast<long>(saved.size()));
    EXPECT_EQ(folder.tree().flush(*file), 0);
    folder.tree().release(file);
    EXPECT_EQ(folder.shown(clip(2)), saved);
    EXPECT_EQ(folder.count(MountEvent::Kind::refused), 0u);
}

TEST(MountTree, ARefusedDraftIsDroppedAndLoggedOnceAtItsLastClose) {
    const StepBound bound("a refused draft dropped", 30s);
    Folder folder;
    OpenFile* file = folder.opened(clip(1), O_WRONLY | O_TRUNC);
    folder.put(file, kText);
    EXPECT_EQ(folder.tree().flush(*file), -EPERM);
    EXPECT_EQ(folder.tree().flush(*file), -EPERM) << "each close of it says so";
    EXPECT_EQ(folder.count(MountEvent::Kind::refused), 0u);
    folder.tree().release(file);
    ASSERT_EQ(folder.count(MountEvent::Kind::refused), 1u);
    EXPECT_EQ(folder.events()[0].names, std::vector<std::string>{clip(1)});
    EXPECT_EQ(folder.events()[0].error.subject, clip(1));
    EXPECT_EQ(folder.shown(clip(1)), folder.stored(1));
    EXPECT_EQ(folder.tree().write_pending(Rewrite::at_end), 0);
    EXPECT_EQ(read_file(folder.archive()), read_file(folder.original()));
}

TEST(MountTree, AnAcceptedSaveOutlivesARefusedOneAfterIt) {
    const StepBound bound("an accepted save, then a refused one", 30s);
    Folder folder;
    const Bytes saved = wav_of(4000, 3);
    EXPECT_EQ(folder.save(clip(3), saved), 0);
    EXPECT_EQ(folder.save(clip(3), kText), -EPERM);
    EXPECT_EQ(folder.shown(clip(3)), saved);
    EXPECT_EQ(folder.tree().write_pending(Rewrite::now), 0);
    EXPECT_EQ(read_file(folder.archive()), folder.replaced({{3, saved}}));
}

TEST(MountTree, ATruncationByNameOfAWaitingSaveLosesNothing) {
    const StepBound bound("a waiting save truncated by name", 30s);
    Folder folder;
    const Bytes saved = wav_of(2500, 4);
    EXPECT_EQ(folder.save(clip(1), saved), 0);
    EXPECT_EQ(folder.tree().truncate(clip(1), 0), 0);
    EXPECT_TRUE(folder.shown(clip(1)).empty());
    // Not written again: the save reaches the archive, and shows again.
    EXPECT_EQ(folder.tree().write_pending(Rewrite::at_end), 0);
    EXPECT_EQ(read_file(folder.archive()), folder.replaced({{1, saved}}));
    EXPECT_EQ(folder.shown(clip(1)), extracted(folder.archive())[0]);
    EXPECT_EQ(folder.count(MountEvent::Kind::shown_again_emptied), 1u);
    // Truncated by name to what no judge takes: refused, as a close would be.
    EXPECT_EQ(folder.tree().truncate(clip(2), 30), -EPERM);
    EXPECT_EQ(folder.shown(clip(2)), folder.stored(2));
}

TEST(MountTree, AFileRenamedOverAClipIsJudged) {
    const StepBound bound("renamed over a clip", 30s);
    Folder folder;
    OpenFile* file = nullptr;
    ASSERT_EQ(folder.tree().create("t.txt", 0644, O_WRONLY, file), 0);
    folder.put(file, kText);
    EXPECT_EQ(folder.tree().flush(*file), 0);
    folder.tree().release(file);
    EXPECT_EQ(folder.tree().rename("t.txt", clip(2), 0), -EPERM);
    EXPECT_EQ(folder.shown("t.txt"), kText);
    EXPECT_EQ(folder.shown(clip(2)), folder.stored(2));
    EXPECT_EQ(folder.count(MountEvent::Kind::refused), 1u);
    EXPECT_EQ(folder.tree().write_pending(Rewrite::at_end), 0);
    EXPECT_EQ(read_file(folder.archive()), read_file(folder.original()));
}

TEST(MountTree, AfterARewriteEveryClipShowsTheArchivesBytes) {
    const StepBound bound("the folder after a rewrite", 30s);
    Folder folder;
    const Bytes saved = wav_of(5000, 5);
    EXPECT_EQ(folder.save(clip(2), saved), 0);
    EXPECT_EQ(folder.tree().write_pending(Rewrite::now), 0);
    const std::vector<Bytes> now = extracted(folder.archive());
    for (std::size_t number = 1; number <= 3; ++number) {
        EXPECT_EQ(folder.shown(clip(number)), now[number - 1]) << clip(number);
    }
    EXPECT_NE(now[1], saved) << "the coding is lossy: the save itself is no longer shown";
    EXPECT_EQ(folder.count(MountEvent::Kind::rewritten), 1u);
}

TEST(MountTree, AFailedRewriteIsTriedAgainAfterAPauseThatDoubles) {
    const StepBound bound("rewrites that fail", 30s);
    TempDir elsewhere;
    Folder folder(0ms, elsewhere.file("gone/a.pev"));
    EXPECT_EQ(folder.save(clip(1), wav_of(100, 6)), 0);
    EXPECT_EQ(folder.tree().write_pending(Rewrite::when_due), -ENOENT);
    ASSERT_EQ(folder.count(MountEvent::Kind::rewrite_failed), 1u);
    auto due = folder.tree().due();
    ASSERT_TRUE(due);
    EXPECT_GT(*due, std::chrono::steady_clock::now() + 50ms);
    // Not due: the timer does nothing; an fsync tries at once.
    EXPECT_EQ(folder.tree().write_pending(Rewrite::when_due), 0);
    EXPECT_EQ(folder.count(MountEvent::Kind::rewrite_failed), 1u);
    std::this_thread::sleep_until(*due);
    EXPECT_EQ(folder.tree().write_pending(Rewrite::when_due), -ENOENT);
    EXPECT_EQ(folder.count(MountEvent::Kind::rewrite_failed), 2u);
    due = folder.tree().due();
    EXPECT_GT(*due, std::chrono::steady_clock::now() + 150ms) << "the pause doubled";
    EXPECT_EQ(folder.tree().write_pending(Rewrite::now), -ENOENT);
    // A new save is tried 2 s (here: at once) after it, not after the pause.
    EXPECT_EQ(folder.save(clip(2), wav_of(100, 7)), 0);
    EXPECT_LE(*folder.tree().due(), std::chrono::steady_clock::now());
}

struct timespec at(std::time_t seconds) {
    return {seconds, 0};
}

TEST(MountTree, TimesAreSetOneByOneByNameAndByHandle) {
    const StepBound bound("times", 30s);
    Folder folder;
    struct stat status {};
    const struct timespec modified_only[2] = {{0, UTIME_OMIT}, at(1012521600)};
    const struct timespec accessed_only[2] = {at(981158400), {0, UTIME_OMIT}};
    for (const std::string& name : {std::string("notes.txt"), clip(1)}) {
        if (name == "notes.txt") {
            OpenFile* file = nullptr;
            ASSERT_EQ(folder.tree().create(name, 0644, O_WRONLY, file), 0);
            folder.tree().release(file);
        }
        ASSERT_EQ(folder.tree().stat(name, status), 0);
        const struct timespec accessed = status.st_atim;
        EXPECT_EQ(folder.tree().set_times(nullptr, name, modified_only), 0);
        ASSERT_EQ(folder.tree().stat(name, status), 0);
        EXPECT_EQ(status.st_mtim.tv_sec, 1012521600) << name;
        EXPECT_EQ(status.st_atim.tv_sec, accessed.tv_sec) << name;
        EXPECT_EQ(folder.tree().set_times(nullptr, name, accessed_only), 0);
        ASSERT_EQ(folder.tree().stat(name, status), 0);
        EXPECT_EQ(status.st_atim.tv_sec, 981158400) << name;
        EXPECT_EQ(status.st_mtim.tv_sec, 1012521600) << name;
    }
    // touch with no date: now, both.
    const struct timespec now_both[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    // (The precise clock, as the folder's: time() may read a coarser one,
    // a tick behind.)
    const auto seconds_now = [] {
        struct timespec time {};
        ::clock_gettime(CLOCK_REALTIME, &time);
        return time.tv_sec;
    };
    const std::time_t before = seconds_now();
    EXPECT_EQ(folder.tree().set_times(nullptr, clip(1), now_both), 0);
    ASSERT_EQ(folder.tree().stat(clip(1), status), 0);
    EXPECT_GE(status.st_mtim.tv_sec, before);
    EXPECT_LE(status.st_mtim.tv_sec, seconds_now());
    EXPECT_EQ(status.st_atim.tv_sec, status.st_mtim.tv_sec);
    EXPECT_LT(status.st_mtim.tv_nsec, 1000000000);
    // touch opens a clip for writing and sets times by handle, writing
    // nothing: the clip keeps them once the handle goes.
    OpenFile* touched = folder.opened(clip(2), O_WRONLY);
    EXPECT_EQ(folder.tree().set_times(touched, "", modified_only), 0);
    folder.tree().release(touched);
    ASSERT_EQ(folder.tree().stat(clip(2), status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 1012521600);
    // tar writes, then sets the times by handle: the save keeps them
    // through the rewrite.
    OpenFile* file = folder.opened(clip(3), O_WRONLY | O_TRUNC);
    folder.put(file, wav_of(700, 8));
    const struct timespec both[2] = {at(981158400), at(981158400)};
    EXPECT_EQ(folder.tree().set_times(file, "", both), 0);
    EXPECT_EQ(folder.tree().flush(*file), 0);
    folder.tree().release(file);
    EXPECT_EQ(folder.tree().write_pending(Rewrite::now), 0);
    ASSERT_EQ(folder.tree().stat(clip(3), status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 981158400);
    EXPECT_EQ(status.st_atim.tv_sec, 981158400);
}

TEST(MountTree, ARemovedClipIsFreeToBeMadeAgainAndElseShowsAgain) {
    const StepBound bound("removed clips", 30s);
    Folder folder(0ms);
    const Bytes saved = wav_of(1500, 9);
    // install, tar -x, unzip -o: removed, made again, written.
    EXPECT_EQ(folder.tree().unlink(clip(2)), 0);
    struct stat status {};
    EXPECT_EQ(folder.tree().stat(clip(2), status), -ENOENT);
    EXPECT_EQ(folder.listed(), (std::vector<std::string>{clip(1), clip(3)}));
    OpenFile* file = nullptr;
    ASSERT_EQ(folder.tree().create(clip(2), 0600, O_WRONLY | O_CREAT | O_EXCL, file), 0);
    folder.put(file, saved);
    EXPECT_EQ(folder.tree().flush(*file), 0);
    folder.tree().release(file);
    EXPECT_EQ(folder.shown(clip(2)), saved);
    // Removed and not made again: shown again as it was, when due.
    EXPECT_EQ(folder.tree().unlink(clip(1)), 0);
    EXPECT_EQ(folder.listed(), (std::vector<std::string>{clip(2), clip(3)}));
    ASSERT_TRUE(folder.tree().due());
    EXPECT_EQ(folder.tree().write_pending(Rewrite::when_due), 0);
    EXPECT_EQ(folder.listed(), (std::vector<std::string>{clip(1), clip(2), clip(3)}));
    EXPECT_EQ(folder.count(MountEvent::Kind::shown_again_removed), 1u);
    EXPECT_EQ(read_file(folder.archive()), folder.replaced({{2, saved}}));
    // Made again with what no judge takes: refused, and the clip is back.
    EXPECT_EQ(folder.tree().unlink(clip(3)), 0);
    ASSERT_EQ(folder.tree().create(clip(3), 0600, O_WRONLY | O_CREAT, file), 0);
    folder.put(file, kText);
    EXPECT_EQ(folder.tree().flush(*file), -EPERM);
    folder.tree().release(file);
    EXPECT_EQ(folder.shown(clip(3)), folder.stored(3));
}

TEST(MountTree, AClipRenamedAwayAndBackUnchangedSavesNothing) {
    const StepBound bound("renamed away and back", 30s);
    Folder folder;
    EXPECT_EQ(folder.tree().rename(clip(1), "a_0001.wav~", 0), 0);
    EXPECT_EQ(folder.shown("a_0001.wav~"), folder.stored(1));
    EXPECT_EQ(folder.listed(), (std::vector<std::string>{"a_0001.wav~", clip(2), clip(3)}));
    EXPECT_EQ(folder.tree().rename("a_0001.wav~", clip(1), 0), 0);
    EXPECT_EQ(folder.listed(), (std::vector<std::string>{clip(1), clip(2), clip(3)}));
    EXPECT_FALSE(folder.tree().due());
    // The copy under another name is a file like any: truncated by name,
    // it keeps what it held up to there.
    EXPECT_EQ(folder.tree().rename(clip(2), "kept.wav", 0), 0);
    EXPECT_EQ(folder.tree().truncate("kept.wav", 100), 0);
    EXPECT_EQ(folder.shown("kept.wav"),
              Bytes(folder.stored(2).begin(), folder.stored(2).begin() + 100));
    EXPECT_EQ(folder.tree().unlink("kept.wav"), 0);
    EXPECT_EQ(folder.tree().write_pending(Rewrite::at_end), 0);
    EXPECT_EQ(folder.listed(), (std::vector<std::string>{clip(1), clip(2), clip(3)}));
    // A clip renamed over another is a save of that other.
    EXPECT_EQ(folder.tree().rename(clip(1), clip(3), 0), 0);
    EXPECT_EQ(folder.shown(clip(3)), folder.stored(1));
    EXPECT_EQ(folder.tree().write_pending(Rewrite::at_end), 0);
    EXPECT_EQ(read_file(folder.archive()), folder.replaced({{3, folder.stored(1)}}));
}

TEST(MountTree, AFileRenamedOverAClipWhileOpenIsJudgedAtItsClose) {
    const StepBound bound("renamed while open", 30s);
    Folder folder;
    const Bytes saved = wav_of(900, 10);
    for (const Bytes& bytes : {saved, kText}) {
        OpenFile* file = nullptr;
        ASSERT_EQ(folder.tree().create(".goutputstream", 0666, O_WRONLY, file), 0);
        folder.put(file, bytes);
        EXPECT_EQ(folder.tree().rename(".goutputstream", clip(2), 0), 0);
        EXPECT_EQ(folder.tree().flush(*file), bytes == saved ? 0 : -EPERM);
        folder.tree().release(file);
        EXPECT_EQ(folder.shown(clip(2)), saved);
    }
    EXPECT_EQ(folder.listed(), (std::vector<std::string>{clip(1), clip(2), clip(3)}));
}

TEST(MountTree, AnAcceptedSaveIsNeverWrittenAgain) {
    const StepBound bound("an accepted save written on", 30s);
    Folder folder;
    const Bytes first = wav_of(1200, 11);
    const Bytes second = wav_of(800, 12);
    OpenFile* file = folder.opened(clip(1), O_WRONLY | O_TRUNC);
    folder.put(file, first);
    EXPECT_EQ(folder.tree().flush(*file), 0); // one descriptor closed, one left
    folder.put(file, second);
    EXPECT_EQ(folder.tree().truncate(*file, second.size()), 0);
    // The rewrite meanwhile takes the accepted save, whole.
    EXPECT_EQ(folder.tree().write_pending(Rewrite::now), 0);
    EXPECT_EQ(read_file(folder.archive()), folder.replaced({{1, first}}));
    EXPECT_EQ(folder.tree().flush(*file), 0);
    folder.tree().release(file);
    EXPECT_EQ(folder.tree().write_pending(Rewrite::now), 0);
    EXPECT_EQ(read_file(folder.archive()), folder.replaced({{1, second}}));
}

TEST(MountTree, AClipWrittenThroughTwoHandlesIsJudgedWhenTheLastIsDone) {
    const StepBound bound("two handles", 30s);
    Folder folder;
    const Bytes saved = wav_of(6000, 14);
    OpenFile* first = folder.opened(clip(1), O_WRONLY | O_TRUNC);
    OpenFile* second = folder.opened(clip(1), O_WRONLY);
    const std::size_t half = saved.size() / 2;
    folder.put(first, Bytes(saved.begin(), saved.begin() + static_cast<std::ptrdiff_t>(half)));
    EXPECT_EQ(folder.tree().flush(*first), 0) << "half a file, and another handle writes on";
    folder.tree().release(first);
    // Not judged yet: half a WAV file would be taken, cut short, and could
    // reach the archive in a rewrite before the other handle is done.
    EXPECT_FALSE(folder.tree().due());
    folder.put(second, Bytes(saved.begin() + static_cast<std::ptrdiff_t>(half), saved.end()), half);
    EXPECT_EQ(folder.tree().flush(*second), 0);
    folder.tree().release(second);
    EXPECT_EQ(folder.shown(clip(1)), saved);
    EXPECT_EQ(folder.count(MountEvent::Kind::refused), 0u);
}

TEST(MountTree, ADraftAWriteFailedIntoIsNeverTaken) {
    const StepBound bound("a failed write", 30s);
    Folder folder;
    const Bytes saved = wav_of(3000, 13);
    OpenFile* file = folder.opened(clip(2), O_WRONLY | O_TRUNC);
    folder.put(file, Bytes(saved.begin(), saved.begin() + 1000));
    EXPECT_LT(folder.put(file, {1}, std::uint64_t{1} << 62), 0);
    folder.put(file, Bytes(saved.begin() + 1000, saved.end()), 1000);
    const int closed = folder.tree().flush(*file);
    EXPECT_LT(closed, 0);
    EXPECT_NE(closed, -EPERM) << "the write's own failure, not a refusal of the file";
    folder.tree().release(file);
    EXPECT_EQ(folder.shown(clip(2)), folder.stored(2));
    ASSERT_EQ(folder.count(MountEvent::Kind::refused), 1u);
    EXPECT_EQ(folder.events()[0].error.code, ErrorCode::cannot_write);
    // Emptied, it begins anew.
    file = folder.opened(clip(2), O_WRONLY | O_TRUNC);
    folder.put(file, saved);
    EXPECT_EQ(folder.tree().flush(*file), 0);
    folder.tree().release(file);
}

TEST(MountTree, ACopyNotYetWrittenReadsThroughAndIsFilledWhenWritten) {
    const StepBound bound("copies filled when written", 30s);
    Folder folder;
    const Bytes saved = wav_of(1000, 15);
    EXPECT_EQ(folder.save(clip(2), saved), 0);
    // Opened for writing without O_TRUNC, as dd conv=notrunc opens: the
    // handle reads what the file showed, the archive's and a save alike.
    for (const std::size_t number : {std::size_t{1}, std::size_t{2}}) {
        const Bytes before = number == 2 ? saved : folder.stored(1);
        OpenFile* file = folder.opened(clip(number), O_WRONLY);
        Bytes read(before.size() + 10);
        EXPECT_EQ(folder.tree().read(*file, 0, read), static_cast<long>(before.size()));
        read.resize(before.size());
        EXPECT_EQ(read, before) << clip(number);
        struct stat status {};
        EXPECT_EQ(folder.tree().stat(*file, status), 0);
        EXPECT_EQ(static_cast<std::size_t>(status.st_size), before.size());
        // Two bytes of a sample written over in place: the rest is kept.
        Bytes patched = before;
        patched[50] ^= 0x55;
        patched[51] ^= 0x11;
        EXPECT_EQ(folder.put(file, Bytes(patched.begin() + 50, patched.begin() + 52), 50), 2);
        EXPECT_EQ(folder.tree().flush(*file), 0);
        folder.tree().release(file);
        EXPECT_EQ(folder.shown(clip(number)), patched) << clip(number);
    }
    // Truncated to a part of it: that part is kept.
    OpenFile* file = folder.opened(clip(3), O_WRONLY);
    EXPECT_EQ(folder.tree().truncate(*file, 44 + 4), 0);
    EXPECT_EQ(folder.tree().flush(*file), 0);
    folder.tree().release(file);
    const Bytes shown = folder.shown(clip(3));
    EXPECT_EQ(shown, Bytes(folder.stored(3).begin(), folder.stored(3).begin() + 48));
}

TEST(MountTree, ListingSkipsRemovedClipsAndNumbersTheRest) {
    const StepBound bound("listing", 30s);
    Folder folder;
    EXPECT_EQ(folder.tree().unlink(clip(2)), 0);
    std::vector<std::string> from_one;
    folder.tree().list(1, [&](const std::string& name, const struct stat& status) {
        EXPECT_TRUE(S_ISREG(status.st_mode));
        from_one.push_back(name);
        return true;
    });
    EXPECT_EQ(from_one, std::vector<std::string>{clip(3)});
    bool any = false;
    folder.tree().list(2, [&](const std::string&, const struct stat&) { return any = true; });
    EXPECT_FALSE(any);
}

} // namespace
} // namespace pev::test
