#include "dsp/zeroed_block.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define ZELKO_ZEROED_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELKO_ZEROED_FROM_HEAP 1
#endif
#endif

#if !defined(ZELKO_ZEROED_FROM_HEAP) && defined(__linux__)
#include <sys/mman.h>
#define ZELKO_ZEROED_FROM_MMAP 1
#elif !defined(ZELKO_ZEROED_FROM_HEAP) && defined(_WIN32)
#include <windows.h>
#define ZELKO_ZEROED_FROM_VIRTUALALLOC 1
#endif

// Straight from the operating system: a heap's calloc hands out fresh pages for large blocks
// too, but once large blocks have been freed it may reuse their memory and then has to write
// zeros over all of it. Under AddressSanitizer the heap is used, so that its checks cover the
// block.
void* allocateZeroed(std::size_t bytes, std::size_t alignment) {
#if defined(ZELKO_ZEROED_FROM_MMAP)
    (void)alignment;  // pages are aligned to 4096 bytes
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) throw std::bad_alloc();
    return pages;
#elif defined(ZELKO_ZEROED_FROM_VIRTUALALLOC)
    (void)alignment;  // allocations are aligned to 64 KB
    void* pages = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (pages == nullptr) throw std::bad_alloc();
    return pages;
#else
    // Room to align the block and to keep the heap's own pointer just before it.
    void* memory = std::calloc(1, bytes + alignment + sizeof(void*));
    if (memory == nullptr) throw std::bad_alloc();
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(memory) + sizeof(void*);
    const std::uintptr_t aligned = (first + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
    static_cast<void**>(reinterpret_cast<void*>(aligned))[-1] = memory;
    return reinterpret_cast<void*>(aligned);
#endif
}

void releaseZeroed(void* block, std::size_t bytes, std::size_t alignment) noexcept {
    (void)alignment;
    if (block == nullptr) return;
#if defined(ZELKO_ZEROED_FROM_MMAP)
    munmap(block, bytes);
#elif defined(ZELKO_ZEROED_FROM_VIRTUALALLOC)
    (void)bytes;
    VirtualFree(block, 0, MEM_RELEASE);
#else
    (void)bytes;
    std::free(static_cast<void**>(block)[-1]);
#endif
}
