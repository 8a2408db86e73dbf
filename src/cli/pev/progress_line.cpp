#include "cli/pev/progress_line.hpp"

#include "platform/console.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace pev::cli::tool {
namespace {

constexpr auto kFirstDrawAfter = std::chrono::milliseconds(500);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// How long a run lasts before the line appears: PEV_PROGRESS_DELAY, in
// milliseconds, when it holds one (0 shows it from the first clip, for
// scripts that drive a terminal and for tests), else half a second.
std::chrono::milliseconds first_draw_after() {
    const char* text = std::getenv("PEV_PROGRESS_DELAY");
    if (text == nullptr || *text == '\0') {
        return kFirstDrawAfter;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    const bool valid = *end == '\0' && text[0] != '-' && value <= 86'400'000;
    return valid ? std::chrono::milliseconds(value) : kFirstDrawAfter;
}

} // namespace

ProgressLine::ProgressLine(std::FILE* stream, std::size_t total, bool enabled)
    : stream_(stream), enabled_(enabled && is_terminal(stream)), total_(total),
      next_draw_(start_ + first_draw_after()) {}

void ProgressLine::advance(std::uint64_t bytes) {
    ++done_;
    bytes_ += bytes;
    if (!enabled_) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now < next_draw_) {
        return;
    }
    next_draw_ = now + kRedrawEvery;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    char line[96];
    std::snprintf(line, sizeof line, "%zu of %zu clips, %.1f MB, %.1f s", done_, total_,
                  double(bytes_) / 1e6, seconds);
    // A line as wide as the terminal would wrap, and the carriage return
    // would then go back to the start of its second row only: each draw
    // would stack a row. One column less never wraps. The width is asked
    // each time, as the window may be resized.
    const int width = terminal_width(stream_);
    const int room = width > 1 ? width - 1 : int(sizeof line);
    const int length = std::min(static_cast<int>(std::strlen(line)), room);
    // Blanking a longer earlier line must not wrap either.
    shown_length_ = std::min(shown_length_, room);
    // Carriage return, no line feed: the next draw writes over this one.
    std::fprintf(stream_, "\r%.*s", length, line);
    // A shorter line than the last leaves no tail of it behind.
    if (length < shown_length_) {
        std::fprintf(stream_, "%*s", shown_length_ - length, "");
    }
    std::fflush(stream_);
    shown_length_ = std::max(shown_length_, length);
}

void ProgressLine::clear() {
    if (shown_length_ > 0) {
        std::fprintf(stream_, "\r%*s\r", shown_length_, "");
        std::fflush(stream_);
        shown_length_ = 0;
    }
}

} // namespace pev::cli::tool
