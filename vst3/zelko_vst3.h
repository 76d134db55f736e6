// The VST 3 plug-in: one object that is the component, the audio processor and the edit
// controller at once, adapting the host's calls to the processor as the VST 2.4 and LV2 glue do.
//
// Threads. The host calls `process` on its audio thread and everything else on its main thread;
// a state may arrive while audio runs. The processor's controls are written by the audio thread
// only: parameter changes arrive inside `process`, and a state set from outside is handed over
// through a sequence-counted slot that `process` picks up at the start of its next block, without
// a lock. The controller's normalised values belong to the main thread.
//
// While an editor is open, `process` measures the output it wrote and publishes a snapshot for the
// editor once per block (editor/snapshot.h): a copy into a slot and one atomic exchange. With no
// editor open it does nothing for the editor but read a counter.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "dsp/bypass.h"
#include "dsp/mydsp.h"
#include "dsp/output_meter.h"
#include "editor/snapshot.h"
#include "vst3/parameters.h"
#include "vst3/plug_view.h"
#include "vst3/state_record.h"
#include "vst3/vst3_abi.h"

namespace vst3glue {

// The component's own class ID: a saved session names the plug-in by it, so it never changes.
inline constexpr vst3::uint32 kClassIdWords[4] = {0x5A454C4B, 0x3C0B7E21, 0x9D4A61F3, 0x0C5B8E72};
inline constexpr vst3::Uid kClassId =
    vst3::makeUid(kClassIdWords[0], kClassIdWords[1], kClassIdWords[2], kClassIdWords[3]);

// The tail the host should keep processing after the input ends, in seconds. Measured with a
// second of full-scale noise followed by silence, at 44.1, 48, 96 and 192 kHz, with the default
// controls and with all five at either end of their ranges: the louder output falls below
// -120 dBFS at most 0.83 s after the input's last sample (the latency included). Exact zero can
// take much longer (residues near the noise floor decay for up to tens of seconds), which no
// host should wait for.
inline constexpr double kTailSeconds = 1.0;

// The component's interfaces, with IComponent's state calls renamed so that they do not meet
// IEditController's calls of the same signature.
class ComponentSide : public vst3::IComponent {
  public:
    vst3::tresult ZELKO_VST3_API setState(vst3::IBStream* state) final {
        return setProcessorState(state);
    }
    vst3::tresult ZELKO_VST3_API getState(vst3::IBStream* state) final {
        return getProcessorState(state);
    }
    virtual vst3::tresult setProcessorState(vst3::IBStream* state) = 0;
    virtual vst3::tresult getProcessorState(vst3::IBStream* state) = 0;
};

class ControllerSide : public vst3::IEditController {
  public:
    vst3::tresult ZELKO_VST3_API setState(vst3::IBStream* state) final {
        return setControllerState(state);
    }
    vst3::tresult ZELKO_VST3_API getState(vst3::IBStream* state) final {
        return getControllerState(state);
    }
    virtual vst3::tresult setControllerState(vst3::IBStream* state) = 0;
    virtual vst3::tresult getControllerState(vst3::IBStream* state) = 0;
};

class ZelkoVst3 final : public ComponentSide,
                        public vst3::IAudioProcessor,
                        public ControllerSide,
                        public vst3::IProcessContextRequirements,
                        private ViewHost {
  public:
    ZelkoVst3();
    ~ZelkoVst3();
    ZelkoVst3(const ZelkoVst3&) = delete;
    ZelkoVst3& operator=(const ZelkoVst3&) = delete;

    // FUnknown
    vst3::tresult ZELKO_VST3_API queryInterface(const vst3::TUID iid, void** object) override;
    vst3::uint32 ZELKO_VST3_API addRef() override;
    vst3::uint32 ZELKO_VST3_API release() override;

    // IPluginBase, shared by the component and the controller
    vst3::tresult ZELKO_VST3_API initialize(vst3::FUnknown* context) override;
    vst3::tresult ZELKO_VST3_API terminate() override;

    // IComponent
    vst3::tresult ZELKO_VST3_API getControllerClassId(vst3::TUID classId) override;
    vst3::tresult ZELKO_VST3_API setIoMode(vst3::IoMode mode) override;
    vst3::int32 ZELKO_VST3_API getBusCount(vst3::MediaType type, vst3::BusDirection dir) override;
    vst3::tresult ZELKO_VST3_API getBusInfo(vst3::MediaType type, vst3::BusDirection dir,
                                            vst3::int32 index, vst3::BusInfo& bus) override;
    vst3::tresult ZELKO_VST3_API getRoutingInfo(vst3::RoutingInfo& inInfo,
                                                vst3::RoutingInfo& outInfo) override;
    vst3::tresult ZELKO_VST3_API activateBus(vst3::MediaType type, vst3::BusDirection dir,
                                             vst3::int32 index, vst3::TBool state) override;
    vst3::tresult ZELKO_VST3_API setActive(vst3::TBool state) override;
    vst3::tresult setProcessorState(vst3::IBStream* state) override;
    vst3::tresult getProcessorState(vst3::IBStream* state) override;

    // IAudioProcessor
    vst3::tresult ZELKO_VST3_API setBusArrangements(vst3::SpeakerArrangement* inputs,
                                                    vst3::int32 numIns,
                                                    vst3::SpeakerArrangement* outputs,
                                                    vst3::int32 numOuts) override;
    vst3::tresult ZELKO_VST3_API getBusArrangement(vst3::BusDirection dir, vst3::int32 index,
                                                   vst3::SpeakerArrangement& arrangement) override;
    vst3::tresult ZELKO_VST3_API canProcessSampleSize(vst3::int32 symbolicSampleSize) override;
    vst3::uint32 ZELKO_VST3_API getLatencySamples() override;
    vst3::tresult ZELKO_VST3_API setupProcessing(vst3::ProcessSetup& setup) override;
    vst3::tresult ZELKO_VST3_API setProcessing(vst3::TBool state) override;
    vst3::tresult ZELKO_VST3_API process(vst3::ProcessData& data) override;
    vst3::uint32 ZELKO_VST3_API getTailSamples() override;

    // IProcessContextRequirements
    vst3::uint32 ZELKO_VST3_API getProcessContextRequirements() override { return 0; }

    // IEditController
    vst3::tresult ZELKO_VST3_API setComponentState(vst3::IBStream* state) override;
    vst3::tresult setControllerState(vst3::IBStream* state) override;
    vst3::tresult getControllerState(vst3::IBStream* state) override;
    vst3::int32 ZELKO_VST3_API getParameterCount() override;
    vst3::tresult ZELKO_VST3_API getParameterInfo(vst3::int32 paramIndex,
                                                  vst3::ParameterInfo& info) override;
    vst3::tresult ZELKO_VST3_API getParamStringByValue(vst3::ParamID id,
                                                       vst3::ParamValue valueNormalized,
                                                       vst3::String128 string) override;
    vst3::tresult ZELKO_VST3_API getParamValueByString(vst3::ParamID id, vst3::TChar* string,
                                                       vst3::ParamValue& valueNormalized) override;
    vst3::ParamValue ZELKO_VST3_API
    normalizedParamToPlain(vst3::ParamID id, vst3::ParamValue valueNormalized) override;
    vst3::ParamValue ZELKO_VST3_API plainParamToNormalized(vst3::ParamID id,
                                                           vst3::ParamValue plainValue) override;
    vst3::ParamValue ZELKO_VST3_API getParamNormalized(vst3::ParamID id) override;
    vst3::tresult ZELKO_VST3_API setParamNormalized(vst3::ParamID id,
                                                    vst3::ParamValue value) override;
    vst3::tresult ZELKO_VST3_API setComponentHandler(vst3::IComponentHandler* handler) override;
    vst3::IPlugView* ZELKO_VST3_API createView(vst3::FIDString name) override;

    // ViewHost, for the editor's views
    void viewOpened() override;
    void viewClosed() override;
    const Snapshot& latestSnapshot() override;
    ControlValues shownControls() override;
    bool shownBypass() override;
    void beginControlEdit(Control control) override;
    void performControlEdit(Control control, double normalised) override;
    void endControlEdit(Control control) override;

    // Read-only views for tests.
    const mydsp& processor() const { return *chain; }

  private:
    // Part of a block: samples [from, to) of the host's buffers.
    void render(const float* in, float* left, float* right, int from, int to);
    void applyChange(int parameter, double normalized);
    void takeHandedOverState();
    void applyControlValues(const ControlValues& values);
    void sendMeters(vst3::IParameterChanges* changes, int lastSample);
    void resetSignalState();
    void publishSnapshot(const float* left, const float* right, int frames);

    std::atomic<vst3::uint32> references{1};

    std::unique_ptr<mydsp> chain;

    // The input arrangement: mono, or stereo of which the first channel is read.
    vst3::SpeakerArrangement inputArrangement = vst3::kArrangementMono;
    bool active = false;

    // The values the processor runs with, as the last block (or a state) left them: what
    // getState saves. Written by the audio thread and by setState; read by getState.
    std::array<std::atomic<float>, controlCount> currentValues;
    std::atomic<bool> currentBypass{false};

    // A state set from outside, waiting for the audio thread: a sequence-counted slot. The count
    // is odd while a writer fills the slot; the audio thread takes the slot when the count is even
    // and has moved on since it last took it, and reads the count again after the values to make
    // sure no writer came in between.
    std::atomic<vst3::uint32> handOverSequence{0};
    std::array<std::atomic<float>, controlCount> handOverValues;
    std::atomic<bool> handOverBypass{false};
    std::atomic<bool> handOverWriter{false};
    vst3::uint32 takenSequence = 0;

    // The bypass switch as the audio thread last set it, with its delay and crossfade.
    Bypass bypass;

    // The controller's normalised values, in list order.
    std::array<double, kParameterCount> controllerValues;
    vst3::IComponentHandler* componentHandler = nullptr;

    // The editor's side. `openViews` is written by the main thread and read by the audio thread;
    // the meter and the producer's side of `snapshots` belong to the audio thread, the
    // consumer's side and `shownSnapshot` to the main thread.
    std::atomic<int> openViews{0};
    OutputMeter outputMeter;
    LatestValue<Snapshot> snapshots;
    Snapshot shownSnapshot;
};

}  // namespace vst3glue
