#pragma once
// What a pev_archive handle holds: the bytes' source, the one reader every
// front end shares, and the clips' exact sample counts as they become known.

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "pev/pev.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

struct pev_archive {
    // Owned when the archive was opened from a path; closed last.
    std::FILE* file = nullptr;
    std::unique_ptr<pev::archive::ByteSource> source;
    std::unique_ptr<pev::archive::ArchiveReader> reader;
    // One per clip, kUnknownCount until a decode has counted it. Threads
    // that race to count a clip store the same value.
    std::unique_ptr<std::atomic<std::uint64_t>[]> sample_counts;
    // The system's reason for the last PEV_ERR_IO, for pev_last_os_error.
    mutable std::atomic<int> last_os_error{0};

    static constexpr std::uint64_t kUnknownCount = ~std::uint64_t{0};

    pev_archive() = default;
    pev_archive(const pev_archive&) = delete;
    pev_archive& operator=(const pev_archive&) = delete;
    ~pev_archive() {
        reader.reset();
        source.reset();
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};
