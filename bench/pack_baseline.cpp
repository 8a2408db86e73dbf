// pack_baseline: the least work any packer must do.
//
//   pack_baseline [--sync] OUTPUT BYTES FILE...
//
// Reads every FILE whole, one after another, into one reused buffer, and
// writes BYTES bytes to OUTPUT (a packer's archive size), each file's share
// of them after reading it: the reading and writing of a packing run with no
// parsing and no encoding. With --sync it also waits for OUTPUT to reach
// the disk before it ends, as the packers do before an archive takes its
// name. bench/pack times it from outside, as it times the packers.
//
// POSIX only: the point is the thinnest path to the file system.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool read_whole(const char* name, std::vector<std::uint8_t>& buffer) {
    const int fd = ::open(name, O_RDONLY);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        return false;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (buffer.size() < size) {
        buffer.resize(size);
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, buffer.data() + done, size - done);
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return done == size;
}

bool write_whole(int fd, const std::uint8_t* data, std::uint64_t bytes) {
    while (bytes > 0) {
        const ssize_t written = ::write(fd, data, bytes);
        if (written <= 0) {
            return false;
        }
        data += written;
        bytes -= static_cast<std::uint64_t>(written);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool synced = argc > 1 && std::string(argv[1]) == "--sync";
    if (synced) {
        --argc;
        ++argv;
    }
    if (argc < 4) {
        std::fputs("usage: pack_baseline [--sync] OUTPUT BYTES FILE...\n", stderr);
        return 2;
    }
    const std::uint64_t total = std::strtoull(argv[2], nullptr, 10);
    const int files = argc - 3;
    const int out = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) {
        std::fprintf(stderr, "pack_baseline: cannot create %s\n", argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> buffer;
    std::uint64_t written = 0;
    for (int i = 0; i < files; ++i) {
        if (!read_whole(argv[3 + i], buffer)) {
            std::fprintf(stderr, "pack_baseline: cannot read %s\n", argv[3 + i]);
            return 1;
        }
        // The bytes up to this file's share of the total, from the buffer
        // just read (any bytes will do; the size is what costs).
        const std::uint64_t until =
            total * static_cast<std::uint64_t>(i + 1) / static_cast<std::uint64_t>(files);
        while (written < until) {
            const std::uint64_t chunk = std::min<std::uint64_t>(until - written, buffer.size());
            if (chunk == 0 || !write_whole(out, buffer.data(), chunk)) {
                std::fprintf(stderr, "pack_baseline: cannot write %s\n", argv[1]);
                return 1;
            }
            written += chunk;
        }
    }
    if ((synced && ::fsync(out) != 0) || ::close(out) != 0) {
        std::fprintf(stderr, "pack_baseline: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
