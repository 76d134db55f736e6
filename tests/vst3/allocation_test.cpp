// Nothing reachable from process allocates or makes a system call: not a block with parameter
// changes at many offsets, not the bypass fade, not the meters sent back, not a state handed over
// from another thread, not the meter and the snapshot published while an editor is open.
#include <gtest/gtest.h>

#include <vector>

#include "support/allocation_counter.h"
#include "support/noise.h"
#include "support/vst3_host.h"
#include "vst3/parameters.h"

namespace {

using namespace vst3host;

TEST(Vst3Allocation, ProcessAllocatesNothing) {
    ASSERT_TRUE(allocation_counter::hooksInstalled);
    IPluginFactory* factory = loadFactory(moduleInBundle(ZELKO_VST3_BUNDLE));
    Instance plugin(factory, 48000.0, 512);
    ASSERT_TRUE(plugin);
    std::vector<float> in = testsignal::noise(512 * 40, 9u), left(512), right(512);
    MemoryStream state;
    ASSERT_EQ(plugin.component->getState(&state), kResultOk);

    allocation_counter::Faults faults;
    for (int b = 0; b < 40; ++b) {
        for (int p = 0; p < 5; ++p) plugin.changes.add(p, (37 * b + 101 * p) % 512, 0.1f * p);
        if (b % 10 == 3) plugin.changes.add(vst3glue::kBypassId, 100, b % 20 == 3 ? 1.0 : 0.0);
        if (b == 20) {
            state.rewind();
            ASSERT_EQ(plugin.component->setState(&state), kResultOk);
        }
        const int frames = b % 7 == 0 ? 0 : 512 - b;
        faults += allocation_counter::faultsDuring(
            [&] { plugin.process(in.data() + 512 * b, left.data(), right.data(), frames); });
    }
    EXPECT_TRUE(faults.none()) << faults;
}

// A view that is created but never attached needs no display, and makes every block measure the
// output and publish a snapshot for the editor.
TEST(Vst3Allocation, ProcessAllocatesNothingWhileAnEditorIsOpen) {
    IPluginFactory* factory = loadFactory(moduleInBundle(ZELKO_VST3_BUNDLE));
    Instance plugin(factory, 48000.0, 512);
    ASSERT_TRUE(plugin);
    IPlugView* view = plugin.controller->createView(kEditorViewName);
    ASSERT_NE(view, nullptr);
    std::vector<float> in = testsignal::noise(512 * 20, 4u), left(512), right(512);
    allocation_counter::Faults faults;
    for (int b = 0; b < 20; ++b) {
        faults += allocation_counter::faultsDuring(
            [&] { plugin.process(in.data() + 512 * b, left.data(), right.data(), 512); });
    }
    EXPECT_TRUE(faults.none()) << faults;
    view->release();
}

}  // namespace
