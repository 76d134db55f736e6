// The editor, apart from any window system: what it shows (a Scene), where (the Layout, in design
// units that the scale turns into pixels), how it is drawn (one function onto a Painter), and what
// the mouse does to the controls (Interaction, which reports edits to an EditSink). The platform
// windows only feed it events and a painter.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "dsp/band_table.h"
#include "dsp/control_record.h"
#include "editor/painter.h"
#include "editor/snapshot.h"

namespace editor {

// The picture at scale 1; every other size is this one scaled.
inline constexpr float designWidth = 800.0f;
inline constexpr float designHeight = 440.0f;
// The smallest scale a window may shrink the picture to, where the text is still readable.
inline constexpr float minimumScale = 0.75f;

// A control's cell: its name, its value as text, and the track that shows where it stands.
struct ControlCell {
    Rect cell;
    Rect name;
    Rect value;
    Rect track;
};

struct Layout {
    Rect header;
    std::array<ControlCell, controlCount> controls;
    Rect bands;     // separations and cutoffs over a log-frequency axis
    Rect bandPlot;  // the plotting area inside it
    Rect goniometer;
    Rect correlation;
    Rect correlationBar;
    Rect status;  // latency and bypass
    Rect levels;  // left and right output meters
    std::array<Rect, 2> levelBars;
};

constexpr ControlCell controlCell(int index) {
    const float x = 8.0f + 158.0f * static_cast<float>(index);
    const float y = 38.0f;
    return {{x, y, 150.0f, 62.0f},
            {x + 6.0f, y + 3.0f, 138.0f, 16.0f},
            {x + 6.0f, y + 20.0f, 138.0f, 20.0f},
            {x + 8.0f, y + 45.0f, 134.0f, 9.0f}};
}

inline constexpr Layout layout = {
    {0.0f, 0.0f, designWidth, 30.0f},
    {controlCell(0), controlCell(1), controlCell(2), controlCell(3), controlCell(4)},
    {8.0f, 108.0f, 470.0f, 324.0f},
    {46.0f, 150.0f, 420.0f, 252.0f},
    {486.0f, 108.0f, 200.0f, 200.0f},
    {486.0f, 316.0f, 200.0f, 46.0f},
    {496.0f, 338.0f, 180.0f, 10.0f},
    {486.0f, 370.0f, 200.0f, 62.0f},
    {694.0f, 108.0f, 98.0f, 324.0f},
    {{{724.0f, 132.0f, 18.0f, 252.0f}, {762.0f, 132.0f, 18.0f, 252.0f}}},
};

// The frequency axis of the band plot: log-spaced from the lowest separated band's lower edge to
// the top of the audio band.
inline constexpr float axisLowHz = 150.0f;
inline constexpr float axisHighHz = 22000.0f;
// The level meters' scale, in dBFS.
inline constexpr float levelLowDb = -60.0f;

// How long a separation's peak stays before it falls, in frames at the editor's rate, and how
// fast it then falls, as a fraction of the meter's reach per frame.
struct SeparationHold {
    static constexpr int holdFrames = 45;
    static constexpr float fallPerFrame = 0.02f;

    std::array<float, separatedBandCount> values{};
    std::array<int, separatedBandCount> age{};

    void update(const MeterValues& meters);
    friend bool operator==(const SeparationHold&, const SeparationHold&) = default;
};

// A control's value being typed in place of its value text: the text so far, where the caret
// stands, whether the whole text is selected (as it is when the entry opens, so that typing
// replaces it) and whether the last Enter was refused.
struct ValueEntry {
    static constexpr std::size_t capacity = 24;

    int control = -1;  // -1: no entry open
    std::array<char, capacity> text{};
    int length = 0;
    int caret = 0;
    bool selected = false;
    bool refused = false;

    bool open() const { return control >= 0; }
    std::string_view view() const { return {text.data(), static_cast<std::size_t>(length)}; }
    friend bool operator==(const ValueEntry&, const ValueEntry&) = default;
};

// Everything the picture shows: equal scenes draw the same picture.
struct Scene {
    Snapshot audio;
    // The controls and bypass as the host last reported them: what the user sees after an edit
    // is the host's answer, not the mouse.
    ControlValues controls = ControlValues::initial();
    bool bypassed = false;
    SeparationHold hold;
    int activeControl = -1;  // the control being dragged, drawn highlighted
    ValueEntry entry;

    friend bool operator==(const Scene&, const Scene&) = default;
};

// Draws `scene` into a `width` x `height` pixel area at `scale` pixels per design unit.
void drawEditor(const Scene& scene, Painter& painter, float width, float height, float scale);

// The scale that fits the picture into a window, never below minimumScale.
float scaleFor(float width, float height);

// Where an edit goes: the host, as a gesture of begin, any number of performs, and end.
class EditSink {
  public:
    virtual ~EditSink() = default;
    virtual void beginEdit(Control control) = 0;
    virtual void performEdit(Control control, double normalised) = 0;
    virtual void endEdit(Control control) = 0;
};

struct Modifiers {
    bool fine = false;     // Shift: a tenth of the speed, single steps on the wheel
    bool command = false;  // Ctrl: a click opens the value entry on any control
};

// The keys the value entry takes; letters, digits and signs come as typed text.
enum class Key { enter, escape, backspace, del, left, right, home, end };

// The mouse and keyboard on the controls. Positions are in pixels; `scale` maps them to the
// layout. A drag moves a slider by the track's width for its whole range (left or up to raise
// it); a switch toggles on press; a second press within doubleClickSeconds on the same slider
// sets its default. The wheel moves by 2 % of the range, one step with Shift. Values go out
// snapped to the control's step, as normalised values that give exactly that value.
//
// A click on a slider's value text that does not drag (or a Ctrl+click on any control) opens a
// value entry there, its text selected. Enter parses it as the control's text (a number, with or
// without the unit; on or off for a switch), holds it to the range and sends it as one gesture of
// exactly that value; a text that does not parse is refused, changes nothing and stays to be
// corrected. Escape, a press elsewhere, the wheel or the loss of keyboard focus close it unsent.
class Interaction {
  public:
    static constexpr double doubleClickSeconds = 0.35;
    // How far the mouse may move while pressed and still be a click, in pixels.
    static constexpr float clickSlop = 3.0f;

    void press(float x, float y, Modifiers modifiers, double seconds, float scale,
               const ControlValues& current, EditSink& sink);
    void move(float x, float y, Modifiers modifiers, EditSink& sink);
    void release(EditSink& sink);
    void wheel(float x, float y, float notches, Modifiers modifiers, float scale,
               const ControlValues& current, EditSink& sink);

    // The keyboard, while an entry is open: whether the key or text was taken.
    bool key(Key key, EditSink& sink);
    bool type(std::string_view text);
    void focusLost() { closeEntry(); }
    bool wantsKeyboard() const { return editing.open(); }

    int activeControl() const { return dragging; }
    const ValueEntry& entry() const { return editing; }

  private:
    void anchor(float x, float y, Modifiers modifiers);
    void openEntry(int control, float value);
    void closeEntry() { editing = ValueEntry{}; }
    void commitEntry(EditSink& sink);

    int dragging = -1;
    float dragScale = 1.0f;
    float anchorX = 0.0f, anchorY = 0.0f;
    double anchorNormalised = 0.0;
    bool anchorFine = false;
    double lastSent = -1.0;
    int lastPressed = -1;
    double lastPressSeconds = -1.0;
    // A press on a slider's value text, which becomes the entry if the mouse does not move.
    bool pressOnValue = false;
    bool pressMoved = false;
    float pressX = 0.0f, pressY = 0.0f;
    float pressValue = 0.0f;
    ValueEntry editing;
};

// The control under a pixel position, or -1.
int controlAt(float x, float y, float scale);
// Whether a pixel position is on a control's value text (where its entry opens).
bool onValueText(int control, float x, float y, float scale);

// The normalised value of `value` snapped to the control's step.
double snappedNormalised(Control control, double normalised);

}  // namespace editor
