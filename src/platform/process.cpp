#include "platform/process.hpp"

#ifdef _WIN32
#include <cstdio>
#include <cwchar>
#include <windows.h>
#endif

#ifdef __MINGW32__
// MinGW's C runtime can expand * and ? in the arguments before main() runs.
// The program reads the raw command line instead, but the runtime's work
// (and its matches against the current folder) is wasted or misleading, so
// it is switched off here for every program linked with this library.
// MSVC's runtime never expands unless setargv.obj is linked in.
extern "C" {
int _dowildcard = 0;
}
#endif

namespace pev {

#ifdef _WIN32

namespace {
std::string narrow(const wchar_t* wide) {
    const int wide_length = static_cast<int>(std::wcslen(wide));
    if (wide_length == 0) {
        return {};
    }
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide, wide_length, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, wide_length, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

bool is_console(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}
} // namespace

std::optional<std::string> raw_command_line() {
    return narrow(GetCommandLineW());
}

Utf8Console::Utf8Console() {
    if (!is_console(STD_OUTPUT_HANDLE) && !is_console(STD_ERROR_HANDLE)) {
        return;
    }
    const UINT current = GetConsoleOutputCP();
    if (current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        previous_code_page_ = current;
    }
}

Utf8Console::~Utf8Console() {
    if (previous_code_page_ != 0) {
        // Everything must reach the console before its code page changes back.
        std::fflush(stdout);
        std::fflush(stderr);
        SetConsoleOutputCP(previous_code_page_);
    }
}

#else

std::optional<std::string> raw_command_line() {
    return std::nullopt;
}

Utf8Console::Utf8Console() = default;

Utf8Console::~Utf8Console() = default;

#endif

} // namespace pev
