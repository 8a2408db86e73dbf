#include "support/golden.hpp"

#include "support/archive_builder.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace pev::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Larger outputs are pinned by size and checksum alone.
constexpr std::size_t kLargestStoredCopy = 64 * 1024;

bool updating() {
    const char* update = std::getenv("PEV_UPDATE_GOLDEN");
    return update != nullptr && update[0] == '1';
}

std::string checksum(const Bytes& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL; // FNV-1a
    for (const std::uint8_t b : bytes) {
        hash = (hash ^ b) * 0x100000001b3ULL;
    }
    std::ostringstream text;
    text << std::hex << hash;
    return text.str();
}

struct Listed {
    std::size_t size = 0;
    std::string checksum;
};

// "path size checksum" lines; the path may hold blanks.
std::map<std::string, Listed> parse_listing(const std::string& text) {
    std::map<std::string, Listed> listed;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t last = line.rfind(' ');
        if (last == std::string::npos || last == 0) {
            continue;
        }
        const std::size_t middle = line.rfind(' ', last - 1);
        if (middle == std::string::npos) {
            continue;
        }
        listed[line.substr(0, middle)] = {std::stoul(line.substr(middle + 1, last - middle - 1)),
                                          line.substr(last + 1)};
    }
    return listed;
}

const char* wav_header_field(std::size_t at) {
    struct Field {
        std::size_t end;
        const char* name;
    };
    static constexpr Field kFields[] = {
        {4, "RIFF tag"},   {8, "RIFF size"},    {12, "WAVE tag"},        {16, "fmt tag"},
        {20, "fmt size"},  {22, "format tag"},  {24, "channels"},        {28, "sample rate"},
        {32, "byte rate"}, {34, "block align"}, {36, "bits per sample"}, {40, "data tag"},
        {44, "data size"},
    };
    for (const Field& field : kFields) {
        if (at < field.end) {
            return field.name;
        }
    }
    return nullptr;
}

// The byte at `at` in words: "byte 41 (data size)" or "byte 1046 (sample 501)".
std::string where(const std::string& name, std::size_t at) {
    std::string text = "byte " + std::to_string(at);
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".wav") == 0) {
        const char* field = wav_header_field(at);
        text += field != nullptr ? std::string(" (") + field + ")"
                                 : " (sample " + std::to_string((at - 44) / 2) + ")";
    }
    return text;
}

std::string hex(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte);
    return text;
}

} // namespace

std::string describe_difference(const std::string& name, const Bytes& expected,
                                const Bytes& actual) {
    const auto [e, a] =
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    const auto at = static_cast<std::size_t>(e - expected.begin());
    std::string text = name + ": ";
    if (e != expected.end() && a != actual.end()) {
        text +=
            "first difference at " + where(name, at) + ": expected " + hex(*e) + ", got " + hex(*a);
    } else if (expected.size() == actual.size()) {
        return name + ": no difference";
    } else {
        text += "the first " + std::to_string(at) + " bytes agree, then the " +
                (a == actual.end() ? "written file ends" : "expected file ends") + " at " +
                where(name, at);
    }
    return text + "; expected " + std::to_string(expected.size()) + " bytes, got " +
           std::to_string(actual.size());
}

std::vector<std::string> list_regular_files(const fs::path& root) {
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

void check_golden(const fs::path& case_dir, const std::string& stream, const std::string& actual) {
    const fs::path file = case_dir / stream;
    if (updating()) {
        fs::create_directories(case_dir);
        std::ofstream(file, std::ios::binary) << actual;
        return;
    }
    ASSERT_TRUE(fs::exists(file)) << file << " is missing (run with PEV_UPDATE_GOLDEN=1)";
    const auto expected = read_file(file.string());
    EXPECT_EQ(std::string(expected.begin(), expected.end()), actual) << stream;
}

void check_golden_outputs(const fs::path& case_dir, const fs::path& root,
                          const std::vector<std::string>& inputs) {
    // Every regular file but the inputs; symbolic links are not outputs.
    std::map<std::string, Bytes> outputs;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(item.path(), root).generic_string();
        if (item.is_regular_file() && !item.is_symlink() &&
            std::find(inputs.begin(), inputs.end(), relative) == inputs.end()) {
            outputs[relative] = read_file(item.path().string());
        }
    }
    std::vector<std::string> lines;
    for (const auto& [name, bytes] : outputs) {
        lines.push_back(name + ' ' + std::to_string(bytes.size()) + ' ' + checksum(bytes) + '\n');
    }
    std::sort(lines.begin(), lines.end());
    std::string listing;
    for (const auto& line : lines) {
        listing += line;
    }

    const fs::path copies = case_dir.parent_path() / "output_bytes";
    if (updating()) {
        fs::create_directories(copies);
        for (const auto& [name, bytes] : outputs) {
            if (bytes.size() <= kLargestStoredCopy) {
                write_file((copies / checksum(bytes)).string(), bytes);
            }
        }
    }
    check_golden(case_dir, "files", listing);
    if (updating() || !fs::exists(case_dir / "files")) {
        return;
    }
    const Bytes expected_text = read_file((case_dir / "files").string());
    for (const auto& [name, listed] :
         parse_listing(std::string(expected_text.begin(), expected_text.end()))) {
        const auto written = outputs.find(name);
        if (written == outputs.end()) {
            ADD_FAILURE() << name << ": expected, but not written";
            continue;
        }
        const Bytes& actual = written->second;
        if (actual.size() == listed.size && checksum(actual) == listed.checksum) {
            continue;
        }
        const fs::path copy = copies / listed.checksum;
        const Bytes expected = fs::exists(copy) ? read_file(copy.string()) : Bytes{};
        if (expected.size() != listed.size || checksum(expected) != listed.checksum) {
            ADD_FAILURE() << name << ": differs; no copy of the expected bytes in " << copies;
            continue;
        }
        ADD_FAILURE() << describe_difference(name, expected, actual);
    }
}

} // namespace pev::test
