// libFuzzer harness of the host interface.
//
// Every input is a script of host actions on one plug-in instance, created through
// VSTPluginMain and driven only through its effect record, as a careless or hostile host would
// drive it: any dispatcher opcode with any arguments, parameter writes of NaN and infinities,
// blocks of garbage audio, MIDI lists of random bytes, absurd sample rates, suspend and resume
// in any order. AddressSanitizer and UndefinedBehaviorSanitizer catch memory and arithmetic
// faults; the harness itself checks what a host relies on after every block: each output sample
// is finite and within the output stage's ceiling of -1 dB full scale, nothing is written past
// the block, the host's input buffers are left alone, and the entries that do nothing leave the
// outputs untouched. A host may leave any channel without a buffer: every output that is there
// is still written, with silence when the first input or the other output is missing.
//
// Input format (little endian; a read past the end yields zeros, which ends the script):
//
//   byte 0            the host's answer to audioMasterVersion: 0 means 0 (no plug-in may be
//                     created), anything else 2400
//   then actions      one kind byte (taken modulo 10) and its arguments:
//     0 dispatch      opcode u8 (mapped to -10 ... 100), index i32, value i64, opt FLOAT,
//                     pointer mode u8 (0 null, 1 zeroed scratch, 2 scratch starting with a text
//                     of u8 % 64 bytes that follow)
//     1 setParameter  INDEX, FLOAT
//     2 getParameter  INDEX                         (the answer must be finite, in 0 ... 1)
//     3 block         frames u16 (mod 8193), entry u8, SIGNAL
//     4 events        count u8 (mod 33), then per event: type u8 (below 128: MIDI, else the
//                     type byte - 128), delta u8 (even: the next u16, odd: the next i32), 4 MIDI
//                     bytes
//     5 sample rate   RATE
//     6 block size    i64
//     7 mains         u8 (bit 0: resume, else suspend)
//     8 close         effClose; the script ends
//     9 texts         INDEX: name, label and display into scratch; each must be terminated
//
//   FLOAT   u8 below 16 picks a special value (NaN, infinities, extremes, denormals), else the
//           next four bytes are the float's bits
//   INDEX   u8 below 128 gives -1 ... 6, else the next i32
//   RATE    u8 below 16 picks a special rate (0, negative, huge, NaN, infinite), else FLOAT bits
//   entry   bits 0-1: 0 or 1 processReplacing, 2 the accumulating process, 3 double replacing;
//           bit 2: in place (the outputs are the input buffers); bits 3-7 leave a buffer out:
//           bit 3 the whole input array, 4 input 0, 5 input 1, 6 output 0, 7 output 1
//   SIGNAL  kind u8 (mod 7): 0 silence; 1 a pattern of u8 + 1 raw floats, repeated; 2 a pattern
//           of u8 + 1 special values, repeated; 3 noise with seed u32 and amplitude FLOAT; 4 a
//           sine of u16 Hz and amplitude FLOAT; 5 DC of FLOAT; 6 clicks of FLOAT every u16 + 1
//           samples
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "dsp/output_stage.h"
#include "fuzz_support.h"
#include "host/vst2.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

using namespace fuzzhost;

// The output stage's ceiling, -1 dB full scale, as a float.
constexpr float kOutputCeiling = OutputStage::ceiling;  // -1 dB full scale
constexpr int kMaxBlock = 8192;
// Samples past the block that must stay untouched.
constexpr int kGuard = 16;
constexpr int kBufferLength = kMaxBlock + kGuard;
constexpr std::size_t kScratchSize = 64 * 1024;
constexpr int kMaxEvents = 32;

// Per input, so that one execution stays well under a second with the sanitizers: the chain is
// heavy, and a sample-rate change rebuilds eleven processors.
constexpr long kFrameBudget = 32768;
constexpr int kRateChangeBudget = 6;
constexpr int kActionBudget = 512;

struct Totals {
    unsigned long long actions = 0;
    unsigned long long blocks = 0;
    unsigned long long frames = 0;
    unsigned long long instances = 0;
};
Totals totals;

void reportTotals() {
    std::fprintf(stderr,
                 "zelko-host-fuzzer: %llu host actions on %llu instances, %llu blocks, %llu "
                 "frames\n",
                 totals.actions, totals.instances, totals.blocks, totals.frames);
}

[[noreturn]] void fail(const char* what, long detail = 0) {
    std::fprintf(stderr, "*** zelko-host-fuzzer: %s (%ld)\n", what, detail);
    std::abort();
}

VstInt32 anyIndex(Reader& in) {
    const std::uint8_t pick = in.u8();
    return pick < 128 ? static_cast<VstInt32>(pick % 8) - 1 : in.i32();
}

// One instance and the host's buffers around it.
class FuzzHost {
  public:
    static FuzzHost*& current() {
        static FuzzHost* host = nullptr;
        return host;
    }

    // The plug-in may call back only with its own record, or with none before it exists.
    static VstIntPtr callback(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
        FuzzHost* host = current();
        if (effect != nullptr && (host == nullptr || effect != host->effect)) {
            fail("host callback with a foreign effect record", opcode);
        }
        if (opcode == audioMasterVersion) return host ? host->versionAnswer : 2400;
        return 0;
    }

    void run(const std::uint8_t* data, std::size_t size) {
        Reader in(data, size);
        versionAnswer = in.u8() == 0 ? 0 : 2400;
        effect = VSTPluginMain(&FuzzHost::callback);
        if (versionAnswer == 0) {
            if (effect != nullptr) fail("a plug-in was created for a host of version 0");
            return;
        }
        if (effect == nullptr) fail("VSTPluginMain returned no record");
        if (effect->magic != kEffectMagic) fail("record without the VST magic");
        ++totals.instances;

        bool open = true;
        for (int action = 0; action < kActionBudget && open && !in.done(); ++action) {
            ++totals.actions;
            switch (in.u8() % 10) {
                case 0:
                    dispatchAny(in);
                    break;
                case 1: {
                    const VstInt32 index = anyIndex(in);
                    effect->setParameter(effect, index, in.anyFloat());
                    break;
                }
                case 2: {
                    const VstInt32 index = anyIndex(in);
                    const float value = effect->getParameter(effect, index);
                    if (!(value >= 0.0f && value <= 1.0f)) {
                        fail("getParameter outside 0 ... 1", index);
                    }
                    break;
                }
                case 3:
                    block(in);
                    break;
                case 4:
                    events(in);
                    break;
                case 5: {
                    const float rate = in.anyRate();
                    if (rateChanges++ < kRateChangeBudget) {
                        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, rate);
                    }
                    break;
                }
                case 6:
                    effect->dispatcher(effect, effSetBlockSize, 0, static_cast<VstIntPtr>(in.u64()),
                                       nullptr, 0.0f);
                    break;
                case 7:
                    effect->dispatcher(effect, effMainsChanged, 0, in.u8() & 1, nullptr, 0.0f);
                    break;
                case 8:
                    close();
                    open = false;
                    break;
                default:
                    texts(anyIndex(in));
                    break;
            }
        }
        if (open) close();
    }

  private:
    void close() {
        const VstIntPtr result = effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        if (result != 1) fail("effClose did not answer 1", static_cast<long>(result));
        effect = nullptr;
    }

    void dispatchAny(Reader& in) {
        const VstInt32 opcode = static_cast<VstInt32>(in.u8() % 111) - 10;
        const VstInt32 index = in.i32();
        VstIntPtr value = static_cast<VstIntPtr>(in.u64());
        const float opt = in.anyFloat();
        const std::uint8_t pointerMode = in.u8() % 3;

        std::memset(scratch.data(), 0, scratch.size());
        std::memset(valueScratch.data(), 0, valueScratch.size());
        void* ptr = pointerMode == 0 ? nullptr : scratch.data();
        // The event list is a record of pointers: only a zeroed one (no events) is a list a host
        // can pass; real lists come from the events action.
        if (pointerMode == 2 && opcode != effProcessEvents) {
            const int length = in.u8() % 64;
            for (int i = 0; i < length; ++i) scratch[static_cast<std::size_t>(i)] = in.u8();
        }
        // The two opcodes that take a pointer in `value` get one, or null.
        if (opcode == effSetSpeakerArrangement || opcode == effGetSpeakerArrangement) {
            value = (value & 1) ? reinterpret_cast<VstIntPtr>(valueScratch.data()) : 0;
        }
        if (opcode == effSetSampleRate && rateChanges++ >= kRateChangeBudget) return;
        if (opcode == effClose) return;  // closing is an action of its own, which ends the script

        effect->dispatcher(effect, opcode, index, value, ptr, opt);

        // Whatever the plug-in wrote into the host's buffer must end within it.
        if (std::memchr(scratch.data(), 0, scratch.size()) == nullptr) {
            fail("scratch buffer left without a terminator", opcode);
        }
    }

    void texts(VstInt32 index) {
        for (VstInt32 opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
            std::memset(scratch.data(), 0x7f, 256);
            effect->dispatcher(effect, opcode, index, 0, scratch.data(), 0.0f);
            if (std::memchr(scratch.data(), 0, 256) == nullptr) {
                fail("parameter text without a terminator", opcode);
            }
        }
    }

    void events(Reader& in) {
        const int count = in.u8() % (kMaxEvents + 1);
        for (int e = 0; e < count; ++e) {
            VstMidiEvent& event = midiEvents[static_cast<std::size_t>(e)];
            event = VstMidiEvent{};
            const std::uint8_t type = in.u8();
            event.type = type < 128 ? kVstMidiType : type - 128;
            event.byteSize = sizeof(VstMidiEvent);
            const std::uint8_t delta = in.u8();
            event.deltaFrames = (delta & 1) ? in.i32() : in.u16();
            for (char& byte : event.midiData) byte = static_cast<char>(in.u8());
            eventList.events[e] = reinterpret_cast<VstEvent*>(&event);
        }
        eventList.numEvents = count;
        const VstIntPtr result =
            effect->dispatcher(effect, effProcessEvents, 0, 0, &eventList, 0.0f);
        if (result != 1) fail("effProcessEvents did not answer 1", static_cast<long>(result));
    }

    void block(Reader& in) {
        int frames = in.u16() % (kMaxBlock + 1);
        const std::uint8_t entry = in.u8();
        const bool inPlace = (entry & 4) != 0;
        const int kind = entry & 3;

        frames = static_cast<int>(std::min<long>(frames, kFrameBudget - framesUsed));
        framesUsed += frames;
        ++totals.blocks;
        totals.frames += static_cast<unsigned long long>(frames);

        const float sentinel = fromBits(kSentinelBits);
        std::fill(output[0].begin(), output[0].end(), sentinel);
        std::fill(output[1].begin(), output[1].end(), sentinel);

        if (kind == 3) {
            // The double-precision entry does nothing in this plug-in.
            double* inputs[2] = {doubleInput[0].data(), doubleInput[1].data()};
            double* outputs[2] = {doubleOutput[0].data(), doubleOutput[1].data()};
            if (entry & 0x10) inputs[0] = nullptr;
            if (entry & 0x20) inputs[1] = nullptr;
            if (entry & 0x40) outputs[0] = nullptr;
            if (entry & 0x80) outputs[1] = nullptr;
            for (auto& channel : doubleOutput) std::fill(channel.begin(), channel.end(), 0.25);
            effect->processDoubleReplacing(effect, (entry & 0x08) ? nullptr : inputs, outputs,
                                           frames);
            for (const auto& channel : doubleOutput) {
                for (double sample : channel) {
                    if (sample != 0.25) fail("processDoubleReplacing wrote its outputs");
                }
            }
            return;
        }

        float* inputChannels[2];
        float* outputChannels[2] = {output[0].data(), output[1].data()};
        if (inPlace) {
            fillSignal(in, output[0].data(), frames);
            fillSignal(in, output[1].data(), frames);
            inputChannels[0] = output[0].data();
            inputChannels[1] = output[1].data();
        } else {
            fillSignal(in, input[0].data(), frames);
            fillSignal(in, input[1].data(), frames);
            std::copy(input[0].begin(), input[0].end(), inputCopy[0].begin());
            std::copy(input[1].begin(), input[1].end(), inputCopy[1].begin());
            inputChannels[0] = input[0].data();
            inputChannels[1] = input[1].data();
        }
        if (entry & 0x10) inputChannels[0] = nullptr;
        if (entry & 0x20) inputChannels[1] = nullptr;
        if (entry & 0x40) outputChannels[0] = nullptr;
        if (entry & 0x80) outputChannels[1] = nullptr;
        float** inputs = (entry & 0x08) ? nullptr : inputChannels;
        float** outputs = outputChannels;

        if (kind == 2) {
            // The deprecated accumulating entry does nothing in this plug-in.
            std::vector<float> before[2] = {output[0], output[1]};
            effect->process(effect, inputs, outputs, frames);
            for (int ch = 0; ch < 2; ++ch) {
                if (std::memcmp(before[ch].data(), output[ch].data(),
                                before[ch].size() * sizeof(float)) != 0) {
                    fail("the accumulating process entry wrote its outputs", ch);
                }
            }
            return;
        }

        effect->processReplacing(effect, inputs, outputs, frames);

        const bool runs = inputs && inputs[0] && outputs[0] && outputs[1];
        for (int ch = 0; ch < 2; ++ch) {
            const float* out = output[ch].data();
            if (outputs[ch]) {
                for (int i = 0; i < frames; ++i) {
                    if (isSentinel(out[i])) fail("output sample left unwritten", i);
                    if (!std::isfinite(out[i])) fail("non-finite output sample", i);
                    if (std::fabs(out[i]) > kOutputCeiling)
                        fail("output sample above the ceiling", i);
                    if (!runs && out[i] != 0.0f) fail("a block that cannot run is not silent", i);
                }
            }
            for (int i = frames; i < frames + kGuard; ++i) {
                if (!isSentinel(out[i])) fail("output written past the block", i);
            }
            if (!inPlace && std::memcmp(input[ch].data(), inputCopy[ch].data(),
                                        input[ch].size() * sizeof(float)) != 0) {
                fail("the host's input buffer was written", ch);
            }
        }
    }

    AEffect* effect = nullptr;
    VstIntPtr versionAnswer = 2400;
    long framesUsed = 0;
    int rateChanges = 0;

    std::vector<std::uint8_t> scratch = std::vector<std::uint8_t>(kScratchSize);
    std::vector<std::uint8_t> valueScratch = std::vector<std::uint8_t>(kScratchSize);
    std::vector<float> input[2] = {std::vector<float>(kBufferLength),
                                   std::vector<float>(kBufferLength)};
    std::vector<float> inputCopy[2] = {std::vector<float>(kBufferLength),
                                       std::vector<float>(kBufferLength)};
    std::vector<float> output[2] = {std::vector<float>(kBufferLength),
                                    std::vector<float>(kBufferLength)};
    std::vector<double> doubleInput[2] = {std::vector<double>(kBufferLength),
                                          std::vector<double>(kBufferLength)};
    std::vector<double> doubleOutput[2] = {std::vector<double>(kBufferLength),
                                           std::vector<double>(kBufferLength)};
    VstMidiEvent midiEvents[kMaxEvents];
    // VstEvents with room for every entry: the record declares two and is read past them.
    struct EventList {
        VstInt32 numEvents;
        VstIntPtr reserved;
        VstEvent* events[kMaxEvents];
    } eventList{};
    static_assert(offsetof(EventList, events) == offsetof(VstEvents, events));
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(reportTotals);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzHost host;
    FuzzHost::current() = &host;
    host.run(data, size);
    FuzzHost::current() = nullptr;
    return 0;
}
