#include "capi/capi_support.hpp"

#include <gtest/gtest.h>
#include <string>

#if defined(__unix__)
#include <sys/mman.h>
#endif

namespace pev::test {

ArchiveHandle open_bytes(std::span<const std::uint8_t> bytes) {
    pev_archive* archive = nullptr;
    EXPECT_EQ(pev_open_memory(bytes.data(), bytes.size(), &archive), PEV_OK);
    return {archive, pev_close};
}

ArchiveHandle open_path(const std::string& path) {
    pev_archive* archive = nullptr;
    EXPECT_EQ(pev_open_file(path.c_str(), &archive), PEV_OK) << path;
    return {archive, pev_close};
}

pev_status open_status(std::span<const std::uint8_t> bytes) {
    pev_archive* archive = nullptr;
    const pev_status status = pev_open_memory(bytes.data(), bytes.size(), &archive);
    EXPECT_EQ(archive != nullptr, status == PEV_OK);
    pev_close(archive);
    return status;
}

std::vector<std::int16_t> decode_samples(const pev_archive* archive, std::size_t index) {
    std::size_t count = 0;
    if (pev_decode_clip(archive, index, nullptr, 0, &count) == PEV_ERR_BUFFER_TOO_SMALL ||
        count == 0) {
        std::vector<std::int16_t> samples(count);
        if (pev_decode_clip(archive, index, samples.data(), samples.size(), &count) == PEV_OK &&
            count == samples.size()) {
            return samples;
        }
    }
    return {};
}

Bytes decode_wav(const pev_archive* archive, std::size_t index) {
    std::size_t size = 0;
    if (pev_decode_clip_wav(archive, index, nullptr, 0, &size) != PEV_ERR_BUFFER_TOO_SMALL) {
        return {};
    }
    Bytes wav(size);
    if (pev_decode_clip_wav(archive, index, wav.data(), wav.size(), &size) != PEV_OK ||
        size != wav.size()) {
        return {};
    }
    return wav;
}

#if defined(__unix__)
ZeroPages::ZeroPages(std::size_t size) {
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (map != MAP_FAILED) {
        data_ = static_cast<std::uint8_t*>(map);
        size_ = size;
    }
}

ZeroPages::~ZeroPages() {
    if (data_ != nullptr) {
        munmap(data_, size_);
    }
}
#else
ZeroPages::ZeroPages(std::size_t) {}
ZeroPages::~ZeroPages() = default;
#endif

} // namespace pev::test
