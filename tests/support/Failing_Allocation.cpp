// The test binary's operator new and delete: malloc and free, with one
// allocation made to fail on request (see Failing_Allocation.h). Every form
// that pairs with the plain delete is replaced, so that memory is always
// returned the way it was taken, also under the sanitizers.
#include "support/Failing_Allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::int64_t> g_Countdown{-1};
std::atomic<std::int64_t> g_Made{0};
std::atomic<bool> g_Failed{false};

// Null when this allocation is the one chosen to fail.
void* Allocate(std::size_t size) {
    g_Made.fetch_add(1, std::memory_order_relaxed);
    if (g_Countdown.load(std::memory_order_relaxed) >= 0 && g_Countdown.fetch_sub(1) == 0) {
        g_Failed.store(true);
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* Allocate_Or_Throw(std::size_t size) {
    void* p = Allocate(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

namespace test_support {

void Fail_Allocation(std::int64_t n) {
    g_Failed.store(false);
    g_Countdown.store(n);
}

void Stop_Failing_Allocations() { g_Countdown.store(-1); }

bool Allocation_Failed() { return g_Failed.load(); }

std::int64_t Allocations_Made() { return g_Made.load(); }

}  // namespace test_support

void* operator new(std::size_t size) { return Allocate_Or_Throw(size); }
void* operator new[](std::size_t size) { return Allocate_Or_Throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
