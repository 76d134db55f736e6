#include "tools/render/measurement_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace render {

MeasurementThread::MeasurementThread(Measure measure, std::size_t slots)
    : measure_(std::move(measure)),
      slots_(slots),
      wakeBatch_(std::max<std::size_t>(1, slots / 4)),
      thread_([this] { run(); }) {}

MeasurementThread::~MeasurementThread() {
    stopping_.store(true);
    wakeMeasuring();
    if (thread_.joinable()) thread_.join();
}

void MeasurementThread::push(Stream stream, const float* first, const float* second, int frames,
                             int channels) {
    const std::size_t written = written_.load(std::memory_order_relaxed);
    waitUntilRead(written + 1 - slots_.size());
    Slot& slot = slots_[written % slots_.size()];
    slot.stream = stream;
    slot.frames = frames;
    slot.channels = channels;
    slot.pair = second != nullptr;
    const auto count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
    slot.samples.resize(slot.pair ? 2 * count : count);
    std::copy(first, first + count, slot.samples.begin());
    if (slot.pair) std::copy(second, second + count, slot.samples.begin() + count);
    written_.store(written + 1);
    // A sleeping measurer is woken once a batch has gathered, not for every block: a wake is a
    // system call, and one per block cost the render a tenth of its time.
    if (measuringSleeps_.load() && written + 1 - read_.load() >= wakeBatch_) wakeMeasuring();
}

void MeasurementThread::finish() {
    const std::size_t written = written_.load(std::memory_order_relaxed);
    draining_.store(true);
    wakeMeasuring();
    waitUntilRead(written);
    draining_.store(false);
    if (failure_) std::rethrow_exception(failure_);
}

void MeasurementThread::wakeMeasuring() {
    wakeups_.fetch_add(1);
    wakeups_.notify_one();
}

// Waits until the measurer has read `count` blocks. A count below one block (the queue is not
// full) returns at once; the wrap of an unsigned count is what makes that so.
void MeasurementThread::waitUntilRead(std::size_t count) {
    const auto behind = [&](std::size_t read) {
        return static_cast<std::ptrdiff_t>(count - read) > 0;
    };
    for (std::size_t read = read_.load(); behind(read); read = read_.load()) {
        // Flag first, then look again: a measurer that read a block after the look sees the flag
        // and wakes us; one that read it before is seen by the look.
        renderWaits_.store(true);
        read = read_.load();
        if (behind(read)) read_.wait(read);
        renderWaits_.store(false);
    }
}

void MeasurementThread::run() {
    // Below the render in the scheduler's eyes: where the cores are busy (the kernel writing the
    // output back, other jobs of a batch), the render is the one that goes on. The queue
    // absorbs the measurer's lag, and the measurer catches up whenever a core is free.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    std::size_t read = 0;
    while (true) {
        const std::size_t available = written_.load() - read;
        const bool urgent = draining_.load() || stopping_.load();
        if (available == 0 || (available < wakeBatch_ && !urgent)) {
            if (available == 0 && stopping_.load()) return;
            // The same handshake as the render's wait: flag, then look again before sleeping.
            const unsigned wakeups = wakeups_.load();
            measuringSleeps_.store(true);
            const std::size_t again = written_.load() - read;
            if (again == 0 || (again < wakeBatch_ && !draining_.load() && !stopping_.load())) {
                wakeups_.wait(wakeups);
            }
            measuringSleeps_.store(false);
            continue;
        }
        for (std::size_t end = read + available; read != end; ++read) {
            Slot& slot = slots_[read % slots_.size()];
            // After a failure the rest is only taken off the queue, so that the render never
            // waits.
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
            read_.store(read + 1);
            if (renderWaits_.load()) read_.notify_one();
        }
    }
}

}  // namespace render
