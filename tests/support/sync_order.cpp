#include "support/sync_order.hpp"

#include <map>
#include <regex>
#include <sstream>

namespace pev::test {
namespace {

bool is_temporary(const std::string& path) {
    return path.find(".pev-") != std::string::npos && path.ends_with(".tmp");
}

// The quoted strings of a call's arguments, in order.
std::vector<std::string> quoted(const std::string& arguments) {
    std::vector<std::string> found;
    static const std::regex string("\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(arguments.begin(), arguments.end(), string);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

} // namespace

SyncOrder sync_order(const std::string& trace) {
    SyncOrder order;
    std::map<int, bool> made;              // a file being made: its descriptor, synced
    std::map<std::string, bool> temporary; // its temporary name: synced
    std::map<int, bool> folders;           // an open folder: synced
    bool folder_owed = false;              // a final name awaits its folder's sync
    static const std::regex call(R"(^\d+\s+(\w+)\((.*)\)\s+= (-?\d+))");
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line) && order.problem.empty();) {
        std::smatch match;
        if (!std::regex_search(line, match, call) || std::stoi(match[3]) < 0) {
            continue;
        }
        const std::string name = match[1];
        const std::string arguments = match[2];
        const int result = std::stoi(match[3]);
        const std::vector<std::string> paths = quoted(arguments);
        const int first = std::atoi(arguments.c_str()); // a descriptor, when it leads
        const auto fail = [&](const std::string& what) { order.problem = what + ": " + line; };
        if (name == "open" || name == "openat") {
            if (arguments.find("O_DIRECTORY") != std::string::npos) {
                folders[result] = false;
            } else if (arguments.find("O_TMPFILE") != std::string::npos ||
                       (!paths.empty() && is_temporary(paths[0]) &&
                        arguments.find("O_CREAT") != std::string::npos)) {
                made[result] = false;
                if (!paths.empty() && is_temporary(paths[0])) {
                    temporary[paths[0]] = false;
                }
            }
        } else if (name == "close") {
            made.erase(first);
            folders.erase(first);
        } else if (name == "fsync" || name == "fdatasync") {
            if (made.count(first) != 0) {
                made[first] = true;
                for (auto& [path, synced] : temporary) {
                    synced = true; // one file is made at a time
                }
            } else if (folders.count(first) != 0 && folder_owed) {
                folder_owed = false;
            }
        } else if (name == "linkat" || name == "link" || name == "rename" || name == "renameat" ||
                   name == "renameat2") {
            // linkat(fd, "", ..., "to") or linkat(..., "/proc/self/fd/N", ..., "to");
            // the others name a temporary file and where it goes.
            bool synced = false;
            if (name == "linkat" && paths.size() == 2 && paths[0].empty()) {
                synced = made.count(first) != 0 && made[first];
            } else if (name == "linkat" && paths.size() == 2 &&
                       paths[0].starts_with("/proc/self/fd/")) {
                const int fd = std::stoi(paths[0].substr(14));
                synced = made.count(fd) != 0 && made[fd];
            } else if (paths.size() == 2 && temporary.count(paths[0]) != 0) {
                synced = temporary[paths[0]];
            } else {
                continue; // not a file this run made
            }
            if (!synced) {
                fail("named before it was synced");
            }
            const std::string& to = paths.back();
            if (is_temporary(to)) {
                temporary[to] = true;
            } else {
                if (folder_owed) {
                    fail("the folder was not synced after the last file took its name");
                }
                folder_owed = true;
                ++order.placed;
            }
        }
    }
    if (order.problem.empty() && folder_owed) {
        order.problem = "the folder was not synced after the file took its name";
    }
    return order;
}

} // namespace pev::test
