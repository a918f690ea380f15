// The replaced operators live in a file of their own, away from the code under
// test, so that no new expression is folded into a direct malloc call.
#include "tests/support/alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_calls{0};

}  // namespace

namespace kelvora::test {

void StartCountingAllocations() {
    g_calls = 0;
    g_counting = true;
}

long StopCountingAllocations() {
    g_counting = false;
    return g_calls;
}

}  // namespace kelvora::test

void* operator new(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_calls.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
