#include "support/golden.hpp"

#include "support/process.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace pev::test {
namespace {

namespace fs = std::filesystem;

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::uint8_t b : bytes) {
        hash = (hash ^ b) * 0x100000001b3ULL;
    }
    return hash;
}

std::string size_and_checksum(const std::vector<std::uint8_t>& bytes) {
    std::ostringstream line;
    line << bytes.size() << ' ' << std::hex << fnv1a(bytes);
    return line.str();
}

// Every regular file under `root` but the inputs: "path size checksum" lines.
std::string list_outputs(const fs::path& root, const std::vector<std::string>& inputs) {
    std::vector<std::string> lines;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file() || item.is_symlink()) {
            continue;
        }
        const std::string relative = fs::relative(item.path(), root).generic_string();
        if (std::find(inputs.begin(), inputs.end(), relative) != inputs.end()) {
            continue;
        }
        lines.push_back(relative + ' ' + size_and_checksum(read_file(item.path().string())) + '\n');
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const auto& line : lines) {
        text += line;
    }
    return text;
}

std::vector<std::string> list_inputs(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file()) {
            names.push_back(fs::relative(item.path(), root).generic_string());
        }
    }
    return names;
}

std::string without_carriage_returns(std::string text) {
    if (const char* crlf = std::getenv("PEV_TEST_CRLF"); crlf != nullptr && crlf[0] == '1') {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                out += text[i];
            }
        }
        return out;
    }
    return text;
}

void check_golden(const fs::path& dir, const std::string& stream, const std::string& actual) {
    const fs::path file = dir / stream;
    if (const char* update = std::getenv("PEV_UPDATE_GOLDEN"); update && update[0] == '1') {
        fs::create_directories(dir);
        std::ofstream(file, std::ios::binary) << actual;
        return;
    }
    ASSERT_TRUE(fs::exists(file)) << file << " is missing (run with PEV_UPDATE_GOLDEN=1)";
    const auto expected = read_file(file.string());
    EXPECT_EQ(std::string(expected.begin(), expected.end()), actual) << stream;
}

} // namespace

void put(const TempDir& dir, const std::string& name, const TestArchive& archive) {
    write_file(dir.file(name), build_archive(archive));
}

void run_golden_case(const GoldenCase& golden, const std::string& program,
                     const fs::path& golden_root) {
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
    TempDir dir;
    if (golden.setup) {
        golden.setup(dir);
    }
    const auto inputs = list_inputs(dir.path());
    const ProcessResult result =
        run_process(program, golden.args, dir.path().string(), golden.memory_limit_kb);

    const fs::path expected = golden_root / golden.name;
    if (golden.binary_stdout) {
        const std::vector<std::uint8_t> bytes(result.out.begin(), result.out.end());
        check_golden(expected, "stdout", size_and_checksum(bytes) + "\n");
    } else {
        check_golden(expected, "stdout", without_carriage_returns(result.out));
    }
    check_golden(expected, "stderr", without_carriage_returns(result.err));
    check_golden(expected, "status", std::to_string(result.status) + "\n");
    check_golden(expected, "files", list_outputs(dir.path(), inputs));
}

} // namespace pev::test
