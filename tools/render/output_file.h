// Where an output goes. A regular file appears whole or not at all: it is written under a
// temporary name beside its target, created by the renderer itself, and renamed onto the target
// only once it is complete; until then the temporary file is removed on failure, on destruction
// and when the process is interrupted. A character device (/dev/null) or a FIFO is written in
// place, as a stream, since renaming a file onto it would destroy it; so is standard output.
#pragma once

#include <string>
#include <vector>

namespace render {

// The most outputs written at the same time (--jobs) whose temporary files a signal removes.
inline constexpr int kMostParallelOutputs = 64;

struct OutputTarget {
    enum class Kind { kFile, kStream, kStandardOutput };
    Kind kind = Kind::kFile;
    // For a file, the path that gets replaced: a symbolic link is followed to its target, so
    // that the link stays and what it points to is replaced.
    std::string path;
    bool exists = false;  // there was something at `path` before the render
    bool pipe = false;    // a FIFO or standard output that is not seekable
};

// Examines an output before anything is rendered. Fails with ExitStatus::kOutputRefused when the
// output is one of `inputs` (which no option allows replacing), when it is a folder, socket or
// block device, or when it is an existing file and `force` is not given.
OutputTarget examineOutputTarget(const std::string& target, const std::vector<std::string>& inputs,
                                 bool force);

// Makes SIGINT, SIGTERM and SIGHUP ask the render to stop (see interruptRequested()); a second
// signal, or one that arrives while nothing checks, removes the temporary file and ends the
// process at once.
void installInterruptHandling();
// Names a file, beside the temporary output, that a signal that ends the process removes too:
// an input spooled from a pipe; "" for none.
void setPendingSpool(const std::string& path);
// The signal that asked the render to stop, or 0.
int interruptRequested();
// Ends the process by the signal that interrupted it, as the shell expects.
[[noreturn]] void endByInterrupt();

class OutputFile {
  public:
    // Opens the stream, or creates the temporary file; fails with ExitStatus::kWriteFailed.
    OutputFile(const OutputTarget& target, bool force);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The descriptor the sound file is written to; owned by this object.
    int descriptor() const { return descriptor_; }
    const std::string& temporaryPath() const { return temporary_; }
    // Finishes the output: moves a finished file onto its target, or closes the stream. Fails
    // with ExitStatus::kOutputRefused when something appeared at the target meanwhile that may
    // not be replaced, or kWriteFailed.
    void commit();

  private:
    OutputTarget target_;
    std::string temporary_;  // empty for a stream
    int descriptor_ = -1;
    bool force_;
    bool committed_ = false;
    bool registered_ = false;  // counted among the renders a signal asks to stop
    int pendingSlot_ = -1;     // the signal handler's slot for the temporary file, or -1
};

}  // namespace render
