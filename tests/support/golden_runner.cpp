#include "support/golden_runner.hpp"

#include "support/golden.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace pev::test {
namespace {

std::string size_and_checksum(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL; // FNV-1a, as the files are pinned
    for (const char c : bytes) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3ULL;
    }
    std::ostringstream text;
    text << bytes.size() << ' ' << std::hex << hash << '\n';
    return text.str();
}

} // namespace

void put(const TempDir& dir, const std::string& name, const TestArchive& archive) {
    write_file(dir.file(name), build_archive(archive));
}

void run_golden_case(const GoldenCase& golden, const std::string& program,
                     const std::filesystem::path& golden_root) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr bool sanitized = true; // the sanitizer's shadow memory needs the address space
#elif defined(__has_feature)
    constexpr bool sanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
    constexpr bool sanitized = false;
#endif
    if (golden.memory_limit_kb != 0 && (sanitized || runs_through_emulator())) {
        GTEST_SKIP() << "an address-space limit needs a plain native build";
    }
    if (golden.native_only && runs_through_emulator()) {
        GTEST_SKIP() << "needs the host's own files";
    }
    if (golden.file_size_limit_kb != 0 && runs_through_emulator()) {
        // Wine words the refused write in its own way.
        GTEST_SKIP() << "a file-size limit needs a plain native run";
    }
    TempDir dir;
    if (golden.setup) {
        golden.setup(dir);
    }
    const auto inputs = list_regular_files(dir.path());
    const ProcessResult result =
        run_process(program, golden.args, dir.path().string(), golden.memory_limit_kb,
                    golden.file_size_limit_kb, golden.stdin_file);

    const std::filesystem::path expected = golden_root / golden.name;
    check_golden(expected, "stdout",
                 golden.binary_stdout ? size_and_checksum(result.out)
                                      : without_carriage_returns(result.out));
    check_golden(expected, "stderr", without_carriage_returns(result.err));
    check_golden(expected, "status", std::to_string(result.status) + "\n");
    check_golden_outputs(expected, dir.path(), inputs);
    if (golden.after) {
        golden.after(dir);
    }
}

} // namespace pev::test
