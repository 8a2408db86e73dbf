#pragma once
// Every file the programs and the library create (WAV files, archives) is
// written through an OutputFile: it appears under its final name complete or
// not at all. Until commit() the bytes go to a file with no name (Linux) or
// with a short temporary name in the same folder (elsewhere, and where the
// file system refuses unnamed files); commit() gives it its final name in one
// step, never over an existing file unless replacing was asked for.
// Destroyed without commit(), it leaves nothing behind, and an interrupted
// program removes its temporary names (see interrupt_cleanup.hpp).

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <system_error>

namespace pev {

struct OutputFileSystemCalls;

// What the caller has just seen under the final name, so that the file need
// not ask again. Taking the name stays as safe whatever changed meanwhile:
// a name seen free that is taken by then is still never replaced unasked,
// and one seen taken that is gone by then is still filled.
enum class NameSeen {
    unknown, // not looked at
    free,    // nothing there: no check before writing
    taken,   // a file there: refused at once, or, replacing, no attempt at
             // a name that would be refused
};

struct OutputFileOptions {
    // An existing file of the final name may be replaced.
    bool replace = false;
    // The file's bytes and its name reach the disk before commit() returns
    // (archives; WAV files are not worth the wait).
    bool sync = false;
    NameSeen seen = NameSeen::unknown;
    // Tests only: stand-ins for a few system calls; nullptr for the host's.
    const OutputFileSystemCalls* system_calls = nullptr;
};

// The step an OutputFile failed in, so that callers can say which.
enum class OutputStep {
    none,   // nothing failed
    create, // cannot create it
    write,  // cannot write it
    commit, // cannot put it in place
};

class OutputFile {
  public:
    // Nothing is created before create(). `path` is UTF-8.
    OutputFile(std::string path, OutputFileOptions options = {});
    // Closes and removes the file unless it was committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file in the final name's folder. Fails with
    // std::errc::file_exists when the name is taken and not to be replaced
    // (commit() checks again, in the same step as it takes the name).
    std::error_code create();

    // Appends `bytes`. Small pieces are gathered in a buffer; a large one
    // goes to the system in one call.
    std::error_code append(std::span<const std::uint8_t> bytes);

    // Writes `bytes` over what was already appended, from `offset` on (an
    // archive's header, known last). Later appends still go to the end.
    std::error_code write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes);

    // Hands the buffered bytes to the system.
    std::error_code flush();

    // What the caller has seen under the final name since it made the file
    // (see NameSeen), for commit().
    void saw(NameSeen seen) { options_.seen = seen; }

    // Writes what is buffered and gives the file its final name. Fails with
    // std::errc::file_exists when another file took the name meanwhile and
    // replacing was not asked for; the file is then removed like any other
    // uncommitted one. With `sync`, a failure to sync the folder afterwards
    // is reported (OutputStep::commit) though the file stands in place.
    std::error_code commit();

    // The first error, sticky: once a step failed, every later call returns
    // it again and does nothing.
    std::error_code error() const { return error_; }
    OutputStep failed_step() const { return failed_step_; }

    const std::string& path() const { return path_; }
    // Bytes appended so far.
    std::uint64_t size() const { return written_ + buffered_; }

  private:
    std::error_code usable() const;
    std::error_code fail(OutputStep step, std::error_code error);
    std::error_code write_out(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    std::error_code create_unnamed(bool& refused);
    std::error_code create_named();
    std::error_code commit_unnamed();
    std::error_code commit_named();
    std::error_code take_final_name();
    std::error_code close_file();
    void name_placed();

    std::string path_;
    OutputFileOptions options_;
    [[maybe_unused]] const OutputFileSystemCalls* calls_; // POSIX only

    enum class State { fresh, open, committed, failed };
    State state_ = State::fresh;
    std::error_code error_;
    OutputStep failed_step_ = OutputStep::none;

#ifdef _WIN32
    void* handle_ = nullptr; // HANDLE
#else
    int fd_ = -1;
#endif
    // The temporary name while it exists on disk; empty for an unnamed file.
    std::string temp_path_;
    int interrupt_entry_ = -1;

    std::unique_ptr<std::uint8_t[]> buffer_; // allocated by the first small append
    std::size_t buffered_ = 0;
    std::uint64_t written_ = 0; // handed to the system
};

} // namespace pev
