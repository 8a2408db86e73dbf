#include "common/name_order.hpp"

#include <string_view>

namespace pev {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool before_as_people_sort(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            std::size_t a_end = i;
            std::size_t b_end = j;
            while (a_end < a.size() && is_digit(a[a_end])) {
                ++a_end;
            }
            while (b_end < b.size() && is_digit(b[b_end])) {
                ++b_end;
            }
            // Leading zeros do not count; then the longer run is the larger.
            std::size_t a_start = i;
            std::size_t b_start = j;
            while (a_start + 1 < a_end && a[a_start] == '0') {
                ++a_start;
            }
            while (b_start + 1 < b_end && b[b_start] == '0') {
                ++b_start;
            }
            const std::string_view a_run(a.data() + a_start, a_end - a_start);
            const std::string_view b_run(b.data() + b_start, b_end - b_start);
            if (a_run.size() != b_run.size()) {
                return a_run.size() < b_run.size();
            }
            if (a_run != b_run) {
                return a_run < b_run;
            }
            i = a_end;
            j = b_end;
            continue;
        }
        if (ascii_folded(a[i]) != ascii_folded(b[j])) {
            return static_cast<unsigned char>(ascii_folded(a[i])) <
                   static_cast<unsigned char>(ascii_folded(b[j]));
        }
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) {
        return j < b.size();
    }
    return a < b;
}

} // namespace pev
