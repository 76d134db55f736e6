// Speaker-arrangement helpers. The sanitizer build catches a block that is too small for its
// channel count and a block that is never released.
#include <gtest/gtest.h>

#include <cstring>

#include "host/AudioEffectX.h"

namespace {

class ArrangementEffect : public AudioEffectX {
  public:
    ArrangementEffect() : AudioEffectX(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

// Speakers past the eight that the record declares live in the same block.
VstSpeakerProperties& speaker(VstSpeakerArrangement* arrangement, VstInt32 channel) {
    return *(arrangement->speakers + channel);
}

void nameSpeaker(VstSpeakerProperties& speaker, int channel) {
    std::memset(speaker.name, 'a' + channel % 26, sizeof speaker.name);  // not terminated
    speaker.azimuth = 0.1f * static_cast<float>(channel);
    speaker.elevation = -0.2f;
    speaker.radius = 1.5f;
    speaker.reserved = 3.0f;
    speaker.type = channel + 100;
    std::memset(speaker.future, channel, sizeof speaker.future);
}

TEST(SpeakerArrangement, AllocateGivesAZeroedBlockWithRoomForEveryChannel) {
    ArrangementEffect effect;
    VstSpeakerArrangement* arrangement = nullptr;
    for (VstInt32 channels : {0, 2, 8, 20}) {
        ASSERT_TRUE(effect.allocateArrangement(&arrangement, channels));
        ASSERT_NE(arrangement, nullptr);
        EXPECT_EQ(arrangement->numChannels, channels);
        EXPECT_EQ(arrangement->type, 0);
        const VstInt32 room = channels < 8 ? 8 : channels;
        for (VstInt32 c = 0; c < room; ++c) {
            EXPECT_EQ(speaker(arrangement, c).type, 0);
            EXPECT_EQ(speaker(arrangement, c).name[0], '\0');
            speaker(arrangement, c).type = c;  // the whole block is writable
        }
    }
    EXPECT_TRUE(effect.deallocateArrangement(&arrangement));
    EXPECT_EQ(arrangement, nullptr);
}

TEST(SpeakerArrangement, RefusesNullTargetsAndNegativeCounts) {
    ArrangementEffect effect;
    EXPECT_FALSE(effect.allocateArrangement(nullptr, 2));
    EXPECT_FALSE(effect.deallocateArrangement(nullptr));
    VstSpeakerArrangement* arrangement = nullptr;
    EXPECT_FALSE(effect.allocateArrangement(&arrangement, -1));
    EXPECT_EQ(arrangement, nullptr);
    // Releasing an arrangement that was never allocated is harmless.
    EXPECT_TRUE(effect.deallocateArrangement(&arrangement));
}

TEST(SpeakerArrangement, CopySpeakerBoundsTheName) {
    ArrangementEffect effect;
    VstSpeakerProperties from{}, to{};
    nameSpeaker(from, 3);
    std::memset(&to, 0x55, sizeof to);
    ASSERT_TRUE(effect.copySpeaker(&to, &from));
    EXPECT_EQ(std::strlen(to.name), 63u);
    EXPECT_EQ(std::string(to.name), std::string(63, 'd'));
    EXPECT_EQ(to.azimuth, from.azimuth);
    EXPECT_EQ(to.elevation, from.elevation);
    EXPECT_EQ(to.radius, from.radius);
    EXPECT_EQ(to.reserved, from.reserved);
    EXPECT_EQ(to.type, from.type);
    EXPECT_EQ(std::memcmp(to.future, from.future, sizeof to.future), 0);

    std::strcpy(from.name, "Left");
    ASSERT_TRUE(effect.copySpeaker(&to, &from));
    EXPECT_STREQ(to.name, "Left");

    EXPECT_FALSE(effect.copySpeaker(nullptr, &from));
    EXPECT_FALSE(effect.copySpeaker(&to, nullptr));
}

TEST(SpeakerArrangement, MatchCopiesTypeAndEverySpeaker) {
    ArrangementEffect effect;
    VstSpeakerArrangement* source = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&source, 12));
    source->type = 23;
    for (VstInt32 c = 0; c < 12; ++c) nameSpeaker(speaker(source, c), c);

    VstSpeakerArrangement* target = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&target, 2));  // released by the match
    ASSERT_TRUE(effect.matchArrangement(&target, source));
    ASSERT_NE(target, source);
    EXPECT_EQ(target->type, 23);
    EXPECT_EQ(target->numChannels, 12);
    for (VstInt32 c = 0; c < 12; ++c) {
        EXPECT_EQ(speaker(target, c).type, c + 100);
        EXPECT_EQ(speaker(target, c).azimuth, speaker(source, c).azimuth);
        EXPECT_EQ(std::strlen(speaker(target, c).name), 63u);
    }

    // Matching an arrangement to itself must not release it first.
    VstSpeakerArrangement* same = source;
    EXPECT_TRUE(effect.matchArrangement(&same, source));
    EXPECT_EQ(same, source);
    EXPECT_EQ(speaker(source, 11).type, 111);

    EXPECT_FALSE(effect.matchArrangement(&target, nullptr));
    EXPECT_FALSE(effect.matchArrangement(nullptr, source));
    effect.deallocateArrangement(&target);
    effect.deallocateArrangement(&source);
}

}  // namespace
