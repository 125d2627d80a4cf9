// Lets a test make the next allocation of its own thread fail once, to reach
// out-of-memory paths; other threads (the fake monitor's) are never affected.
// Kept in a file of its own so that the compiler never sees these definitions
// inlined next to the allocations of a test.

#include <cstdlib>
#include <new>

namespace {
thread_local bool t_FailNext = false;
}

void FailNextAllocation(bool fail) {
    t_FailNext = fail;
}

// clang-format off
void* operator new(std::size_t size) {
    if (t_FailNext) { t_FailNext = false; throw std::bad_alloc(); }
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try { return operator new(size); } catch (const std::bad_alloc&) { return nullptr; }
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
// clang-format on
