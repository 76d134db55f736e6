// Counts every heap allocation and every call into the operating system of the test process
// while a test asks for it: what the audio thread must never do.
//
// Include from exactly one source file of a test executable: it replaces the process's
// allocator. Under AddressSanitizer, which owns malloc and operator new, its allocation hook sees
// every heap allocation; elsewhere malloc, calloc, realloc and the global operator new are
// replaced here, and a plug-in module loaded into the process resolves them to these definitions
// as well.
//
// The system calls are seen where code enters the C library on its way to one: the writes and
// reads of files and streams (write, writev, read, and the stdio functions that end in them, whose
// own inner calls of write the C library makes past any interposer), sleeping, yielding and
// locking a mutex. Each is replaced here by a function that notes the call and goes on to the
// next definition (the sanitizer's or the C library's). A plug-in module loaded into the process
// reaches these only if the executable exports them: link it with ENABLE_EXPORTS.
#pragma once

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <ostream>

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
inline std::atomic<long> systemCalls{0};
inline std::atomic<const char*> firstSystemCall{nullptr};

inline void noteAllocation() {
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}

inline void noteSystemCall(const char* name) {
    if (armed.load(std::memory_order_relaxed) && systemCalls.fetch_add(1) == 0)
        firstSystemCall = name;
}

// The definition of `name` that the replacement below hides, found on first use. No static local:
// its guard could lock a mutex, which is replaced too.
template <class Function>
Function next(std::atomic<Function>& cache, const char* name) {
    Function f = cache.load(std::memory_order_relaxed);
    if (f == nullptr) {
        f = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
        cache.store(f, std::memory_order_relaxed);
    }
    return f;
}

}  // namespace allocation_counter

// A replaced function: notes the call, then calls on with the same arguments.
#define ZELKO_WATCH_CALL(Result, name, parameters, arguments, ...) \
    extern "C" Result name parameters __VA_ARGS__ {                \
        allocation_counter::noteSystemCall(#name);                 \
        static std::atomic<Result(*) parameters> cache{nullptr};   \
        return allocation_counter::next(cache, #name) arguments;   \
    }

ZELKO_WATCH_CALL(ssize_t, write, (int fd, const void* data, size_t size), (fd, data, size))
ZELKO_WATCH_CALL(ssize_t, writev, (int fd, const struct iovec* parts, int count),
                 (fd, parts, count))
ZELKO_WATCH_CALL(ssize_t, read, (int fd, void* data, size_t size), (fd, data, size))
ZELKO_WATCH_CALL(int, nanosleep, (const struct timespec* wait, struct timespec* left), (wait, left))
ZELKO_WATCH_CALL(int, clock_nanosleep,
                 (clockid_t clock, int flags, const struct timespec* wait, struct timespec* left),
                 (clock, flags, wait, left))
ZELKO_WATCH_CALL(int, usleep, (useconds_t wait), (wait))
ZELKO_WATCH_CALL(int, sched_yield, (), (), noexcept)
ZELKO_WATCH_CALL(int, pthread_mutex_lock, (pthread_mutex_t * mutex), (mutex), noexcept)
ZELKO_WATCH_CALL(int, fputs, (const char* text, FILE* stream), (text, stream))
ZELKO_WATCH_CALL(int, fputc, (int c, FILE* stream), (c, stream))
ZELKO_WATCH_CALL(int, putc, (int c, FILE* stream), (c, stream))
ZELKO_WATCH_CALL(int, puts, (const char* text), (text))
ZELKO_WATCH_CALL(size_t, fwrite, (const void* data, size_t size, size_t count, FILE* stream),
                 (data, size, count, stream))
ZELKO_WATCH_CALL(int, fflush, (FILE * stream), (stream))
ZELKO_WATCH_CALL(int, vfprintf, (FILE * stream, const char* format, va_list arguments),
                 (stream, format, arguments))

#undef ZELKO_WATCH_CALL

// The printing functions with variable arguments, through vfprintf above; with _FORTIFY_SOURCE
// the compiler calls the checking forms instead.
extern "C" int fprintf(FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int written = vfprintf(stream, format, arguments);
    va_end(arguments);
    return written;
}
extern "C" int printf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int written = vfprintf(stdout, format, arguments);
    va_end(arguments);
    return written;
}
extern "C" int __fprintf_chk(FILE* stream, int, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int written = vfprintf(stream, format, arguments);
    va_end(arguments);
    return written;
}

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

// What the audio thread did that it must not: allocations, and calls into the operating system,
// the first of them by name.
struct Faults {
    long allocations = 0;
    long systemCalls = 0;
    const char* firstSystemCall = nullptr;

    bool none() const { return allocations == 0 && systemCalls == 0; }
    Faults& operator+=(const Faults& more) {
        allocations += more.allocations;
        systemCalls += more.systemCalls;
        if (firstSystemCall == nullptr) firstSystemCall = more.firstSystemCall;
        return *this;
    }
    friend std::ostream& operator<<(std::ostream& out, const Faults& f) {
        out << f.allocations << " allocations, " << f.systemCalls << " system calls";
        if (f.firstSystemCall != nullptr) out << ", the first " << f.firstSystemCall;
        return out;
    }
};

// Counts the allocations and system calls made while `work` runs.
template <typename Work>
Faults faultsDuring(Work work) {
    allocations = 0;
    systemCalls = 0;
    firstSystemCall = nullptr;
    armed = true;
    work();
    armed = false;
    return {allocations.load(), systemCalls.load(), firstSystemCall.load()};
}

template <typename Work>
long allocationsDuring(Work work) {
    return faultsDuring(work).allocations;
}

}  // namespace allocation_counter
