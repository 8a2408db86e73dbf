#include "platform/console.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace pev {

#ifdef _WIN32

bool is_terminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

int terminal_width(std::FILE* stream) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (handle == INVALID_HANDLE_VALUE || GetConsoleScreenBufferInfo(handle, &info) == 0) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void set_binary_mode(std::FILE* stream) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}

void hold_console_window_open() {
    // The console lists every process attached to it: only this one means
    // the window was made for it and goes away when it ends.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) {
        return;
    }
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) == 0) {
        return; // input comes from elsewhere: nobody could press Enter
    }
    std::fflush(stdout);
    std::fputs("\nPress Enter to close this window.", stderr);
    std::fflush(stderr);
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
}

#else

bool is_terminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

int terminal_width(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

void set_binary_mode(std::FILE*) {}

void hold_console_window_open() {}

#endif

} // namespace pev
