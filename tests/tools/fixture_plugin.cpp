// A small VST 2.4 effect whose behaviour the renderer's tests know exactly: it delays its first
// input by kLatency samples, reports that delay as its initial delay, scales by a gain in
// decibels, may invert, and routes the result to the left, the right or both outputs. It writes
// the host's calls to the file named by FIXTURE_LOG, one line each, so that a test can check the
// order in which a host drives it.
//
// FIXTURE_VARIANT builds the broken modules a host must refuse: 1 hands back a record with the
// wrong magic, 2 refuses to create an effect, 3 exports no entry at all.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/vst2.h"

#ifndef FIXTURE_VARIANT
#define FIXTURE_VARIANT 0
#endif

namespace {

constexpr int kLatency = 37;
constexpr int kParameterCount = 5;
enum Parameter { kGain, kInvert, kRoute, kCutoff, kTrim };

void logLine(const char* format, long value = 0) {
    const char* path = std::getenv("FIXTURE_LOG");
    if (!path) return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, format, value);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

struct Fixture {
    AEffect effect{};
    audioMasterCallback host = nullptr;
    float values[kParameterCount] = {0.5f, 0.0f, 0.0f, 0.5f, 0.8f};
    float ring[kLatency] = {};
    int ringPosition = 0;
    bool resumed = false;
    int lastFrames = -1;
    bool reportedLoudSecondInput = false;

    // Gain: -24 to +24 dB, linear in dB.
    float gainDb() const { return -24.0f + 48.0f * values[kGain]; }
    // Cutoff: 20 Hz to 20 kHz on a logarithmic scale. It shapes nothing; it is here so that
    // values in units are found on a display that is not linear in the normalised value.
    float cutoffHz() const { return 20.0f * std::pow(1000.0f, values[kCutoff]); }
    // Trim: -12 to +3 dB, added to the gain, shown as a whole number truncated toward zero the
    // way a C cast does, so that -5.6 shows "-5"; 0.8 is 0 dB exactly.
    float trimDb() const { return -12.0f + 15.0f * values[kTrim]; }
    int route() const {
        return values[kRoute] < 1.0f / 3.0f ? 0 : values[kRoute] < 2.0f / 3.0f ? 1 : 2;
    }
};

Fixture* self(AEffect* effect) {
    return static_cast<Fixture*>(effect->object);
}

void copyText(void* destination, const char* text) {
    std::snprintf(static_cast<char*>(destination), 64, "%s", text);
}

VstIntPtr dispatcher(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                     float opt) {
    Fixture* fixture = self(effect);
    const bool validIndex = index >= 0 && index < kParameterCount;
    switch (opcode) {
        case effOpen:
            logLine("open");
            return 0;
        case effClose:
            logLine("close");
            delete fixture;
            return 1;
        case effSetSampleRate:
            logLine("rate %ld", std::lround(opt));
            return 0;
        case effSetBlockSize:
            logLine("block %ld", static_cast<long>(value));
            return 0;
        case effMainsChanged:
            if (value) {
                std::memset(fixture->ring, 0, sizeof fixture->ring);
                fixture->ringPosition = 0;
                logLine("resume, host answers want-midi with %ld",
                        fixture->host(effect, audioMasterWantMidi, 0, 1, nullptr, 0.0f));
            } else {
                logLine("suspend");
            }
            fixture->resumed = value != 0;
            return 0;
        case effGetParamName: {
            static const char* const kNames[] = {"Gain", "Invert", "Route", "Cutoff", "Trim"};
            copyText(ptr, validIndex ? kNames[index] : "");
            return 0;
        }
        case effGetParamLabel: {
            static const char* const kLabels[] = {"dB", "", "", "Hz", "dB"};
            copyText(ptr, validIndex ? kLabels[index] : "");
            return 0;
        }
        case effGetParamDisplay: {
            char text[32] = "";
            if (index == kGain) std::snprintf(text, sizeof text, "%.1f", fixture->gainDb());
            if (index == kInvert)
                std::snprintf(text, sizeof text, "%s",
                              fixture->values[kInvert] > 0.5f ? "On" : "Off");
            if (index == kRoute) {
                static const char* const kRoutes[] = {"Both", "Left", "Right"};
                std::snprintf(text, sizeof text, "%s", kRoutes[fixture->route()]);
            }
            if (index == kCutoff) std::snprintf(text, sizeof text, "%.0f", fixture->cutoffHz());
            if (index == kTrim)
                std::snprintf(text, sizeof text, "%d", static_cast<int>(fixture->trimDb()));
            copyText(ptr, text);
            return 0;
        }
        case effGetEffectName:
            copyText(ptr, "Render Fixture");
            return 1;
        case effGetVendorString:
            copyText(ptr, "Zelko Tests");
            return 1;
        default:
            return 0;
    }
}

void setParameter(AEffect* effect, VstInt32 index, float value) {
    if (index < 0 || index >= kParameterCount) return;
    self(effect)->values[index] = value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
}

float getParameter(AEffect* effect, VstInt32 index) {
    if (index < 0 || index >= kParameterCount) return 0.0f;
    return self(effect)->values[index];
}

void processReplacing(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    Fixture* fixture = self(effect);
    if (!fixture->resumed) logLine("process while suspended");
    if (frames != fixture->lastFrames) {
        logLine("process %ld", frames);
        fixture->lastFrames = frames;
    }
    const float gain = std::pow(10.0f, (fixture->gainDb() + fixture->trimDb()) / 20.0f) *
                       (fixture->values[kInvert] > 0.5f ? -1.0f : 1.0f);
    const int route = fixture->route();
    for (VstInt32 i = 0; i < frames; ++i) {
        if (inputs[1][i] != inputs[0][i] && !fixture->reportedLoudSecondInput) {
            logLine("second input differs from the first");
            fixture->reportedLoudSecondInput = true;
        }
        const float delayed = fixture->ring[fixture->ringPosition];
        fixture->ring[fixture->ringPosition] = inputs[0][i];
        fixture->ringPosition = (fixture->ringPosition + 1) % kLatency;
        const float out = delayed * gain;
        outputs[0][i] = route == 2 ? 0.0f : out;
        outputs[1][i] = route == 1 ? 0.0f : out;
    }
}

AEffect* create(audioMasterCallback host) {
    const VstIntPtr version = host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f);
    logLine("version %ld", static_cast<long>(version));
    if (FIXTURE_VARIANT == 2 || version == 0) return nullptr;
    // A host never closes a record it refuses, so the refused one is not allocated.
    static Fixture refused;
    auto* fixture = FIXTURE_VARIANT == 1 ? &refused : new Fixture;
    fixture->host = host;
    AEffect& effect = fixture->effect;
    effect.magic = FIXTURE_VARIANT == 1 ? 0x12345678 : kEffectMagic;
    effect.dispatcher = dispatcher;
    effect.setParameter = setParameter;
    effect.getParameter = getParameter;
    effect.processReplacing = processReplacing;
    effect.numPrograms = 1;
    effect.numParams = kParameterCount;
    effect.numInputs = 2;
    effect.numOutputs = 2;
    effect.flags = effFlagsCanReplacing;
    effect.initialDelay = kLatency;
    effect.ioRatio = 1.0f;
    effect.object = fixture;
    effect.uniqueID = 0x5a52464e;
    effect.version = 1;
    return &effect;
}

}  // namespace

#if FIXTURE_VARIANT == 3
extern "C" __attribute__((visibility("default"))) AEffect* notTheEntry(audioMasterCallback host) {
    return create(host);
}
#else
extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host) {
    return create(host);
}
#endif
