#include "tools/render/measurement_thread.h"

#include <algorithm>
#include <utility>

namespace render {

MeasurementThread::MeasurementThread(Measure measure, std::size_t slots)
    : measure_(std::move(measure)), slots_(slots), thread_([this] { run(); }) {}

MeasurementThread::~MeasurementThread() {
    stopping_.store(true, std::memory_order_release);
    wakeups_.fetch_add(1, std::memory_order_release);
    wakeups_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void MeasurementThread::push(Stream stream, const float* first, const float* second, int frames,
                             int channels) {
    const std::size_t written = written_.load(std::memory_order_relaxed);
    // Full: wait for the measuring thread to take a slot.
    for (std::size_t read = read_.load(std::memory_order_acquire); written - read == slots_.size();
         read = read_.load(std::memory_order_acquire)) {
        read_.wait(read, std::memory_order_acquire);
    }
    Slot& slot = slots_[written % slots_.size()];
    slot.stream = stream;
    slot.frames = frames;
    slot.channels = channels;
    slot.pair = second != nullptr;
    const auto count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
    slot.samples.resize(slot.pair ? 2 * count : count);
    std::copy(first, first + count, slot.samples.begin());
    if (slot.pair) std::copy(second, second + count, slot.samples.begin() + count);
    written_.store(written + 1, std::memory_order_release);
    wakeups_.fetch_add(1, std::memory_order_release);
    wakeups_.notify_one();
}

void MeasurementThread::finish() {
    const std::size_t written = written_.load(std::memory_order_relaxed);
    for (std::size_t read = read_.load(std::memory_order_acquire); read != written;
         read = read_.load(std::memory_order_acquire)) {
        read_.wait(read, std::memory_order_acquire);
    }
    if (failure_) std::rethrow_exception(failure_);
}

void MeasurementThread::run() {
    std::size_t read = 0;
    while (true) {
        // Read before the count, so that a block handed over after it wakes the wait below.
        unsigned wakeups = wakeups_.load(std::memory_order_acquire);
        while (written_.load(std::memory_order_acquire) == read) {
            if (stopping_.load(std::memory_order_acquire)) return;
            wakeups_.wait(wakeups, std::memory_order_acquire);
            wakeups = wakeups_.load(std::memory_order_acquire);
        }
        Slot& slot = slots_[read % slots_.size()];
        // After a failure the rest is only taken off the queue, so that the render never waits.
        if (!failure_) {
            try {
                const float* first = slot.samples.data();
                const float* second =
                    slot.pair ? first + static_cast<std::size_t>(slot.frames) * slot.channels
                              : nullptr;
                measure_(slot.stream, first, second, slot.frames, slot.channels);
            } catch (...) {
                failure_ = std::current_exception();
            }
        }
        ++read;
        read_.store(read, std::memory_order_release);
        read_.notify_one();
    }
}

}  // namespace render
