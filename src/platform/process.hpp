#pragma once
// The process's side of the host: how its command line arrives and how its
// console shows text. Inside the program everything is UTF-8.

#include <optional>
#include <string>

namespace pev {

// The command line exactly as the host holds it, converted to UTF-8, on hosts
// that hand a program one unsplit line (Windows); nullopt on hosts whose
// argument vector is already split (POSIX shells do it).
std::optional<std::string> raw_command_line();

// While alive, makes a Windows console show UTF-8 text (consoles otherwise
// read bytes in a legacy code page) and restores the console's code page
// afterwards. Output redirected to a file or pipe is UTF-8 bytes as written.
// Does nothing on other hosts, whose terminals take UTF-8 already.
class Utf8Console {
  public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

  private:
    [[maybe_unused]] unsigned int previous_code_page_ = 0; // 0: not changed (Windows only)
};

} // namespace pev
