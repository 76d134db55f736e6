// The measurements of a render (the analysis of --json and --report, the true-peak check, the
// balance of a file's mix) on a thread of their own, so that they leave the render's critical
// path: the render hands each block over through a single-producer, single-consumer queue of
// slots and goes on. Blocks are measured in the order they were handed over, so the figures are
// exactly those of measuring in place.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

namespace render {

class MeasurementThread {
  public:
    // What a block is: the signal fed to the plug-in (one channel, or two with kFeedPair), the
    // input file's own interleaved frames, or the stereo output as written.
    enum class Stream { kFeed, kFeedPair, kFile, kOutput };
    // Called on the measuring thread. `first` and `second` are the two channels of kFeedPair
    // and kOutput (`second` is null otherwise); kFile's frames are interleaved, `channels` to
    // a frame.
    using Measure = std::function<void(Stream, const float* first, const float* second, int frames,
                                       int channels)>;

    explicit MeasurementThread(Measure measure, std::size_t slots = 64);
    // Stops the thread, dropping whatever is still queued (after a failed render).
    ~MeasurementThread();
    MeasurementThread(const MeasurementThread&) = delete;
    MeasurementThread& operator=(const MeasurementThread&) = delete;

    // Copies a block into the queue, waiting while the queue is full.
    void push(Stream stream, const float* first, const float* second, int frames, int channels = 1);
    // Waits until every block handed over has been measured; rethrows what the measuring threw.
    void finish();

  private:
    struct Slot {
        Stream stream = Stream::kFeed;
        int frames = 0;
        int channels = 1;
        bool pair = false;
        std::vector<float> samples;
    };
    void run();
    void wakeMeasuring();
    void waitUntilRead(std::size_t count);

    Measure measure_;
    std::vector<Slot> slots_;
    // How many queued blocks wake a sleeping measurer (fewer wait for more, or for finish()).
    std::size_t wakeBatch_;
    // Counts of slots written and read, ever; a slot is (count % size). Only the render's thread
    // writes `written_`, only the measuring thread `read_`.
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> read_{0};
    // What the measuring thread sleeps on: it changes whenever the render wakes it. The flags
    // say who sleeps, so that the other side makes the system call only then; they, and the
    // counts beside them, use sequentially consistent order, which the flag-then-look
    // handshakes need.
    std::atomic<unsigned> wakeups_{0};
    std::atomic<bool> measuringSleeps_{false};
    std::atomic<bool> renderWaits_{false};
    std::atomic<bool> draining_{false};
    std::atomic<bool> stopping_{false};
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace render
