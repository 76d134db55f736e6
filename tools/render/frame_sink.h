// Where the render's stereo output goes, block by block: the output file, or a stage on the way
// to it (rate conversion, a loudness target) that hands its result on to the next sink.
#pragma once

namespace render {

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // A mono sink takes only `left`.
    virtual void write(const float* left, const float* right, int frames) = 0;
    // After the last block: a stage hands on what it still holds, then finishes the next sink.
    virtual void finish() {}
};

}  // namespace render
