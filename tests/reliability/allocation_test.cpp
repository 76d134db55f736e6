// The audio thread must never wait on the allocator: in effect mode neither processReplacing nor
// processEvents allocates, from the very first block on, whatever the block size, the events or
// the parameter writes between blocks.
//
// Allocations are counted by an interposer that is armed only around the plug-in's calls. Under
// AddressSanitizer, which owns malloc and operator new, its allocation hook sees every heap
// allocation; elsewhere malloc, calloc, realloc and the global operator new are replaced here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "reliability/reliability_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZELKO_COUNT_THROUGH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELKO_COUNT_THROUGH_ASAN 1
#endif
#endif

namespace {

std::atomic<bool> armed{false};
std::atomic<long> allocations{0};

void noteAllocation() {
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}

}  // namespace

#if defined(ZELKO_COUNT_THROUGH_ASAN)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*,
                                                                  std::size_t),
                                                         void (*)(const volatile void*));

namespace {

void mallocHook(const volatile void*, std::size_t) {
    noteAllocation();
}
void freeHook(const volatile void*) {}

const bool hooksInstalled = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook) != 0;

}  // namespace

#else

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
    noteAllocation();
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
    noteAllocation();
    if (void* p = __libc_memalign(static_cast<std::size_t>(alignment), size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
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

namespace {
const bool hooksInstalled = true;
}  // namespace

#endif

namespace {

// Counts the allocations made while `work` runs.
template <typename Work>
long allocationsDuring(Work work) {
    allocations = 0;
    armed = true;
    work();
    armed = false;
    return allocations.load();
}

// One event list of everything a host sends: notes, all notes off, a plain controller, pitch
// bend and a system-exclusive event.
struct EventList {
    VstInt32 numEvents = 0;
    VstIntPtr reserved = 0;
    VstEvent* events[8] = {};
};

class Allocation : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(hooksInstalled);
        ASSERT_TRUE(plugin);
        reliability::startPlayback(plugin, 44100.0f, 512);
        const unsigned char messages[7][3] = {{0x90, 60, 100}, {0x80, 60, 0},  {0x9F, 64, 0},
                                              {0xB0, 123, 0},  {0xB0, 7, 100}, {0xE0, 0, 64},
                                              {0x90, 72, 127}};
        for (int e = 0; e < 7; ++e) {
            VstMidiEvent& event = midi[e];
            event.type = kVstMidiType;
            event.byteSize = sizeof(VstMidiEvent);
            event.deltaFrames = e * 50;
            for (int b = 0; b < 3; ++b) event.midiData[b] = static_cast<char>(messages[e][b]);
            list.events[e] = reinterpret_cast<VstEvent*>(&event);
        }
        sysex.type = kVstSysExType;
        sysex.byteSize = sizeof(VstEvent);
        list.events[7] = &sysex;
        list.numEvents = 8;
    }

    // Blocks of every awkward size, up to twice the announced 512 and beyond, each with its
    // events and a parameter write before it.
    void playBlocks() {
        static constexpr int kSizes[] = {512, 1, 17, 64, 4097, 1024, 8192, 0, 333};
        for (int round = 0; round < 4; ++round) {
            for (int frames : kSizes) {
                plugin.dispatch(effProcessEvents, 0, 0, &list);
                plugin.setParameter(round % 5, 0.3f + 0.1f * static_cast<float>(round));
                runner.run(signal.data(), frames);
            }
        }
    }

    testhost::Plugin plugin;
    VstMidiEvent midi[7] = {};
    VstEvent sysex = {};
    EventList list;
    std::vector<float> signal = reliability::noise(8192, 17);
    reliability::BlockRunner runner{plugin.effect(), 8192};
};

TEST_F(Allocation, TheCounterSeesAnAllocation) {
    const long counted = allocationsDuring([] {
        auto* volatile p = new int(3);
        delete p;
    });
    EXPECT_GE(counted, 1);
}

TEST_F(Allocation, EffectModeBlocksAndEventsAllocateNothingFromTheFirstBlock) {
    EXPECT_EQ(allocationsDuring([&] { playBlocks(); }), 0);
    EXPECT_EQ(runner.fault(333), "");
}

TEST_F(Allocation, NothingAllocatedAfterASampleRateChange) {
    plugin.dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    EXPECT_EQ(allocationsDuring([&] { playBlocks(); }), 0);
}

}  // namespace
