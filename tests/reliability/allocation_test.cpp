// The audio thread must never wait on the allocator or the operating system: in effect mode
// neither processReplacing nor processEvents allocates or makes a system call (a write to a
// stream among them), from the very first block on, whatever the block size, the events or the
// parameter writes between blocks.
//
// Allocations and system calls are counted by the shared interposer, armed only around the
// plug-in's calls.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

#include "reliability/reliability_support.h"
#include "support/allocation_counter.h"

namespace {

using allocation_counter::faultsDuring;
using allocation_counter::hooksInstalled;

constexpr int kMessages = 10;

// One event list of everything a host sends: notes, the controllers that end every note (all
// sound off 120, all notes off 123, mono mode 126), plain controllers (volume 7, modulation 1),
// pitch bend and a system-exclusive event.
struct EventList {
    VstInt32 numEvents = 0;
    VstIntPtr reserved = 0;
    VstEvent* events[kMessages + 1] = {};
};

class Allocation : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(hooksInstalled);
        ASSERT_TRUE(plugin);
        reliability::startPlayback(plugin, 44100.0f, 512);
        const unsigned char messages[kMessages][3] = {
            {0x90, 60, 100}, {0x80, 60, 0}, {0x9F, 64, 0},  {0xB0, 123, 0}, {0xB0, 7, 100},
            {0xB3, 120, 0},  {0xB0, 1, 5},  {0xBF, 126, 0}, {0xE0, 0, 64},  {0x90, 72, 127}};
        for (int e = 0; e < kMessages; ++e) {
            VstMidiEvent& event = midi[e];
            event.type = kVstMidiType;
            event.byteSize = sizeof(VstMidiEvent);
            event.deltaFrames = e * 50;
            for (int b = 0; b < 3; ++b) event.midiData[b] = static_cast<char>(messages[e][b]);
            list.events[e] = reinterpret_cast<VstEvent*>(&event);
        }
        sysex.type = kVstSysExType;
        sysex.byteSize = sizeof(VstEvent);
        list.events[kMessages] = &sysex;
        list.numEvents = kMessages + 1;
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
    VstMidiEvent midi[kMessages] = {};
    VstEvent sysex = {};
    EventList list;
    std::vector<float> signal = reliability::noise(8192, 17);
    reliability::BlockRunner runner{plugin.effect(), 8192};
};

// Each kind of call the guard watches, alone, is seen and named.
TEST_F(Allocation, TheCounterSeesAnAllocationAndEachSystemCall) {
    const auto counted = faultsDuring([] {
        auto* volatile p = new int(3);
        delete p;
    });
    EXPECT_GE(counted.allocations, 1);
    EXPECT_EQ(counted.systemCalls, 0);

    static const timespec none = {0, 0};
    const std::pair<const char*, void (*)()> calls[] = {
        {"fputs", [] { std::fputs("", stderr); }},
        {"fprintf", [] { std::fprintf(stderr, "%s", ""); }},
        {"fwrite", [] { std::fwrite("", 1, 0, stderr); }},
        {"write", [] { (void)!write(2, "", 0); }},
        {"nanosleep", [] { nanosleep(&none, nullptr); }},
        {"pthread_mutex_lock", [] {
             static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
             pthread_mutex_lock(&mutex);
             pthread_mutex_unlock(&mutex);
         }}};
    for (const auto& [name, call] : calls) {
        const auto seen = faultsDuring(call);
        EXPECT_GE(seen.systemCalls, 1) << name;
        EXPECT_EQ(seen.allocations, 0) << name;
    }
}

TEST_F(Allocation, EffectModeBlocksAndEventsAllocateAndCallNothingFromTheFirstBlock) {
    const auto faults = faultsDuring([&] { playBlocks(); });
    EXPECT_TRUE(faults.none()) << faults;
    EXPECT_EQ(runner.fault(333), "");
}

// The events alone, each kind on its own, so that a fault names the message that caused it.
TEST_F(Allocation, NoEventAllocatesOrCalls) {
    for (int e = 0; e <= kMessages; ++e) {
        EventList one;
        one.numEvents = 1;
        one.events[0] = list.events[e];
        const auto faults = faultsDuring([&] { plugin.dispatch(effProcessEvents, 0, 0, &one); });
        EXPECT_TRUE(faults.none()) << "event " << e << ": " << faults;
    }
}

TEST_F(Allocation, NothingAllocatedOrCalledAfterASampleRateChange) {
    plugin.dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    const auto faults = faultsDuring([&] { playBlocks(); });
    EXPECT_TRUE(faults.none()) << faults;
}

}  // namespace
