// A programme of three seconds rendered through a loaded plug-in by its effect record alone, the
// same on every platform: the Windows test host renders it through zelko.dll under wine and the
// native tests through zelko.so (and through a build of it with other compiler flags), and the
// outputs must agree sample for sample.
//
// The input is made with integer arithmetic and single float operations only (no C library
// function, whose last bits differ between platforms): noise from a linear congruential
// generator, a tone from a rotating phasor, clicks, silence. Half a second in, then at 1.5 s, the
// controls change between two blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "host/vst2.h"

namespace programme {

constexpr float kSampleRate = 48000.0f;
constexpr int kBlock = 480;
constexpr int kFrames = 3 * 48000;
constexpr int kSegment = kFrames / 6;

struct Noise {
    std::uint32_t state;
    float next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<std::int32_t>(state)) * 0x1p-31f;
    }
};

// Segments of half a second: noise, tone, clicks, silence, noise and tone, a tone decaying.
inline void makeInputs(std::vector<float>& first, std::vector<float>& second) {
    first.assign(kFrames, 0.0f);
    second.assign(kFrames, 0.0f);
    Noise noise{12345u}, other{987654u};
    // cos and sin of 2 pi 441 / 48000, as decimal literals.
    const float c = 0.99666739f, s = 0.081571093f;
    float re = 1.0f, im = 0.0f, decay = 0.5f;
    for (int n = 0; n < kFrames; ++n) {
        const float tone = im;
        const float nextRe = re * c - im * s;
        im = im * c + re * s;
        re = nextRe;
        switch (n / kSegment) {
            case 0:
                first[n] = 0.3f * noise.next();
                break;
            case 1:
                first[n] = 0.5f * tone;
                break;
            case 2:
                first[n] = n % 4800 == 0 ? 0.9f : 0.0f;
                break;
            case 3:
                break;
            case 4:
                first[n] = 0.2f * noise.next() + 0.25f * tone;
                break;
            default:
                decay *= 0.99995f;
                first[n] = decay * tone;
                break;
        }
        second[n] = 0.05f * other.next();
    }
}

// Renders the programme into interleaved left and right outputs; the effect is open.
inline std::vector<float> render(AEffect* effect) {
    auto dispatch = [effect](VstInt32 opcode, VstIntPtr value, float opt) {
        return effect->dispatcher(effect, opcode, 0, value, nullptr, opt);
    };
    dispatch(effSetSampleRate, 0, kSampleRate);
    dispatch(effSetBlockSize, kBlock, 0.0f);
    dispatch(effMainsChanged, 1, 0.0f);
    std::vector<float> first, second;
    makeInputs(first, second);
    std::vector<float> left(kBlock), right(kBlock), out;
    out.reserve(2 * kFrames);
    for (int start = 0; start < kFrames; start += kBlock) {
        if (start == kSegment) effect->setParameter(effect, 4, 0.8f);
        if (start == 3 * kSegment) {
            for (VstInt32 p = 0; p < effect->numParams; ++p)
                effect->setParameter(effect, p, p % 2 == 0 ? 0.7f : 0.2f);
        }
        float* inputs[2] = {first.data() + start, second.data() + start};
        float* outputs[2] = {left.data(), right.data()};
        effect->processReplacing(effect, inputs, outputs, kBlock);
        for (int i = 0; i < kBlock; ++i) {
            out.push_back(left[i]);
            out.push_back(right[i]);
        }
    }
    dispatch(effMainsChanged, 0, 0.0f);
    return out;
}

}  // namespace programme
