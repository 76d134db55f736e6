// The reference that every format's sample-accurate parameter changes are held to: the VST 2.4
// module over an input, its blocks cut at every change, each change set between two calls, as a
// VST 2.4 host sets a parameter.
#pragma once

#include <algorithm>
#include <vector>

#include "tests/support/plugin_host.h"

namespace cutrender {

// A parameter change: normalised `value` for control `index` from sample `at` on.
struct Change {
    int at;
    int index;
    float value;
};

// Interleaved left and right of the VST 2.4 module over `input`, in blocks of at most `maxBlock`.
inline std::vector<float> vst2(const std::vector<float>& input, std::vector<Change> changes,
                               double rate, int maxBlock) {
    testhost::Plugin plugin;
    plugin.dispatch(effOpen);
    plugin.dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    plugin.dispatch(effSetBlockSize, 0, maxBlock);
    plugin.dispatch(effMainsChanged, 0, 1);
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.at < b.at; });
    const int frames = static_cast<int>(input.size());
    std::vector<float> left(frames), right(frames), out;
    std::size_t next = 0;
    for (int position = 0; position < frames;) {
        while (next < changes.size() && changes[next].at <= position) {
            plugin.setParameter(changes[next].index, changes[next].value);
            ++next;
        }
        int end = std::min(frames, position + maxBlock);
        if (next < changes.size()) end = std::min(end, changes[next].at);
        plugin.processReplacing(input.data() + position, left.data() + position,
                                right.data() + position, end - position);
        position = end;
    }
    for (int i = 0; i < frames; ++i) {
        out.push_back(left[i]);
        out.push_back(right[i]);
    }
    return out;
}

}  // namespace cutrender
