#include "editor/embedded_view.h"

#include <algorithm>
#include <cmath>

namespace editor {

int designPixels(float units, float scale) {
    return static_cast<int>(std::lround(units * scale));
}

PixelSize sizeForWidth(int width) {
    const int w = std::max(designPixels(designWidth, minimumScale), width);
    return {w, designPixels(designHeight * static_cast<float>(w) / designWidth, 1.0f)};
}

PixelSize sizeWithin(int width, int height) {
    const auto widest = static_cast<int>(static_cast<float>(height) * designWidth / designHeight);
    return sizeForWidth(std::min(width, widest));
}

#if ZELKO_EDITOR_HAS_WINDOW

EmbeddedView::EmbeddedView(ViewSource& owner)
    : source(owner),
      window(*this),
      width(designPixels(designWidth, 1.0f)),
      height(designPixels(designHeight, 1.0f)) {}

EmbeddedView::~EmbeddedView() {
    close();
}

bool EmbeddedView::open(Parent parent) {
    close();
#if defined(__linux__)
    if (!window.open(parent, width, height)) return false;
#else
    if (!window.open(parent, width, height, frameMilliseconds)) return false;
#endif
    if (!visible) window.setVisible(false);
    refreshScene();
    window.redraw();
    return true;
}

void EmbeddedView::close() {
    if (interaction.activeControl() >= 0) interaction.release(*this);
    interaction.focusLost();
    window.close();
}

void EmbeddedView::setSize(PixelSize size) {
    width = std::max(1, size.width);
    height = std::max(1, size.height);
    window.resize(width, height);
}

void EmbeddedView::setVisible(bool shown) {
    visible = shown;
    window.setVisible(shown);
    if (shown && window.isOpen()) {
        refreshScene();
        window.redraw();
    }
}

void EmbeddedView::nextFrame() {
    if (!window.isOpen() || !visible) return;
    scene.hold.update(source.latestSnapshot().meters);
    if (refreshScene()) window.redraw();
}

bool EmbeddedView::refreshScene() {
    Scene next = scene;
    next.audio = source.latestSnapshot();
    next.controls = source.shownControls();
    next.bypassed = source.shownBypass();
    next.activeControl = interaction.activeControl();
    next.entry = interaction.entry();
    const bool changed = !(next == drawn);
    scene = next;
    return changed;
}

float EmbeddedView::scale() const {
    return scaleFor(static_cast<float>(width), static_cast<float>(height));
}

void EmbeddedView::paint(Painter& painter, int w, int h) {
    drawEditor(scene, painter, static_cast<float>(w), static_cast<float>(h),
               scaleFor(static_cast<float>(w), static_cast<float>(h)));
    drawn = scene;
}

void EmbeddedView::mousePress(float x, float y, Modifiers modifiers, double seconds) {
    interaction.press(x, y, modifiers, seconds, scale(), source.shownControls(), *this);
    afterInput();
}

void EmbeddedView::mouseMove(float x, float y, Modifiers modifiers) {
    interaction.move(x, y, modifiers, *this);
    afterInput();
}

void EmbeddedView::mouseRelease() {
    interaction.release(*this);
    afterInput();
}

void EmbeddedView::mouseWheel(float x, float y, float notches, Modifiers modifiers) {
    interaction.wheel(x, y, notches, modifiers, scale(), source.shownControls(), *this);
    afterInput();
}

void EmbeddedView::keyPressed(Key key) {
    interaction.key(key, *this);
    afterInput();
}

void EmbeddedView::textTyped(std::string_view text) {
    interaction.type(text);
    afterInput();
}

void EmbeddedView::focusLost() {
    interaction.focusLost();
    afterInput();
}

// An edit shows at once, not at the next frame.
void EmbeddedView::afterInput() {
    if (window.isOpen() && refreshScene()) window.redraw();
}

#endif

}  // namespace editor
