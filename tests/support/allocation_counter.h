// Counts every heap allocation of the test process while a test asks for it.
//
// Include from exactly one source file of a test executable: it replaces the process's
// allocator. Under AddressSanitizer, which owns malloc and operator new, its allocation hook sees
// every heap allocation; elsewhere malloc, calloc, realloc and the global operator new are
// replaced here, and a plug-in module loaded into the process resolves them to these definitions
// as well.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define ZELKO_COUNT_THROUGH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELKO_COUNT_THROUGH_ASAN 1
#endif
#endif

namespace allocation_counter {

inline std::atomic<bool> armed{false};
inline std::atomic<long> allocations{0};

inline void noteAllocation() {
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}

}  // namespace allocation_counter

#if defined(ZELKO_COUNT_THROUGH_ASAN)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*,
                                                                  std::size_t),
                                                         void (*)(const volatile void*));

namespace allocation_counter {

inline void mallocHook(const volatile void*, std::size_t) {
    noteAllocation();
}
inline void freeHook(const volatile void*) {}

inline const bool hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook) != 0;

}  // namespace allocation_counter

#else

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t size) {
    allocation_counter::noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    allocation_counter::noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
    allocation_counter::noteAllocation();
    return __libc_realloc(pointer, size);
}
}

// operator new is counted through malloc; the aligned forms go to memalign, counted here.
void* operator new(std::size_t size) {
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    allocation_counter::noteAllocation();
    if (void* p = __libc_memalign(static_cast<std::size_t>(alignment), size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
// Every form of new above ends in malloc or memalign, so free is the matching release; GCC cannot
// see that through the inlined operators.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

#pragma GCC diagnostic pop

namespace allocation_counter {
inline const bool hooksInstalled = true;
}  // namespace allocation_counter

#endif

namespace allocation_counter {

// Counts the allocations made while `work` runs.
template <typename Work>
long allocationsDuring(Work work) {
    allocations = 0;
    armed = true;
    work();
    armed = false;
    return allocations.load();
}

}  // namespace allocation_counter
