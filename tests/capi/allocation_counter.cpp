// The process's operator new, counting. It is alone in its file so that no
// call is inlined into its callers: every one goes through the symbol, which
// tools such as valgrind then put their own in place of, paired with their
// operator delete (the count is then 0). The memory comes from malloc, which
// the standard operator delete gives back to.

#include "capi/allocation_counter.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    if (counting.load()) {
        allocations.fetch_add(1);
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

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
