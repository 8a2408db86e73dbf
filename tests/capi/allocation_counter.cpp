// The process's operator new, counting. It is alone in its file so that no
// call is inlined into its callers: every one goes through the symbol, which
// valgrind puts its own in place of, paired with its operator delete (the
// count is then 0). The memory comes from malloc, which the standard
// operator delete gives back to. The sanitizers, which track new against
// delete, keep their own operators: there nothing is counted.

#include "capi/allocation_counter.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PEV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define PEV_SANITIZED 1
#endif
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
} // namespace

#ifndef PEV_SANITIZED
void* operator new(std::size_t size) {
    if (counting.load()) {
        allocations.fetch_add(1);
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
#endif

namespace pev::test {

void start_counting_allocations() {
    allocations = 0;
    counting = true;
}

int stop_counting_allocations() {
    counting = false;
    return allocations.load();
}

} // namespace pev::test
