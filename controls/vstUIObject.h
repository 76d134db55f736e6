// The control objects of a collector's table: each one drives one 32-bit float field of a
// processor and converts between the host's normalised values, control values and display texts.
#pragma once

#include <cstddef>
#include <string>

// Display texts are kept to the length every VST 2.4 host is guaranteed to accept for a parameter
// display; the hosts' buffers are larger, but their exact size is never announced. The longest
// display of this product's controls ("22000") is well inside it.
inline constexpr std::size_t kDisplayTextLength = 8;

// Number of decimals a slider shows for its step: 0 for whole steps, otherwise the count of
// decimal shifts that make the step whole, at most 6. A step that is not finite counts as whole.
int decimals(float step);

class vstUIObject {
  public:
    vstUIObject(const char* label, float* target);
    virtual ~vstUIObject() = default;
    vstUIObject(const vstUIObject&) = delete;
    vstUIObject& operator=(const vstUIObject&) = delete;

    // Writes the whole label and its NUL.
    virtual void copyName(char* buffer) const;
    virtual void setNormalized(double x);
    virtual void setPlain(double x);
    virtual float getNormalized() const;
    virtual float getPlain() const;
    // Writes at most kDisplayTextLength characters and a NUL.
    virtual void formatValue(char* buffer) const;
    // Sum of the label's characters read as signed 8-bit values.
    virtual int labelSum() const;

    const std::string label;
    float* const target;
};

class vstSlider : public vstUIObject {
  public:
    vstSlider(const char* label, float* target, float initial, float minimum, float maximum,
              float step);

    void setNormalized(double x) override;
    void setPlain(double x) override;
    float getNormalized() const override;
    void formatValue(char* buffer) const override;

    const float initial;
    const float minimum;
    const float maximum;
    const float step;
    const int decimals;
};

// A momentary button: on above 0.5. The host's value is compared in double, unconverted.
// `setPlain` keeps the base behaviour and stores any value in 0..1 without snapping.
class vstButton : public vstUIObject {
  public:
    using vstUIObject::vstUIObject;

    void setNormalized(double x) override;
    void formatValue(char* buffer) const override;
};

// A latching switch; it converts and displays exactly like vstButton and differs only in the
// roles its label may take in a collector.
class vstCheckButton : public vstUIObject {
  public:
    using vstUIObject::vstUIObject;

    void setNormalized(double x) override;
    void formatValue(char* buffer) const override;
};
