// Instrument mode: a Zelko built around a processor without inputs, driven through its MIDI
// intake and its replacing process, as a host drives it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "test_processors.h"

namespace {

using testproc::SynthLog;
using testproc::TestSynth;

constexpr float kMixGain = 0.31622776f;

struct Event {
    int status;
    int data1;
    int data2;
    int frame;
    int type = kVstMidiType;
};

// A host-side event list of any length.
class EventList {
  public:
    explicit EventList(const std::vector<Event>& events) : midi(events.size()) {
        storage.resize(sizeof(VstEvents) + events.size() * sizeof(VstEvent*));
        list = reinterpret_cast<VstEvents*>(storage.data());
        list->numEvents = static_cast<VstInt32>(events.size());
        list->reserved = 0;
        for (std::size_t i = 0; i < events.size(); ++i) {
            VstMidiEvent& m = midi[i];
            m = VstMidiEvent{};
            m.type = events[i].type;
            m.byteSize = sizeof(VstMidiEvent);
            m.deltaFrames = events[i].frame;
            m.midiData[0] = static_cast<char>(events[i].status);
            m.midiData[1] = static_cast<char>(events[i].data1);
            m.midiData[2] = static_cast<char>(events[i].data2);
            list->events[i] = reinterpret_cast<VstEvent*>(&m);
        }
    }
    VstEvents* get() { return list; }

  private:
    std::vector<VstMidiEvent> midi;
    std::vector<unsigned char> storage;
    VstEvents* list;
};

Event noteOn(int note, int velocity, int frame) {
    return {0x90, note, velocity, frame};
}
Event noteOff(int note, int frame) {
    return {0x80, note, 64, frame};
}

class InstrumentMode : public ::testing::Test {
  protected:
    InstrumentMode() : zelko(testproc::build(new TestSynth(&log))) {}

    TestSynth& synth(int voice) { return static_cast<TestSynth&>(*zelko->voice(voice).processor); }
    int voiceNumber(int voice) { return synth(voice).number; }

    void send(const std::vector<Event>& events) {
        EventList list(events);
        EXPECT_EQ(zelko->processEvents(list.get()), 1);
    }

    // Runs one block into fresh outputs that start out as garbage, and keeps them.
    void block(int frames) {
        left.assign(frames, 7.0f);
        right.assign(frames, 7.0f);
        float* outputs[2] = {left.data(), right.data()};
        zelko->processReplacing(nullptr, outputs, frames);
    }

    std::vector<float> render(int total, int blockSize, const std::vector<Event>& events) {
        std::vector<float> out;
        for (int start = 0; start < total; start += blockSize) {
            std::vector<Event> due;
            for (Event e : events) {
                if (e.frame >= start && e.frame < start + blockSize) {
                    e.frame -= start;
                    due.push_back(e);
                }
            }
            if (!due.empty()) send(due);
            block(blockSize);
            out.insert(out.end(), left.begin(), left.end());
        }
        return out;
    }

    SynthLog log;
    testproc::ZelkoPtr zelko;
    std::vector<float> left, right;
};

TEST_F(InstrumentMode, AnnouncesASynthesizerWithoutInputs) {
    AEffect* effect = zelko->getAeffect();
    EXPECT_TRUE(zelko->isInstrument());
    EXPECT_EQ(effect->numInputs, 0);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags, effFlagsCanReplacing | effFlagsIsSynth);
    EXPECT_EQ(effect->dispatcher(effect, effGetPlugCategory, 0, 0, nullptr, 0), kPlugCategSynth);
    // The main processor, one temporary for the "id" lookup and ten voices, each voice
    // initialised at 44100 Hz.
    EXPECT_EQ(log.constructed, 12);
    for (int v = 0; v < Zelko::kVoiceCount; ++v) {
        EXPECT_EQ(synth(v).rate, 44100);
        EXPECT_EQ(zelko->voice(v).gateIndex, 2);
    }
    EXPECT_EQ(zelko->available(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(InstrumentMode, SilenceWithoutVoices) {
    block(64);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(left[i], 0.0f);
        ASSERT_EQ(right[i], 0.0f);
    }
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(InstrumentMode, NoteOnSoundsFromItsFrame) {
    send({noteOn(69, 127, 10)});
    block(64);
    ASSERT_EQ(zelko->playing().size(), 1u);
    EXPECT_EQ(zelko->playing()[0].note, 69);
    EXPECT_EQ(zelko->playing()[0].voice, 0);
    // The voice renders frames 0-9 already playing but still closed, then the rest open.
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0].frames, 10);
    EXPECT_EQ(log.calls[0].gate, 0.0f);
    EXPECT_EQ(log.calls[1].frames, 54);
    EXPECT_EQ(log.calls[1].gate, 1.0f);
    EXPECT_EQ(log.calls[1].freq, 440.0f);
    // Velocity 127 is gain 1; the square wave starts high; the mix is 10 dB down.
    for (int i = 0; i < 10; ++i) EXPECT_EQ(left[i], 0.0f) << i;
    EXPECT_EQ(left[10], kMixGain);
    EXPECT_EQ(right[10], 0.5f * kMixGain);
    for (int i = 10; i < 64; ++i) EXPECT_EQ(std::fabs(left[i]), kMixGain) << i;
    EXPECT_EQ(synth(0).gain, 1.0f);
}

// A synthesizer reads no input, so it plays with none; without a second output buffer it cannot
// play, and the output it has is silenced while the note waits for a block that can run.
TEST_F(InstrumentMode, MissingOutputSilencesTheOtherAndHoldsTheEvents) {
    send({noteOn(69, 127, 0)});
    left.assign(64, 7.0f);
    float* outputs[2] = {left.data(), nullptr};
    zelko->processReplacing(nullptr, outputs, 64);
    EXPECT_EQ(left, std::vector<float>(64, 0.0f));
    EXPECT_TRUE(log.calls.empty());

    block(64);
    EXPECT_EQ(zelko->playing().size(), 1u);
    EXPECT_EQ(left[0], kMixGain);
}

TEST_F(InstrumentMode, EventsBeyondTheBlockWaitForTheirBlock) {
    send({noteOn(60, 100, 200)});
    for (int b = 0; b < 3; ++b) {
        block(64);
        EXPECT_EQ(zelko->pendingEventCount(), 1u);
        EXPECT_TRUE(zelko->playing().empty());
        for (float s : left) ASSERT_EQ(s, 0.0f);
    }
    block(64);  // frames 192..255: the event lands on frame 8
    EXPECT_EQ(zelko->pendingEventCount(), 0u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(left[i], 0.0f) << i;
    for (int i = 8; i < 64; ++i) EXPECT_NE(left[i], 0.0f) << i;
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0].frames, 8);
    EXPECT_EQ(log.calls[1].frames, 56);
}

// Notes that are only started split the block at their frames and nowhere else, so the output
// must not depend on how the host cuts the stream into blocks. (Releases are left out: the
// moment a released voice is found silent depends on the segments, and with it which voice
// the next note takes.)
TEST_F(InstrumentMode, BlockSizeDoesNotChangeTheOutput) {
    const std::vector<Event> events = {noteOn(60, 100, 10),   noteOn(64, 90, 100),
                                       noteOn(67, 80, 301),   noteOn(0, 0, 777),
                                       noteOn(72, 127, 1023), noteOn(48, 60, 1024)};
    const std::vector<float> small = render(1536, 64, events);
    SynthLog otherLog;
    zelko = testproc::build(new TestSynth(&otherLog));
    const std::vector<float> large = render(1536, 512, events);
    ASSERT_EQ(small.size(), large.size());
    for (std::size_t i = 0; i < small.size(); ++i) ASSERT_EQ(small[i], large[i]) << i;
    EXPECT_NE(small[1535], 0.0f);
}

TEST_F(InstrumentMode, AnEventSentEarlyPlaysAtTheSameFrameAsOneSentInItsBlock) {
    const std::vector<Event> events = {noteOn(60, 100, 10), noteOff(60, 300)};
    const std::vector<float> inBlocks = render(512, 64, events);
    SynthLog otherLog;
    zelko = testproc::build(new TestSynth(&otherLog));
    send(events);  // both in the first block's list, with frames far beyond it
    std::vector<float> early;
    for (int b = 0; b < 8; ++b) {
        block(64);
        early.insert(early.end(), left.begin(), left.end());
    }
    EXPECT_EQ(inBlocks, early);
}

TEST_F(InstrumentMode, ScratchBuffersGrowAndNeverShrink) {
    EXPECT_EQ(zelko->scratchFrames(), 1024);
    send({noteOn(60, 100, 0)});
    block(2048);
    EXPECT_EQ(zelko->scratchFrames(), 2048);
    EXPECT_EQ(zelko->scratchBufferSize(0), 2048u);
    EXPECT_EQ(zelko->scratchBufferSize(1), 2048u);
    for (int i = 0; i < 2048; ++i) ASSERT_NE(left[i], 0.0f) << i;
    block(512);
    EXPECT_EQ(zelko->scratchFrames(), 2048);
    EXPECT_EQ(zelko->scratchBufferSize(0), 2048u);
}

TEST_F(InstrumentMode, ANoteOffAtTheCurrentFrameFreesItsVoiceAtOnce) {
    send({noteOn(60, 100, 10), noteOff(60, 10)});
    block(64);
    // The zero-length segment at frame 10 counts as silent: the voice is free again before
    // a single open-gate sample was rendered.
    EXPECT_TRUE(zelko->playing().empty());
    EXPECT_TRUE(zelko->released().empty());
    EXPECT_EQ(zelko->available().back(), 0);
    EXPECT_EQ(zelko->available().size(), 10u);
    EXPECT_EQ(synth(0).prevfreq, noteFrequency(60));
    EXPECT_EQ(synth(0).gate, 0.0f);
    for (float s : left) EXPECT_EQ(s, 0.0f);
}

TEST_F(InstrumentMode, ReleasedVoicesDecayAndReturnToTheFreeList) {
    send({noteOn(60, 100, 0)});
    block(64);
    send({noteOff(60, 5)});
    block(64);
    EXPECT_EQ(zelko->released(), std::vector<int>{0});
    EXPECT_EQ(synth(0).gate, 0.0f);
    // Still sounding: the release of the segment after frame 5 is not yet silent.
    EXPECT_NE(left[5], 0.0f);
    EXPECT_EQ(zelko->playing().size(), 1u);
    block(64);  // the tail has fallen below the threshold: a silent segment frees the voice
    EXPECT_TRUE(zelko->playing().empty());
    EXPECT_TRUE(zelko->released().empty());
    EXPECT_EQ(zelko->available().back(), 0);
    EXPECT_EQ(synth(0).prevfreq, noteFrequency(60));
}

TEST_F(InstrumentMode, VelocityZeroIsANoteOffAndTheChannelIsIgnored) {
    send({{0x9F, 62, 90, 0}});  // note on, channel 16
    block(32);
    ASSERT_EQ(zelko->playing().size(), 1u);
    EXPECT_EQ(synth(0).freq, noteFrequency(62));
    send({{0x93, 62, 0, 4}});  // note on with velocity 0, channel 4
    block(32);
    EXPECT_EQ(zelko->released(), std::vector<int>{0});
    EXPECT_EQ(synth(0).gate, 0.0f);
    send({{0x8A, 99, 0, 0}});  // a note off of a note nobody plays changes nothing
    block(32);
    EXPECT_EQ(zelko->released().size() + zelko->available().size(), 10u);
}

TEST_F(InstrumentMode, OtherEventTypesAndStatusesAreIgnored) {
    send({{0xF0, 1, 2, 0, kVstSysExType}, {0x90, 60, 100, 0, kVstSysExType}});
    send({{0xA0, 60, 100, 0}, {0xC0, 5, 0, 0}, {0xD0, 5, 0, 0}});
    EXPECT_EQ(zelko->pendingEventCount(), 0u);
    block(16);
    EXPECT_TRUE(zelko->playing().empty());
}

TEST_F(InstrumentMode, MalformedEventListsAreIgnored) {
    EXPECT_EQ(zelko->processEvents(nullptr), 1);
    VstEvents negative{};
    negative.numEvents = -3;
    EXPECT_EQ(zelko->processEvents(&negative), 1);
    VstEvents holes{};
    holes.numEvents = 2;  // both pointers null
    EXPECT_EQ(zelko->processEvents(&holes), 1);
    EXPECT_EQ(zelko->pendingEventCount(), 0u);
}

TEST_F(InstrumentMode, PitchBendReachesEveryVoiceAtOnce) {
    const struct {
        int low, high;
        float value;
    } cases[] = {{0, 64, 0.0f}, {0, 0, -1.0f}, {127, 127, 8191.0f / 8192.0f}, {0, 96, 0.5f}};
    for (const auto& c : cases) {
        send({{0xE5, c.low, c.high, 40}});
        for (int v = 0; v < Zelko::kVoiceCount; ++v) EXPECT_EQ(synth(v).pitchbend, c.value);
    }
}

TEST_F(InstrumentMode, AllNotesOffReleasesEveryVoiceOtherControllersDoNot) {
    send({noteOn(60, 100, 0), noteOn(64, 100, 0), noteOn(67, 100, 0)});
    block(16);
    ASSERT_EQ(zelko->playing().size(), 3u);

    for (int controller : {120, 7}) {
        testing::internal::CaptureStderr();
        send({{0xB0, controller, 0, 0}});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // nothing on the audio thread
        EXPECT_TRUE(zelko->released().empty());
        EXPECT_EQ(synth(1).gate, 1.0f);
    }
    for (int controller : {123, 126}) {
        testing::internal::CaptureStderr();
        send({{0xB3, controller, 0, 0}});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(zelko->released(), (std::vector<int>{0, 1, 2}));
        for (int v = 0; v < Zelko::kVoiceCount; ++v) EXPECT_EQ(synth(v).gate, 0.0f);
    }
}

TEST_F(InstrumentMode, NotesQueuedAfterAllNotesOffStillStart) {
    send({noteOn(60, 100, 0)});
    block(16);
    send({{0xB0, 123, 0, 0}, noteOn(62, 100, 4)});
    block(16);
    ASSERT_EQ(zelko->playing().size(), 2u);
    EXPECT_EQ(zelko->playing()[1].note, 62);
    EXPECT_EQ(synth(1).gate, 1.0f);
}

TEST_F(InstrumentMode, TheEleventhNoteStealsTheOldestVoice) {
    std::vector<Event> notes;
    for (int i = 0; i < 11; ++i) notes.push_back(noteOn(50 + i, 100, i));
    send(notes);
    block(32);
    ASSERT_EQ(zelko->playing().size(), 10u);
    // Voice 0 played note 50 and now plays note 60, moved to the end of the list.
    EXPECT_EQ(zelko->playing().front().note, 51);
    EXPECT_EQ(zelko->playing().back().note, 60);
    EXPECT_EQ(zelko->playing().back().voice, 0);
    EXPECT_EQ(synth(0).prevfreq, noteFrequency(50));
    EXPECT_EQ(synth(0).freq, noteFrequency(60));
    EXPECT_TRUE(zelko->available().empty());
}

TEST_F(InstrumentMode, NoteOffClosesTheGateOfEveryVoiceItReleases) {
    send({noteOn(60, 100, 0), noteOn(60, 100, 1), noteOn(64, 100, 2)});
    block(16);
    ASSERT_EQ(zelko->playing().size(), 3u);
    send({noteOff(60, 3)});
    block(16);
    EXPECT_EQ(zelko->released(), (std::vector<int>{0, 1}));
    EXPECT_EQ(synth(0).gate, 0.0f);
    EXPECT_EQ(synth(1).gate, 0.0f);
    EXPECT_EQ(synth(2).gate, 1.0f);
}

TEST_F(InstrumentMode, NegativeAndOutOfOrderFramesRenderEverySampleOnce) {
    // Guard zones around the host buffers catch any write outside the block.
    constexpr int kFrames = 64, kGuard = 16;
    std::vector<float> bufferLeft(kFrames + 2 * kGuard, 9.0f), bufferRight = bufferLeft;
    float* outputs[2] = {bufferLeft.data() + kGuard, bufferRight.data() + kGuard};

    send({noteOn(60, 100, -5), noteOn(62, 100, 30), noteOn(64, 100, 20), noteOff(60, 10)});
    zelko->processReplacing(nullptr, outputs, kFrames);

    for (int i = 0; i < kGuard; ++i) {
        EXPECT_EQ(bufferLeft[i], 9.0f);
        EXPECT_EQ(bufferLeft[kGuard + kFrames + i], 9.0f);
        EXPECT_EQ(bufferRight[i], 9.0f);
        EXPECT_EQ(bufferRight[kGuard + kFrames + i], 9.0f);
    }
    // Note 60 starts at frame 0; 62 at 30 (its voice already renders, closed, from frame 0);
    // 64, sent for frame 20, waits for 30; the late note off of 60 applies at 30 too, where its
    // zero-length segment frees voice 0 at once. Every voice renders each frame from the moment
    // it was chosen until it is freed exactly once.
    EXPECT_EQ(log.framesOf(voiceNumber(0)), 30);
    EXPECT_EQ(log.framesOf(voiceNumber(1)), 64);
    EXPECT_EQ(log.framesOf(voiceNumber(2)), 34);
    EXPECT_TRUE(zelko->released().empty());
    EXPECT_EQ(zelko->available().back(), 0);
    const float level = (100.0f * 0.007874016f) * kMixGain;
    for (int i = 0; i < 30; ++i) EXPECT_EQ(outputs[0][i], level) << i;
}

TEST(NoteFrequency, OctavesAreExactAndSemitonesEven) {
    EXPECT_EQ(noteFrequency(69), 440.0f);
    EXPECT_EQ(noteFrequency(81), 880.0f);
    EXPECT_EQ(noteFrequency(57), 220.0f);
    EXPECT_EQ(noteFrequency(93), 1760.0f);
    // Equal temperament to float precision: middle C is 261.6256 Hz.
    EXPECT_NEAR(noteFrequency(60), 261.62558f, 261.6256f * 2e-7f);
    for (int note = 1; note < 128; ++note) {
        EXPECT_NEAR(noteFrequency(note) / noteFrequency(note - 1), 1.0594631f, 1e-5f) << note;
    }
}

}  // namespace
