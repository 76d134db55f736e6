// The processor interface and the control-description interface.
//
// A processor is reached only through `dsp`. It describes its controls to a receiver through
// `UIReal<float>`: the processor calls, the receiver (a control collector) records.
#pragma once

class metadataTable;

template <typename REAL>
class UIReal {
  public:
    virtual ~UIReal() = default;

    // Groups only arrange a user interface; a receiver that draws none ignores them.
    virtual void openTabGroup(const char*) {}
    virtual void openHorizontalGroup(const char*) {}
    virtual void openVerticalGroup(const char*) {}
    virtual void closeGroup() {}

    virtual void addButtonControl(const char* label, REAL* value) = 0;
    virtual void addCheckButtonControl(const char* label, REAL* value) = 0;
    virtual void addVerticalSliderControl(const char* label, REAL* value, REAL initial,
                                          REAL minimum, REAL maximum, REAL step) = 0;
    virtual void addHorizontalSliderControl(const char* label, REAL* value, REAL initial,
                                            REAL minimum, REAL maximum, REAL step) = 0;
    virtual void addNumberEntryControl(const char* label, REAL* value, REAL initial, REAL minimum,
                                       REAL maximum, REAL step) = 0;

    virtual void addHorizontalMeter(const char* label, REAL* value, REAL minimum, REAL maximum) = 0;
    virtual void addVerticalMeter(const char* label, REAL* value, REAL minimum, REAL maximum) = 0;

    // Declares a sound-file input; this product's processor never calls it.
    virtual void addSoundFile(const char*, const char*) {}

    // Attaches one property to the control that `value` belongs to; called before that control
    // is added.
    virtual void declareProperty(REAL* value, const char* key, const char* text) = 0;

    virtual int sampleWidth() { return static_cast<int>(sizeof(REAL)); }
};

class dsp {
  public:
    virtual ~dsp() = default;

    virtual int inputCount() = 0;
    virtual int outputCount() = 0;
    virtual void declareControls(UIReal<float>* receiver) = 0;
    virtual int sampleRate() = 0;
    virtual void initialize(int sampleRate) = 0;
    virtual void initializeInstance(int sampleRate) = 0;
    virtual void computeConstants(int sampleRate) = 0;
    virtual void resetControls() = 0;
    virtual void clearState() = 0;
    // A new processor of the same kind, constructed only: the caller owns and initialises it.
    virtual dsp* duplicate() = 0;
    virtual void declareMetadata(metadataTable* table) = 0;
    virtual void process(int count, float** inputs, float** outputs) = 0;
    virtual void processAt(double timeStamp, int count, float** inputs, float** outputs) = 0;
};
