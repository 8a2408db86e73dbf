#include "cli/guarded_run.hpp"

#include <exception>
#include <new>

namespace pev::cli {

int run_guarded(const char* program, std::FILE* err, const std::function<int()>& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        std::fprintf(err, "%s: out of memory\n", program);
    } catch (const std::exception& error) {
        std::fprintf(err, "%s: internal error: %s\n", program, error.what());
    } catch (...) {
        std::fprintf(err, "%s: internal error\n", program);
    }
    return 1;
}

} // namespace pev::cli
