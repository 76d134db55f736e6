// Nothing reachable from process allocates or makes a system call: not a block with parameter
// events at many offsets, not the bypass fade, not the meters sent back, not a loaded state taken
// over, not a flush or a reset.
#include <gtest/gtest.h>

#include <vector>

#include "clap/parameters.h"
#include "support/allocation_counter.h"
#include "support/clap_host.h"
#include "support/noise.h"

namespace {

using namespace claphost;

TEST(ClapAllocation, ProcessAllocatesNothing) {
    ASSERT_TRUE(allocation_counter::hooksInstalled);
    Instance plugin(loadFactory(ZELKO_CLAP_MODULE), 48000.0, 512);
    ASSERT_TRUE(plugin);
    std::vector<float> in = testsignal::noise(512 * 40, 9u), left(512), right(512);
    const std::vector<unsigned char> state = plugin.save();

    allocation_counter::Faults faults;
    for (int b = 0; b < 40; ++b) {
        for (std::uint32_t p = 0; p < 5; ++p)
            plugin.changes.add(p, (37u * b + 101u * p) % 512u, plainFor(p, 0.1f * p));
        if (b % 10 == 3) plugin.changes.add(clapglue::kBypassId, 100, b % 20 == 3 ? 1.0 : 0.0);
        if (b == 20) {
            ASSERT_TRUE(plugin.load(state));
        }
        const std::uint32_t frames = b % 7 == 0 ? 0 : 512 - b;
        faults += allocation_counter::faultsDuring([&] {
            plugin.process(in.data() + 512 * b, left.data(), right.data(), frames);
            if (b % 9 == 4) plugin.flush();
            if (b == 30) plugin.plugin->reset(plugin.plugin);
        });
    }
    EXPECT_TRUE(faults.none()) << faults;
}

}  // namespace
