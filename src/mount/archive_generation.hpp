#pragma once
// One state of the mounted archive: the file as it was opened (read by
// descriptor, so an archive another program puts under the same name
// meanwhile changes nothing here), its reader, and each clip's exact sample
// count from a scan of its stored bytes, so that listing the folder decodes
// nothing. A rewrite makes a new generation; readers still holding the old
// one finish with it.

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "common/error.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace pev::mount {

// An open file read with pread: any number of threads read at once, each at
// its own offset, with no lock and no shared position.
//
// Clips are read a block (at most 32 KiB) at a time; a pread per block made
// reading every clip 400,000 system calls for 2000 clips. So view() serves
// such small ranges from a window of the file each thread keeps (256 KiB,
// read at once). A view stays valid until the same thread asks for the
// next; larger ranges are left to read_some.
class DescriptorSource final : public archive::ByteSource {
  public:
    DescriptorSource(int fd, std::uint64_t size);

    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const override;
    archive::ReadOutcome read_some(std::uint64_t offset,
                                   std::span<std::uint8_t> into) const override;
    std::span<const std::uint8_t> view(std::uint64_t offset, std::size_t size) const override;

  private:
    int fd_;
    std::uint64_t size_;
    std::uint64_t identity_; // tells this source's windows from an earlier one's
};

// What the scan learnt of one clip.
struct ScannedClip {
    std::uint16_t id = 0;
    ClipProblem problem = ClipProblem::none;
    Error read_error; // a read that failed while scanning
    std::uint64_t samples = 0;
    std::uint64_t stored_bytes = 0; // when ok()
    bool ok() const { return problem == ClipProblem::none && read_error.ok(); }
};

class ArchiveGeneration {
  public:
    // Takes `fd` (closed with the generation), reads the archive's table and
    // scans every clip. Null, with `refusal` set, when it is no archive;
    // `error` when the file could not be examined. After a rewrite, the
    // clips copied as stored from `earlier` (all but those `rewritten`) keep
    // the sample counts it found, unscanned.
    static std::shared_ptr<const ArchiveGeneration> open(int fd, OpenResult& refusal, Error& error,
                                                         const ArchiveGeneration* earlier = nullptr,
                                                         const std::vector<bool>& rewritten = {});
    ~ArchiveGeneration();
    ArchiveGeneration(const ArchiveGeneration&) = delete;
    ArchiveGeneration& operator=(const ArchiveGeneration&) = delete;

    const archive::ArchiveReader& reader() const { return reader_; }
    const std::vector<ScannedClip>& clips() const { return clips_; }
    // The size of clip `index`'s WAV file; the clip must be ok().
    std::uint64_t wav_size(std::size_t index) const;
    // The archive file's times and size, as stat gave them when it was opened.
    const struct stat& status() const { return status_; }

  private:
    ArchiveGeneration(int fd, const struct stat& status);

    int fd_;
    struct stat status_;
    DescriptorSource source_;
    archive::ArchiveReader reader_;
    std::vector<ScannedClip> clips_;
};

} // namespace pev::mount
