// The LV2 plug-in's editor: a UI binary of its own (zelko_ui.so), so that the plug-in's binary
// keeps needing nothing but the C++ standard library. It is the editor of the VST 3 plug-in in an
// X11 child window of the host's (ui:parent), driven by the host's idle calls: the controls go to
// the host through its write function, and the meters, latency, enabled port and the output's
// levels and correlation come back as port events, the goniometer points as atom events.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "editor/x11_window.h"
#include "lv2/port_table.h"

namespace {

using namespace lv2glue;

// How often the peak holds move on, whatever rate the host calls idle at.
constexpr std::chrono::milliseconds kFrame{33};

// The atom types the goniometer's events come as; all 0 without the host's urid:map, and then
// no atom is taken.
struct AtomTypes {
    LV2_URID eventTransfer = 0;
    LV2_URID vector = 0;
    LV2_URID floatType = 0;
};

class Ui final : private editor::WindowClient, private editor::EditSink {
  public:
    Ui(LV2UI_Write_Function writeFunction, LV2UI_Controller hostController, AtomTypes types)
        : write(writeFunction), controller(hostController), atoms(types), window(*this) {
        scene.audio.latencySamples = static_cast<std::uint32_t>(kChainLatency);
        scene.audio.sampleRate = 0.0f;
    }

    bool open(void* parent, const LV2UI_Resize* hostResize, float rate, float scale) {
        resize = hostResize;
        if (rate > 0.0f) scene.audio.sampleRate = rate;
        width = static_cast<int>(std::lround(editor::designWidth * scale));
        height = static_cast<int>(std::lround(editor::designHeight * scale));
        if (!window.open(reinterpret_cast<unsigned long>(parent), width, height)) return false;
        if (resize != nullptr) resize->ui_resize(resize->handle, width, height);
        return true;
    }

    unsigned long widget() const { return window.windowId(); }

    void portEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format,
                   const void* buffer) {
        if (buffer == nullptr) return;
        if (port == kGoniometerPort && format != 0 && format == atoms.eventTransfer) {
            takePoints(size, buffer);
            return;
        }
        if (format != 0 || size != sizeof(float)) return;
        float value;
        std::memcpy(&value, buffer, sizeof value);
        if (port >= kFirstReadingPort && port < kGoniometerPort) {
            const auto reading = static_cast<OutputReading>(port - kFirstReadingPort);
            OutputLevels& levels = scene.audio.levels;
            const float held = recordOf(reading).reach.held(value);
            switch (reading) {
                case OutputReading::leftPeak:
                    levels.peakDb[0] = held;
                    break;
                case OutputReading::rightPeak:
                    levels.peakDb[1] = held;
                    break;
                case OutputReading::leftRms:
                    levels.rmsDb[0] = held;
                    break;
                case OutputReading::rightRms:
                    levels.rmsDb[1] = held;
                    break;
                case OutputReading::correlation:
                    levels.correlation = held;
                    break;
            }
        } else if (port >= kFirstControlPort && port < kFirstMeterPort) {
            scene.controls.values[port - kFirstControlPort] = value;
        } else if (port >= kFirstMeterPort && port < kLatencyPort) {
            scene.audio.meters.values[port - kFirstMeterPort] = value;
        } else if (port == kLatencyPort) {
            scene.audio.latencySamples = static_cast<std::uint32_t>(std::max(0.0f, value));
        } else if (port == kEnabledPort) {
            scene.bypassed = !(value > 0.5f);
        }
        scene.audio.controls = scene.controls;
        scene.audio.bypassed = scene.bypassed;
    }

    int idle() {
        window.handleEvents();
        const auto now = std::chrono::steady_clock::now();
        if (now - lastFrame >= kFrame) {
            lastFrame = now;
            scene.hold.update(scene.audio.meters);
        }
        scene.activeControl = interaction.activeControl();
        scene.entry = interaction.entry();
        if (!(scene == drawn)) window.redraw();
        return 0;
    }

    void hostResized(int w, int h) {
        width = w;
        height = h;
        window.resize(w, h);
    }

  private:
    // An atom:Vector of kGoniometerFloats floats, (mid, side) pairs oldest first; anything else
    // is not ours and is ignored.
    void takePoints(std::uint32_t size, const void* buffer) {
        LV2_Atom_Vector header;
        if (size < sizeof header) return;
        std::memcpy(&header, buffer, sizeof header);
        constexpr std::uint32_t bodyBytes =
            sizeof(LV2_Atom_Vector_Body) + kGoniometerFloats * sizeof(float);
        if (header.atom.type != atoms.vector || header.atom.size != bodyBytes ||
            header.body.child_type != atoms.floatType || header.body.child_size != sizeof(float) ||
            size < sizeof(LV2_Atom) + bodyBytes) {
            return;
        }
        float values[kGoniometerFloats];
        std::memcpy(values, static_cast<const unsigned char*>(buffer) + sizeof header,
                    sizeof values);
        for (std::size_t i = 0; i < scene.audio.points.size(); ++i) {
            scene.audio.points[i] = {values[2 * i], values[2 * i + 1]};
        }
    }

    float scale() const {
        return editor::scaleFor(static_cast<float>(width), static_cast<float>(height));
    }

    // editor::WindowClient
    void paint(Painter& painter, int w, int h) override {
        width = w;
        height = h;
        editor::drawEditor(scene, painter, static_cast<float>(w), static_cast<float>(h), scale());
        drawn = scene;
    }
    void mousePress(float x, float y, editor::Modifiers modifiers, double seconds) override {
        interaction.press(x, y, modifiers, seconds, scale(), scene.controls, *this);
    }
    void mouseMove(float x, float y, editor::Modifiers modifiers) override {
        interaction.move(x, y, modifiers, *this);
    }
    void mouseRelease() override { interaction.release(*this); }
    void mouseWheel(float x, float y, float notches, editor::Modifiers modifiers) override {
        interaction.wheel(x, y, notches, modifiers, scale(), scene.controls, *this);
    }
    void keyPressed(editor::Key key) override { interaction.key(key, *this); }
    void textTyped(std::string_view text) override { interaction.type(text); }
    void focusLost() override { interaction.focusLost(); }
    bool wantsKeyboard() const override { return interaction.wantsKeyboard(); }

    // editor::EditSink: a control port takes plain values; the host has no gesture for them.
    void beginEdit(Control) override {}
    void performEdit(Control control, double normalised) override {
        const auto c = static_cast<std::size_t>(control);
        const float value = controlRecords[c].fromNormalised(normalised);
        scene.controls.values[c] = value;
        write(controller, kFirstControlPort + static_cast<std::uint32_t>(c), sizeof value, 0,
              &value);
    }
    void endEdit(Control) override {}

    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    AtomTypes atoms;
    const LV2UI_Resize* resize = nullptr;
    editor::X11Window window;
    editor::Interaction interaction;
    editor::Scene scene;
    editor::Scene drawn;
    std::chrono::steady_clock::time_point lastFrame{};
    int width = 0;
    int height = 0;
};

// A float option of the host's, or 0.
float floatOption(const LV2_Options_Option* options, LV2_URID_Map* map, const char* key) {
    if (options == nullptr || map == nullptr) return 0.0f;
    const LV2_URID wanted = map->map(map->handle, key);
    const LV2_URID floatType = map->map(map->handle, "http://lv2plug.in/ns/ext/atom#Float");
    for (const LV2_Options_Option* o = options; o->key != 0; ++o) {
        if (o->key == wanted && o->type == floatType && o->size == sizeof(float)) {
            float value;
            std::memcpy(&value, o->value, sizeof value);
            return value;
        }
    }
    return 0.0f;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char*, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
    void* parent = nullptr;
    const LV2UI_Resize* resize = nullptr;
    const LV2_Options_Option* options = nullptr;
    LV2_URID_Map* map = nullptr;
    for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f) {
        const char* uri = (*f)->URI;
        if (std::strcmp(uri, LV2_UI__parent) == 0) parent = (*f)->data;
        if (std::strcmp(uri, LV2_UI__resize) == 0) {
            resize = static_cast<const LV2UI_Resize*>((*f)->data);
        }
        if (std::strcmp(uri, LV2_OPTIONS__options) == 0) {
            options = static_cast<const LV2_Options_Option*>((*f)->data);
        }
        if (std::strcmp(uri, LV2_URID__map) == 0) map = static_cast<LV2_URID_Map*>((*f)->data);
    }
    if (parent == nullptr) return nullptr;
    const float rate = floatOption(options, map, LV2_PARAMETERS__sampleRate);
    const float scale = floatOption(options, map, LV2_UI__scaleFactor);
    AtomTypes types;
    if (map != nullptr) {
        types = {map->map(map->handle, LV2_ATOM__eventTransfer),
                 map->map(map->handle, LV2_ATOM__Vector), map->map(map->handle, LV2_ATOM__Float)};
    }
    auto ui = std::unique_ptr<Ui>(new (std::nothrow) Ui(write, controller, types));
    if (!ui || !ui->open(parent, resize, rate, scale >= 1.0f ? scale : 1.0f)) return nullptr;
    *widget = reinterpret_cast<LV2UI_Widget>(ui->widget());
    return ui.release();
}

void cleanup(LV2UI_Handle handle) {
    delete static_cast<Ui*>(handle);
}

void portEvent(LV2UI_Handle handle, std::uint32_t port, std::uint32_t size, std::uint32_t format,
               const void* buffer) {
    static_cast<Ui*>(handle)->portEvent(port, size, format, buffer);
}

int idle(LV2UI_Handle handle) {
    return static_cast<Ui*>(handle)->idle();
}

int hostResize(LV2UI_Feature_Handle handle, int width, int height) {
    static_cast<Ui*>(handle)->hostResized(width, height);
    return 0;
}

const void* extensionData(const char* uri) {
    static const LV2UI_Idle_Interface idleInterface = {idle};
    static const LV2UI_Resize resizeInterface = {nullptr, hostResize};
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &idleInterface;
    if (std::strcmp(uri, LV2_UI__resize) == 0) return &resizeInterface;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {kUiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
