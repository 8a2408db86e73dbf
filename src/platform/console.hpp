#pragma once
// What a program needs to know about the console it runs in: whether a
// stream is a terminal, how to send raw bytes through standard output, and,
// on Windows, whether the console window will close with the program.

#include <cstdio>

namespace pev {

// True when `stream` is a terminal (a console window), not a file or a pipe.
bool is_terminal(std::FILE* stream);

// The width of the terminal `stream` shows in, in columns; 0 when it is not
// a terminal or the width cannot be told.
int terminal_width(std::FILE* stream);

// Makes `stream` pass bytes through untouched. Windows otherwise turns every
// "\n" byte into "\r\n"; other hosts never change bytes, so it does nothing
// there.
void set_binary_mode(std::FILE* stream);

// On Windows, when the console window was opened for this process alone (a
// double-click or a file dropped on the program) and is still shown, asks
// for Enter before the window closes with the process, so its last lines can
// be read. Does nothing when the program was started from a console that
// stays, or on other hosts.
void hold_console_window_open();

} // namespace pev
