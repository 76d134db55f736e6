// Speaker-arrangement helpers of AudioEffectX. An arrangement is one block holding the header and
// its speakers; it is never smaller than the declared record, so that code reading it through
// the record type stays inside the block.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "host/AudioEffectX.h"

namespace {

constexpr VstInt32 kDeclaredSpeakers =
    static_cast<VstInt32>(sizeof(VstSpeakerArrangement::speakers) / sizeof(VstSpeakerProperties));

std::size_t arrangementBytes(VstInt32 channels) {
    return offsetof(VstSpeakerArrangement, speakers) +
           static_cast<std::size_t>(std::max(channels, kDeclaredSpeakers)) *
               sizeof(VstSpeakerProperties);
}

}  // namespace

bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels) {
    if (!arrangement || nbChannels < 0) return false;
    deallocateArrangement(arrangement);
    void* block = std::calloc(1, arrangementBytes(nbChannels));
    if (!block) return false;
    *arrangement = static_cast<VstSpeakerArrangement*>(block);
    (*arrangement)->numChannels = nbChannels;
    return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement) {
    if (!arrangement) return false;
    std::free(*arrangement);
    *arrangement = nullptr;
    return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) {
    if (!to || !from) return false;
    // Copied through a local so that overlapping records cannot corrupt the result; the source
    // name need not be terminated.
    const VstSpeakerProperties source = *from;
    const std::size_t nameLength = strnlen(source.name, kVstMaxNameLen - 1);
    to->azimuth = source.azimuth;
    to->elevation = source.elevation;
    to->radius = source.radius;
    to->reserved = source.reserved;
    std::memset(to->name, 0, sizeof to->name);
    std::memcpy(to->name, source.name, nameLength);
    to->type = source.type;
    std::memcpy(to->future, source.future, sizeof to->future);
    return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from) {
    if (!to || !from || from->numChannels < 0) return false;
    // Reallocating the target would release the source when both are the same arrangement.
    if (*to == from) return true;
    if (!allocateArrangement(to, from->numChannels)) return false;
    (*to)->type = from->type;
    for (VstInt32 channel = 0; channel < from->numChannels; ++channel) {
        copySpeaker((*to)->speakers + channel, from->speakers + channel);
    }
    return true;
}
