// The CLAP plug-in: one object behind the host's clap_plugin record, adapting the host's calls to
// the processor as the VST 2.4, VST 3 and LV2 glue do.
//
// Threads. The host calls `process`, `reset`, `start_processing` and, while active, `flush` on its
// audio thread, and everything else on its main thread; a state may be loaded while audio runs.
// The processor's controls are written by the audio thread only while the plug-in is active:
// parameter events arrive inside `process` or `flush`, and a loaded state is handed over through a
// sequence-counted slot that `process` picks up at the start of its next block, without a lock.
// While inactive no audio thread runs, and `activate` puts the held values in place.
//
// The editor (clap.gui) lives on the main thread. The audio thread measures every block it
// writes (the output readings go to the host as read-only parameters) and, while a GUI exists,
// publishes a snapshot for it through a triple buffer, as the VST 3 plug-in does: a copy and one
// atomic exchange. The editor's edits travel the other way through a single-producer ring that
// `process` or `flush` empties, applying each value and telling the host of it as CLAP wants
// a plug-in's own changes told: gesture begin, value, gesture end, as output events.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "clap/clap_abi.h"
#include "clap/gui.h"
#include "clap/parameters.h"
#include "clap/state.h"
#include "dsp/bypass.h"
#include "dsp/mydsp.h"
#include "dsp/output_meter.h"
#include "editor/embedded_view.h"
#include "editor/snapshot.h"

namespace clapglue {

// The plug-in's ID: saved sessions name the plug-in by it, so it never changes.
inline constexpr char kPluginId[] = "org.zelko.comb-stereo-processor";
inline constexpr char kPluginName[] = "Comb Stereo Processor";

// The tail, as for the VST 3 plug-in: the louder output falls below -120 dBFS at most 0.83 s
// after the input's last sample, the latency included, at every rate and control setting measured.
inline constexpr double kTailSeconds = 1.0;

// The two port configurations a host may choose: the input mono, or stereo of which the first
// channel is read, as the VST 2.4 effect reads its first input. The output is always stereo.
inline constexpr clapabi::clap_id kMonoInConfig = 0;
inline constexpr clapabi::clap_id kStereoInConfig = 1;
inline constexpr clapabi::clap_id kInputPortId = 0;
inline constexpr clapabi::clap_id kOutputPortId = 1;

const clapabi::clap_plugin_descriptor_t& descriptor();

// A change the editor made, on its way to the audio thread: a gesture's begin or end, or a value.
struct EditorEdit {
    std::uint16_t type = clapabi::CLAP_EVENT_PARAM_VALUE;
    clapabi::clap_id id = 0;
    double value = 0.0;
};

// A single-producer, single-consumer ring of fixed room: the main thread pushes, the audio thread
// pops, neither waits nor allocates. A host empties it at least once a block, or soon after the
// plug-in asks it to flush; a full ring refuses the edit.
class EditorEdits {
  public:
    static constexpr std::uint32_t capacity = 1024;

    bool push(const EditorEdit& edit) {
        const std::uint32_t tail = written.load(std::memory_order_relaxed);
        if (tail - read.load(std::memory_order_acquire) == capacity) return false;
        slots[tail % capacity] = edit;
        written.store(tail + 1, std::memory_order_release);
        return true;
    }
    bool pop(EditorEdit& edit) {
        const std::uint32_t head = read.load(std::memory_order_relaxed);
        if (head == written.load(std::memory_order_acquire)) return false;
        edit = slots[head % capacity];
        read.store(head + 1, std::memory_order_release);
        return true;
    }

  private:
    std::array<EditorEdit, capacity> slots{};
    std::atomic<std::uint32_t> written{0};
    std::atomic<std::uint32_t> read{0};
};

class ZelkoClap final : private editor::ViewSource {
  public:
    explicit ZelkoClap(const clapabi::clap_host_t* host);
    ~ZelkoClap() override;
    ZelkoClap(const ZelkoClap&) = delete;
    ZelkoClap& operator=(const ZelkoClap&) = delete;

    const clapabi::clap_plugin_t* plugin() const { return &record; }

  private:
    static ZelkoClap& of(const clapabi::clap_plugin_t* plugin);

    // clap_plugin
    bool init();
    bool activate(double sampleRate);
    void deactivate();
    void reset();
    clapabi::clap_process_status process(const clapabi::clap_process_t& data);
    const void* extension(const char* id) const;

    // Extensions
    std::uint32_t inputChannels() const { return stereoInput ? 2u : 1u; }
    bool portInfo(std::uint32_t index, bool isInput, clapabi::clap_audio_port_info_t& info) const;
    bool configInfo(std::uint32_t index, clapabi::clap_audio_ports_config_t& config) const;
    bool selectConfig(clapabi::clap_id id);
    bool paramValue(clapabi::clap_id id, double& value) const;
    void flush(const clapabi::clap_input_events_t* in, const clapabi::clap_output_events_t* out);
    bool saveState(const clapabi::clap_ostream_t* stream) const;
    bool loadState(const clapabi::clap_istream_t* stream);
    std::uint32_t tailSamples() const;

    // A call the host may make on its main thread only, when it says which thread this is.
    bool onMainThread() const;
    // Part of a block: samples [from, to) of the host's buffers.
    void render(const float* in, float* left, float* right, std::uint32_t from, std::uint32_t to);
    // One event, if it is a change of a parameter this plug-in takes.
    void applyEvent(const clapabi::clap_event_header_t* event);
    void takeHandedOverState();
    void sendMeters(const clapabi::clap_output_events_t* out, std::uint32_t lastSample);
    void publishSnapshot();
    // The editor's edits waiting in the ring: applied, and told to the host at `time`.
    void takeEditorEdits(const clapabi::clap_output_events_t* out, std::uint32_t time);

    // The GUI extension, on the main thread.
    bool guiSupported(const char* api, bool isFloating) const;
    bool createGui(const char* api, bool isFloating);
    void destroyGui();
    // The GUI, when there is one and this is the main thread.
    Gui* guiOnMainThread() { return onMainThread() ? editorGui.get() : nullptr; }

    // editor::ViewSource, for the GUI
    const Snapshot& latestSnapshot() override;
    ControlValues shownControls() override;
    bool shownBypass() override;
    void beginControlEdit(Control control) override;
    void performControlEdit(Control control, double normalised) override;
    void endControlEdit(Control control) override;
    void sendEdit(std::uint16_t type, Control control, double value);

    clapabi::clap_plugin_t record;
    const clapabi::clap_host_t* host;
    const clapabi::clap_host_thread_check_t* threadCheck = nullptr;
    const clapabi::clap_host_params_t* hostParams = nullptr;
    GuiHost guiHost;

    std::unique_ptr<mydsp> chain;
    Bypass bypass;
    std::atomic<bool> active{false};
    bool stereoInput = false;

    // The values the processor runs with, as the last event (or a state) left them: what a save
    // writes and get_value answers. Written by the audio thread and by a load; read anywhere.
    std::array<std::atomic<float>, controlCount> currentValues;
    std::atomic<bool> currentBypass{false};
    // The meters as the last block left them, and as last sent to the host (audio thread).
    std::array<std::atomic<float>, meterCount> publishedMeters;
    MeterValues sentMeters;
    bool metersSent = false;
    // The output as measured after each block (audio thread), its readings as published and as
    // last sent to the host.
    OutputMeter outputMeter;
    std::array<std::atomic<float>, outputReadingCount> publishedReadings;
    std::array<float, outputReadingCount> sentReadings{};

    // A loaded state waiting for the audio thread: the count is odd while a load fills the slot;
    // the audio thread takes the slot when the count is even and has moved on since it last took
    // it, and reads the count again after the values to make sure no load came in between.
    std::atomic<std::uint32_t> handOverSequence{0};
    std::array<std::atomic<float>, controlCount> handOverValues;
    std::atomic<bool> handOverBypass{false};
    std::atomic<bool> loading{false};  // one load at a time
    std::uint32_t takenSequence = 0;

    // The editor's side: whether a GUI exists (written on the main thread, read by the audio
    // thread), the snapshots (the producer's side the audio thread's, the consumer's and
    // `shownSnapshot` the main thread's), and the edits on their way.
    std::atomic<bool> editorOpen{false};
    LatestValue<Snapshot> snapshots;
    Snapshot shownSnapshot;
    EditorEdits editorEdits;
    std::unique_ptr<Gui> editorGui;
};

}  // namespace clapglue
