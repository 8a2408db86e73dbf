#pragma once
// The commands of the `pev` tool, each a function over options the command
// line was parsed into. They print to `out` and `err` and return the exit
// status.

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace pev::cli::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // a clip or a file could not be read or written
inline constexpr int kExitUsage = 2;  // the command line itself is wrong

struct Streams {
    std::FILE* out;
    std::FILE* err;
};

struct ListOptions {
    std::string archive;
    bool json = false;
};

enum class Verbosity { quiet, normal, verbose };

struct ExtractOptions {
    std::string archive;
    std::optional<std::string> folder; // -o; default: the archive's folder
    std::optional<std::string> clips;  // -c LIST; default: every clip
    std::optional<std::string> name_template;
    bool force = false;
    Verbosity verbosity = Verbosity::normal;
};

struct CatOptions {
    std::string archive;
    std::size_t position = 0; // counted from 1, as the file names number clips
};

struct TestOptions {
    std::string archive;
};

struct PackOptions {
    std::string output;
    std::vector<std::string> inputs;
    std::optional<std::string> like;
    bool force = false;
};

int list_command(const ListOptions& options, const Streams& io);
int extract_command(const ExtractOptions& options, const Streams& io);
int cat_command(const CatOptions& options, const Streams& io);
int test_command(const TestOptions& options, const Streams& io);
int pack_command(const PackOptions& options, const Streams& io);

} // namespace pev::cli::tool
