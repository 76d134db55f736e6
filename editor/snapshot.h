// What the audio thread tells the editor, once per block, and how it gets there.
//
// The audio thread fills a Snapshot and publishes it through a LatestValue: three slots whose
// ownership moves by one atomic exchange, so the audio thread never waits, locks, allocates or
// calls the system, and the editor always reads one whole snapshot of one block (never a mix of
// two). Snapshots the editor did not get to are simply replaced by newer ones. There is one reader:
// the plug-in's main-thread side takes the latest and every open view draws from that copy.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "dsp/control_record.h"
#include "dsp/output_meter.h"

struct Snapshot {
    ControlValues controls = ControlValues::initial();
    bool bypassed = false;
    MeterValues meters = MeterValues::lowest();
    OutputLevels levels;
    std::array<GoniometerPoint, OutputMeter::pointCount> points{};
    std::uint32_t latencySamples = 0;
    float sampleRate = 48000.0f;

    friend bool operator==(const Snapshot&, const Snapshot&) = default;

    // Fills the measured part from a meter.
    void takeFrom(const OutputMeter& meter) {
        levels = meter.levels();
        meter.copyPoints([this](std::size_t i, GoniometerPoint point) { points[i] = point; });
    }

    // Fills all of it as a block ended: the processor's controls, meters and rate, the bypass,
    // the meter of the output as written, and the latency the plug-in reports.
    template <typename Processor>
    void takeBlock(const Processor& processor, bool bypassedNow, const OutputMeter& meter,
                   std::uint32_t latency) {
        controls = processor.controlValues();
        bypassed = bypassedNow;
        meters = processor.meterValues();
        takeFrom(meter);
        latencySamples = latency;
        sampleRate = processor.clampedRate().fs;
    }
};

// A single-producer, single-consumer hand-over of the latest value (a triple buffer). The producer
// writes into `writeSlot()` and calls `publish()`; the consumer calls `take()` and, when it
// answers true, reads the new value from `read()`. Each slot belongs to one side at a time; the
// one in the middle changes hands with an exchange that carries the memory order.
template <typename Value>
class LatestValue {
  public:
    Value& writeSlot() { return slots[back]; }

    void publish() { back = middle.exchange(back | fresh, std::memory_order_acq_rel) & indexMask; }

    bool take() {
        if ((middle.load(std::memory_order_relaxed) & fresh) == 0) return false;
        front = middle.exchange(front, std::memory_order_acq_rel) & indexMask;
        return true;
    }

    const Value& read() const { return slots[front]; }

  private:
    static constexpr unsigned indexMask = 3;
    static constexpr unsigned fresh = 4;
    static_assert(std::atomic<unsigned>::is_always_lock_free);

    std::array<Value, 3> slots{};
    unsigned back = 0;                // the producer's
    std::atomic<unsigned> middle{1};  // the slot between them, with `fresh` when it is new
    unsigned front = 2;               // the consumer's
};
