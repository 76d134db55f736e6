#include "editor/editor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace editor {
namespace {

constexpr Colour background{0.114f, 0.125f, 0.145f};
constexpr Colour panel{0.165f, 0.180f, 0.208f};
constexpr Colour panelEdge{0.260f, 0.280f, 0.320f};
constexpr Colour grid{0.300f, 0.320f, 0.360f};
constexpr Colour text{0.900f, 0.910f, 0.930f};
constexpr Colour dimText{0.620f, 0.650f, 0.700f};
constexpr Colour accent{0.310f, 0.765f, 0.690f};
constexpr Colour bar{0.353f, 0.663f, 0.902f};
constexpr Colour holdColour{0.941f, 0.753f, 0.251f};
constexpr Colour dnrColour{0.878f, 0.478f, 0.247f};
constexpr Colour dnr2Colour{0.827f, 0.373f, 0.718f};
constexpr Colour meterLow{0.298f, 0.741f, 0.369f};
constexpr Colour meterHigh{0.902f, 0.275f, 0.235f};
constexpr Colour warning{0.902f, 0.275f, 0.235f};

constexpr float pi = 3.14159265f;

// Drawing in design units: every coordinate and size is scaled on its way to the painter.
struct Pen {
    Painter& painter;
    float s;

    void fill(const Rect& r, Colour c) const { painter.fillRect(r.scaled(s), c); }
    void stroke(const Rect& r, float width, Colour c) const {
        painter.strokeRect(r.scaled(s), width * s, c);
    }
    void line(float x0, float y0, float x1, float y1, float width, Colour c) const {
        painter.line(x0 * s, y0 * s, x1 * s, y1 * s, width * s, c);
    }
    void write(const Rect& box, std::string_view words, float size, Align align, Colour c,
               bool bold = false) const {
        painter.text(box.scaled(s), words, size * s, align, bold, c);
    }
    void panelAt(const Rect& r) const {
        fill(r, panel);
        stroke(r, 1.0f, panelEdge);
    }
};

float axisX(const Rect& plot, float hz) {
    const float position = std::log(hz / axisLowHz) / std::log(axisHighHz / axisLowHz);
    return plot.x + plot.w * std::clamp(position, 0.0f, 1.0f);
}

// The fraction of a meter's reach a value stands at.
float reachFraction(const ControlRecord& record, float value) {
    return static_cast<float>(record.toNormalised(value));
}

void drawHeader(const Pen& pen, const Scene& scene) {
    const Rect& h = layout.header;
    pen.fill(h, panel);
    pen.line(h.x, h.bottom(), h.right(), h.bottom(), 1.0f, panelEdge);
    pen.write({h.x + 10, h.y, 300, h.h}, "Comb Stereo Processor", 14, Align::left, text, true);
    pen.write({h.right() - 310, h.y, 300, h.h}, scene.bypassed ? "BYPASSED" : "mono in, stereo out",
              12, Align::right, scene.bypassed ? warning : dimText, scene.bypassed);
}

// The value entry in place of a control's value text: a field, the text (on a highlight while it
// is all selected) and the caret; outlined in red after a refused Enter.
void drawEntry(const Pen& pen, const Rect& box, const ValueEntry& entry) {
    constexpr float size = 15;
    const Rect field{box.x - 3, box.y, box.w + 3, box.h};
    pen.fill(field, background);
    pen.stroke(field, 1.5f, entry.refused ? warning : accent);
    const std::string_view words = entry.view();
    const float width = pen.painter.textWidth(words, size * pen.s, true) / pen.s;
    if (entry.selected && !words.empty()) {
        pen.fill({box.x, box.y + 3, std::min(width, box.w), box.h - 6}, grid);
    }
    pen.write(box, words, size, Align::left, text, true);
    const float caret =
        pen.painter.textWidth(words.substr(0, static_cast<std::size_t>(entry.caret)), size * pen.s,
                              true) /
        pen.s;
    const float x = box.x + std::min(caret, box.w - 2) + 0.5f;
    pen.line(x, box.y + 3, x, box.bottom() - 3, 1.0f, text);
}

void drawControls(const Pen& pen, const Scene& scene) {
    for (std::size_t c = 0; c < controlCount; ++c) {
        const ControlCell& cell = layout.controls[c];
        const ControlRecord& record = controlRecords[c];
        const float value = scene.controls.values[c];
        const bool active = scene.activeControl == static_cast<int>(c);
        pen.panelAt(cell.cell);
        if (active) pen.stroke(cell.cell, 2.0f, accent);
        pen.write(cell.name, record.name, 11, Align::left, dimText);
        if (scene.entry.control == static_cast<int>(c)) {
            drawEntry(pen, cell.value, scene.entry);
        } else {
            char words[controlTextCapacity];
            const std::size_t length = record.format(value, words);
            pen.write(cell.value, {words, length}, 15, Align::left, text, true);
        }
        const Rect& track = cell.track;
        if (record.isSwitch()) {
            // A switch: a pill with its knob at the left (off) or the right (on).
            const bool on = value > 0.5f;
            const Rect pill{track.x, track.y - 3, 30, track.h + 6};
            pen.fill(pill, on ? accent : grid);
            const Rect knob{on ? pill.right() - pill.h : pill.x, pill.y, pill.h, pill.h};
            pen.fill(knob.inset(2), text);
        } else {
            pen.fill(track, grid);
            const float fraction = static_cast<float>(record.toNormalised(value));
            pen.fill({track.x, track.y, track.w * fraction, track.h}, active ? text : accent);
            const float knobX = track.x + track.w * fraction;
            pen.fill({knobX - 2, track.y - 3, 4, track.h + 6}, text);
        }
    }
}

void drawBands(const Pen& pen, const Scene& scene) {
    const Rect& area = layout.bands;
    const Rect& plot = layout.bandPlot;
    pen.panelAt(area);
    pen.write({area.x + 10, area.y + 4, 200, 18}, "Band separation", 12, Align::left, text, true);

    // Grid: separation 0, 0.5, 1, 1.5 over the meters' reach; a line per decade step.
    const ControlRecord& separation = recordOf(Meter::bandSeparation3);
    const float reach = separation.reach.maximum;
    for (float level = 0.0f; level <= reach + 1e-6f; level += 0.5f) {
        const float y = plot.bottom() - plot.h * level / reach;
        pen.line(plot.x, y, plot.right(), y, 1.0f, grid);
        char label[8];
        std::snprintf(label, sizeof label, "%.1f", static_cast<double>(level));
        pen.write({area.x + 4, y - 7, plot.x - area.x - 8, 14}, label, 10, Align::right, dimText);
    }
    constexpr float ticks[] = {200, 500, 1000, 2000, 5000, 10000, 20000};
    constexpr const char* tickNames[] = {"200", "500", "1k", "2k", "5k", "10k", "20k"};
    for (std::size_t t = 0; t < std::size(ticks); ++t) {
        const float x = axisX(plot, ticks[t]);
        pen.line(x, plot.y, x, plot.bottom(), 1.0f, grid);
        pen.write({x - 20, plot.bottom() + 4, 40, 14}, tickNames[t], 10, Align::centre, dimText);
    }
    pen.write({plot.right() - 40, plot.bottom() + 14, 40, 12}, "Hz", 10, Align::right, dimText);

    // A bar per separated band over its span, narrowed so that neighbours stay apart.
    for (std::size_t b = 0; b < separatedBandCount; ++b) {
        const BandRow& row = bandTable[b];
        const auto meter = static_cast<Meter>(row.bandNumber - 3);
        const ControlRecord& record = recordOf(meter);
        const float x0 = axisX(plot, row.lowEdge) + 2.0f;
        const float x1 = axisX(plot, std::min(row.highEdge, axisHighHz)) - 2.0f;
        const float height = plot.h * reachFraction(record, scene.audio.meters[meter]);
        pen.fill({x0, plot.bottom() - height, x1 - x0, height}, bar);
        const std::size_t m = static_cast<std::size_t>(meter);
        const float held = plot.h * reachFraction(record, scene.hold.values[m]);
        if (held >= 1.0f) {
            pen.line(x0, plot.bottom() - held, x1, plot.bottom() - held, 2.0f, holdColour);
        }
    }

    // The two noise-reduction cutoffs, each labelled on a row of its own above the plot.
    const Meter cutoffs[2] = {Meter::dnrBandwidth, Meter::dnr2Bandwidth};
    const Colour colours[2] = {dnrColour, dnr2Colour};
    const char* names[2] = {"DNR", "DNR2"};
    for (int k = 0; k < 2; ++k) {
        const ControlRecord& record = recordOf(cutoffs[k]);
        const float hz = scene.audio.meters[cutoffs[k]];
        const float x = axisX(plot, hz);
        for (float y = plot.y; y < plot.bottom(); y += 8.0f) {
            pen.line(x, y, x, std::min(y + 5.0f, plot.bottom()), 1.5f, colours[k]);
        }
        char value[controlTextCapacity];
        record.format(hz, value);
        char label[64];
        std::snprintf(label, sizeof label, "%s %s", names[k], value);
        const float labelY = area.y + 22 + 12 * static_cast<float>(k);
        const bool leftOfLine = x > plot.x + plot.w * 0.6f;
        const Rect box = leftOfLine ? Rect{x - 124, labelY, 120, 12} : Rect{x + 4, labelY, 120, 12};
        pen.write(box, label, 10, leftOfLine ? Align::right : Align::left, colours[k]);
    }
}

void drawGoniometer(const Pen& pen, const Scene& scene) {
    const Rect& area = layout.goniometer;
    pen.panelAt(area);
    const float cx = area.x + area.w / 2, cy = area.y + area.h / 2 + 6;
    const float radius = area.w * 0.42f;
    pen.painter.arc(cx * pen.s, cy * pen.s, radius * pen.s, 0.0f, 2 * pi, 1.0f * pen.s, grid);
    pen.line(cx, cy - radius, cx, cy + radius, 1.0f, grid);
    pen.line(cx - radius, cy, cx + radius, cy, 1.0f, grid);
    const float d = radius * 0.7071f;
    pen.line(cx - d, cy - d, cx + d, cy + d, 1.0f, grid);
    pen.line(cx + d, cy - d, cx - d, cy + d, 1.0f, grid);

    // Full scale reaches the circle at 1/sqrt 2 so that ordinary levels fill it.
    const float gain = radius * 1.4142f;
    pen.painter.clip(area.inset(1).scaled(pen.s));
    for (const GoniometerPoint& point : scene.audio.points) {
        const float x = cx - point.side * gain;
        const float y = cy - point.mid * gain;
        pen.painter.fillCircle(x * pen.s, y * pen.s, 1.3f * pen.s, accent);
    }
    pen.painter.unclip();
    // The labels last, so that no point covers them.
    pen.write({area.x + 8, area.y + 4, 40, 14}, "L", 11, Align::left, dimText, true);
    pen.write({area.right() - 48, area.y + 4, 40, 14}, "R", 11, Align::right, dimText, true);
    pen.write({cx - 20, area.y + 2, 40, 12}, "M", 10, Align::centre, dimText);
}

void drawCorrelation(const Pen& pen, const Scene& scene) {
    const Rect& area = layout.correlation;
    const Rect& track = layout.correlationBar;
    pen.panelAt(area);
    pen.write({area.x + 10, area.y + 3, 120, 16}, "Correlation", 11, Align::left, dimText);
    char value[16];
    std::snprintf(value, sizeof value, "%+.2f",
                  static_cast<double>(scene.audio.levels.correlation));
    pen.write({area.right() - 70, area.y + 3, 60, 16}, value, 12, Align::right, text, true);
    pen.fill(track, grid);
    const float middle = track.x + track.w / 2;
    const float at = middle + track.w / 2 * std::clamp(scene.audio.levels.correlation, -1.0f, 1.0f);
    const Colour colour = scene.audio.levels.correlation < 0.0f ? warning : accent;
    pen.fill({std::min(middle, at), track.y, std::fabs(at - middle), track.h}, colour);
    pen.line(middle, track.y - 2, middle, track.bottom() + 2, 1.0f, dimText);
    pen.write({track.x - 4, track.bottom() + 1, 20, 11}, "-1", 9, Align::left, dimText);
    pen.write({track.right() - 16, track.bottom() + 1, 20, 11}, "+1", 9, Align::left, dimText);
}

void drawStatus(const Pen& pen, const Scene& scene) {
    const Rect& area = layout.status;
    pen.panelAt(area);
    // The time only where the rate is known (an LV2 host need not say).
    char latency[64];
    const auto samples = static_cast<unsigned>(scene.audio.latencySamples);
    if (scene.audio.sampleRate > 0.0f) {
        const double ms = 1000.0 * samples / scene.audio.sampleRate;
        std::snprintf(latency, sizeof latency, "%u samples, %.1f ms", samples, ms);
    } else {
        std::snprintf(latency, sizeof latency, "%u samples", samples);
    }
    pen.write({area.x + 10, area.y + 4, 60, 16}, "Latency", 11, Align::left, dimText);
    pen.write({area.x + 70, area.y + 4, 120, 16}, latency, 11, Align::right, text);
    pen.write({area.x + 10, area.y + 24, 60, 16}, "Bypass", 11, Align::left, dimText);
    pen.write({area.x + 70, area.y + 24, 120, 16}, scene.bypassed ? "On" : "Off", 11, Align::right,
              scene.bypassed ? warning : text, scene.bypassed);
    pen.write({area.x + 10, area.y + 42, 180, 16}, "Meters show the output", 10, Align::left,
              dimText);
}

void drawLevels(const Pen& pen, const Scene& scene) {
    const Rect& area = layout.levels;
    pen.panelAt(area);
    pen.write({area.x + 8, area.y + 4, area.w - 16, 16}, "Output", 12, Align::left, text, true);
    const Rect& first = layout.levelBars[0];
    for (float db = 0.0f; db >= levelLowDb; db -= 12.0f) {
        const float y = first.y + first.h * (db / levelLowDb);
        char label[8];
        std::snprintf(label, sizeof label, "%.0f", static_cast<double>(db));
        pen.write({area.x + 2, y - 6, first.x - area.x - 6, 12}, label, 9, Align::right, dimText);
        pen.line(first.x - 3, y, layout.levelBars[1].right(), y, 1.0f, grid);
    }
    const char* sides[2] = {"L", "R"};
    for (int c = 0; c < 2; ++c) {
        const Rect& track = layout.levelBars[c];
        pen.fill(track, background);
        const auto height = [&](float db) {
            return track.h * std::clamp(1.0f - db / levelLowDb, 0.0f, 1.0f);
        };
        const float rms = height(scene.audio.levels.rmsDb[c]);
        const float peakDb = scene.audio.levels.peakDb[c];
        pen.fill({track.x, track.bottom() - rms, track.w, rms},
                 scene.audio.levels.rmsDb[c] > -6.0f ? meterHigh : meterLow);
        if (peakDb > levelLowDb) {
            const float y = track.bottom() - height(peakDb);
            pen.line(track.x, y, track.right(), y, 2.0f, peakDb > -0.5f ? meterHigh : holdColour);
        }
        pen.write({track.x - 4, track.bottom() + 2, track.w + 8, 14}, sides[c], 11, Align::centre,
                  dimText, true);
        char peak[16];
        if (peakDb > OutputMeter::floorDb) {
            std::snprintf(peak, sizeof peak, "%.1f", static_cast<double>(peakDb));
        } else {
            std::snprintf(peak, sizeof peak, "-inf");
        }
        pen.write({track.x - 10, track.bottom() + 16, track.w + 20, 14}, peak, 10, Align::centre,
                  text);
    }
    pen.write({area.x + 4, area.bottom() - 16, area.w - 8, 12}, "peak dBFS", 9, Align::centre,
              dimText);
}

}  // namespace

void SeparationHold::update(const MeterValues& meters) {
    const float fall = fallPerFrame * separationMaximum;
    for (std::size_t m = 0; m < separatedBandCount; ++m) {
        const float now = meters.values[m];
        if (now >= values[m]) {
            values[m] = now;
            age[m] = 0;
        } else if (age[m] < holdFrames) {
            ++age[m];
        } else {
            values[m] = std::max(now, values[m] - fall);
        }
    }
}

float scaleFor(float width, float height) {
    return std::max(minimumScale, std::min(width / designWidth, height / designHeight));
}

void drawEditor(const Scene& scene, Painter& painter, float width, float height, float scale) {
    painter.fillRect({0, 0, width, height}, background);
    const Pen pen{painter, scale};
    drawHeader(pen, scene);
    drawControls(pen, scene);
    drawBands(pen, scene);
    drawGoniometer(pen, scene);
    drawCorrelation(pen, scene);
    drawStatus(pen, scene);
    drawLevels(pen, scene);
}

// ---- input -------------------------------------------------------------------------------------

int controlAt(float x, float y, float scale) {
    for (std::size_t c = 0; c < controlCount; ++c) {
        if (layout.controls[c].cell.scaled(scale).contains(x, y)) return static_cast<int>(c);
    }
    return -1;
}

bool onValueText(int control, float x, float y, float scale) {
    if (control < 0 || control >= static_cast<int>(controlCount)) return false;
    return layout.controls[static_cast<std::size_t>(control)].value.scaled(scale).contains(x, y);
}

double snappedNormalised(Control control, double normalised) {
    const ControlRecord& record = recordOf(control);
    const float value = record.fromNormalised(std::clamp(normalised, 0.0, 1.0));
    const float step = record.range.step;
    const float snapped = step > 0.0f ? record.range.minimum +
                                            step * std::round((value - record.range.minimum) / step)
                                      : value;
    return record.normalisedFor(snapped);
}

void Interaction::anchor(float x, float y, Modifiers modifiers) {
    anchorX = x;
    anchorY = y;
    anchorNormalised = lastSent;
    anchorFine = modifiers.fine;
}

void Interaction::press(float x, float y, Modifiers modifiers, double seconds, float scale,
                        const ControlValues& current, EditSink& sink) {
    if (dragging >= 0) release(sink);
    const int c = controlAt(x, y, scale);
    const bool second = c >= 0 && c == lastPressed && seconds - lastPressSeconds >= 0.0 &&
                        seconds - lastPressSeconds < doubleClickSeconds;
    // A press inside the open entry leaves it to be typed on (and starts no double-click); the
    // second press of a double-click, or any press elsewhere, closes it.
    if (editing.open()) {
        if (!second && c == editing.control && onValueText(c, x, y, scale)) {
            lastPressed = -1;
            return;
        }
        closeEntry();
    }
    lastPressed = c;
    lastPressSeconds = second ? -1.0 : seconds;
    if (c < 0) return;
    const auto control = static_cast<Control>(c);
    const ControlRecord& record = recordOf(control);
    const float value = current.values[static_cast<std::size_t>(c)];
    if (modifiers.command && !second) {
        openEntry(c, value);
        return;
    }
    if (record.isSwitch()) {
        sink.beginEdit(control);
        sink.performEdit(control, value > 0.5f ? 0.0 : 1.0);
        sink.endEdit(control);
        return;
    }
    if (second) {
        sink.beginEdit(control);
        sink.performEdit(control, record.normalisedFor(record.range.initial));
        sink.endEdit(control);
        return;
    }
    dragging = c;
    dragScale = scale;
    lastSent = record.toNormalised(value);
    anchor(x, y, modifiers);
    pressOnValue = onValueText(c, x, y, scale);
    pressMoved = false;
    pressX = x;
    pressY = y;
    pressValue = value;
    sink.beginEdit(control);
}

void Interaction::move(float x, float y, Modifiers modifiers, EditSink& sink) {
    if (dragging < 0) return;
    if (std::fabs(x - pressX) > clickSlop || std::fabs(y - pressY) > clickSlop) pressMoved = true;
    // On the value text a press is a click until the mouse leaves the slop: a hand's tremble
    // must not change the value it is about to type.
    if (pressOnValue && !pressMoved) return;
    // Changing speed mid-drag starts from where the control stands, so that nothing jumps.
    if (modifiers.fine != anchorFine) anchor(x, y, modifiers);
    const float width = layout.controls[static_cast<std::size_t>(dragging)].track.w * dragScale;
    const double speed = modifiers.fine ? 0.1 : 1.0;
    const double moved = ((x - anchorX) - (y - anchorY)) / width * speed;
    const auto control = static_cast<Control>(dragging);
    const double normalised = snappedNormalised(control, anchorNormalised + moved);
    if (normalised == lastSent) return;
    lastSent = normalised;
    sink.performEdit(control, normalised);
}

void Interaction::release(EditSink& sink) {
    if (dragging < 0) return;
    sink.endEdit(static_cast<Control>(dragging));
    // A click on the value text, not a drag: the value is to be typed.
    if (pressOnValue && !pressMoved) openEntry(dragging, pressValue);
    pressOnValue = false;
    dragging = -1;
}

void Interaction::wheel(float x, float y, float notches, Modifiers modifiers, float scale,
                        const ControlValues& current, EditSink& sink) {
    closeEntry();
    const int c = controlAt(x, y, scale);
    if (c < 0 || notches == 0.0f) return;
    const auto control = static_cast<Control>(c);
    const ControlRecord& record = recordOf(control);
    const float value = current.values[static_cast<std::size_t>(c)];
    double normalised;
    if (record.isSwitch()) {
        normalised = notches > 0.0f ? 1.0 : 0.0;
    } else {
        const float span = record.range.maximum - record.range.minimum;
        const float step =
            modifiers.fine ? record.range.step : std::max(record.range.step, 0.02f * span);
        normalised = snappedNormalised(control, record.toNormalised(value + notches * step));
    }
    if (normalised == record.toNormalised(value)) return;
    sink.beginEdit(control);
    sink.performEdit(control, normalised);
    sink.endEdit(control);
}

// ---- the value entry ---------------------------------------------------------------------------

void Interaction::openEntry(int control, float value) {
    editing = ValueEntry{};
    editing.control = control;
    char words[controlTextCapacity];
    const std::size_t length =
        std::min(controlRecords[static_cast<std::size_t>(control)].format(value, words),
                 ValueEntry::capacity);
    std::copy(words, words + length, editing.text.begin());
    editing.length = static_cast<int>(length);
    editing.caret = editing.length;
    editing.selected = true;
}

void Interaction::commitEntry(EditSink& sink) {
    const auto control = static_cast<Control>(editing.control);
    const ControlRecord& record = recordOf(control);
    const std::optional<float> typed = record.parse(editing.view());
    if (!typed) {
        editing.refused = true;
        return;
    }
    closeEntry();
    sink.beginEdit(control);
    sink.performEdit(control, record.normalisedFor(record.range.held(*typed)));
    sink.endEdit(control);
}

bool Interaction::key(Key pressed, EditSink& sink) {
    if (!editing.open()) return false;
    lastPressed = -1;  // typing between two clicks makes them no double-click
    ValueEntry& e = editing;
    // With everything selected, a key that edits takes the whole text; one that moves drops the
    // selection and moves from its end.
    if (e.selected && (pressed == Key::backspace || pressed == Key::del)) {
        e.length = e.caret = 0;
        e.selected = e.refused = false;
        return true;
    }
    switch (pressed) {
        case Key::enter:
            commitEntry(sink);
            return true;
        case Key::escape:
            closeEntry();
            return true;
        case Key::backspace:
            if (e.caret > 0) {
                std::copy(e.text.begin() + e.caret, e.text.begin() + e.length,
                          e.text.begin() + e.caret - 1);
                --e.caret;
                --e.length;
            }
            break;
        case Key::del:
            if (e.caret < e.length) {
                std::copy(e.text.begin() + e.caret + 1, e.text.begin() + e.length,
                          e.text.begin() + e.caret);
                --e.length;
            }
            break;
        case Key::left:
            if (!e.selected && e.caret > 0) --e.caret;
            break;
        case Key::right:
            if (!e.selected && e.caret < e.length) ++e.caret;
            break;
        case Key::home:
            e.caret = 0;
            break;
        case Key::end:
            e.caret = e.length;
            break;
    }
    e.selected = false;
    e.refused = false;
    return true;
}

bool Interaction::type(std::string_view typed) {
    if (!editing.open()) return false;
    lastPressed = -1;
    ValueEntry& e = editing;
    for (const char c : typed) {
        // The texts controls take are ASCII; anything else is not a value.
        if (c < ' ' || c > '~') continue;
        if (e.selected) {
            e.length = e.caret = 0;
            e.selected = false;
        }
        if (e.length >= static_cast<int>(ValueEntry::capacity)) break;
        std::copy_backward(e.text.begin() + e.caret, e.text.begin() + e.length,
                           e.text.begin() + e.length + 1);
        e.text[static_cast<std::size_t>(e.caret)] = c;
        ++e.caret;
        ++e.length;
        e.refused = false;
    }
    return true;
}

}  // namespace editor
