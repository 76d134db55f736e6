// The audio thread must never wait on the allocator: in effect mode neither processReplacing nor
// processEvents allocates, from the very first block on, whatever the block size, the events or
// the parameter writes between blocks.
//
// Allocations are counted by the shared interposer, armed only around the plug-in's calls.
#include <gtest/gtest.h>

#include "reliability/reliability_support.h"
#include "support/allocation_counter.h"

namespace {

using allocation_counter::allocationsDuring;
using allocation_counter::hooksInstalled;

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
