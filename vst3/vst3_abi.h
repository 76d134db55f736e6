// The VST 3 interfaces and records this plug-in uses, declared from their published definitions
// (interface IDs, method order, record layouts, enumerators and result codes). Only what the
// plug-in and its tests touch is declared; every record's size and field offsets are pinned below,
// so that a layout mistake fails the build instead of a host.
//
// Two things differ between platforms. On Windows the interfaces are COM-compatible: the result
// codes are the COM HRESULTs, an interface ID is stored as a GUID (its first three fields
// little-endian) and the methods use the stdcall convention (which x64 ignores; the macro is kept
// for the declarations' sake). Elsewhere the result codes are small integers and an ID is stored
// big-endian, as written.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ZELKO_VST3_API __stdcall
#else
#define ZELKO_VST3_API
#endif

namespace vst3 {

using int8 = std::int8_t;
using int16 = std::int16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using tresult = std::int32_t;
using TBool = std::uint8_t;
using char8 = char;
using char16 = char16_t;
using TChar = char16;
using String128 = TChar[128];
using FIDString = const char8*;
using TUID = char[16];

using MediaType = int32;
using BusDirection = int32;
using BusType = int32;
using IoMode = int32;
using UnitID = int32;
using ParamValue = double;
using ParamID = uint32;
using Sample32 = float;
using Sample64 = double;
using SampleRate = double;
using SpeakerArrangement = uint64;

#if defined(_WIN32)
inline constexpr tresult kNoInterface = static_cast<tresult>(0x80004002L);
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057L);
inline constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001L);
inline constexpr tresult kInternalError = static_cast<tresult>(0x80004005L);
inline constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFL);
inline constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000EL);
#else
inline constexpr tresult kNoInterface = -1;
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = 2;
inline constexpr tresult kNotImplemented = 3;
inline constexpr tresult kInternalError = 4;
inline constexpr tresult kNotInitialized = 5;
inline constexpr tresult kOutOfMemory = 6;
#endif
inline constexpr tresult kResultTrue = kResultOk;

// A 16-byte ID from its four 32-bit words as written in the definitions.
struct Uid {
    char bytes[16];
};

constexpr Uid makeUid(uint32 l1, uint32 l2, uint32 l3, uint32 l4) {
    auto byte = [](uint32 word, int shift) { return static_cast<char>((word >> shift) & 0xFF); };
#if defined(_WIN32)
    return {{byte(l1, 0), byte(l1, 8), byte(l1, 16), byte(l1, 24), byte(l2, 16), byte(l2, 24),
             byte(l2, 0), byte(l2, 8), byte(l3, 24), byte(l3, 16), byte(l3, 8), byte(l3, 0),
             byte(l4, 24), byte(l4, 16), byte(l4, 8), byte(l4, 0)}};
#else
    return {{byte(l1, 24), byte(l1, 16), byte(l1, 8), byte(l1, 0), byte(l2, 24), byte(l2, 16),
             byte(l2, 8), byte(l2, 0), byte(l3, 24), byte(l3, 16), byte(l3, 8), byte(l3, 0),
             byte(l4, 24), byte(l4, 16), byte(l4, 8), byte(l4, 0)}};
#endif
}

inline bool sameUid(const void* a, const Uid& b) {
    const char* bytes = static_cast<const char*>(a);
    for (int i = 0; i < 16; ++i) {
        if (bytes[i] != b.bytes[i]) return false;
    }
    return true;
}

// ---- base interfaces ----------------------------------------------------------------------------

class FUnknown {
  public:
    virtual tresult ZELKO_VST3_API queryInterface(const TUID iid, void** object) = 0;
    virtual uint32 ZELKO_VST3_API addRef() = 0;
    virtual uint32 ZELKO_VST3_API release() = 0;
    static constexpr Uid iid = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
};

class IBStream : public FUnknown {
  public:
    enum SeekMode : int32 { kIBSeekSet = 0, kIBSeekCur, kIBSeekEnd };
    virtual tresult ZELKO_VST3_API read(void* buffer, int32 numBytes, int32* numBytesRead) = 0;
    virtual tresult ZELKO_VST3_API write(void* buffer, int32 numBytes, int32* numBytesWritten) = 0;
    virtual tresult ZELKO_VST3_API seek(int64 pos, int32 mode, int64* result) = 0;
    virtual tresult ZELKO_VST3_API tell(int64* pos) = 0;
    static constexpr Uid iid = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
};

class IPluginBase : public FUnknown {
  public:
    virtual tresult ZELKO_VST3_API initialize(FUnknown* context) = 0;
    virtual tresult ZELKO_VST3_API terminate() = 0;
    static constexpr Uid iid = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
};

struct PFactoryInfo {
    enum FactoryFlags : int32 {
        kNoFlags = 0,
        kClassesDiscardable = 1 << 0,
        kLicenseCheck = 1 << 1,
        kComponentNonDiscardable = 1 << 3,
        kUnicode = 1 << 4
    };
    enum { kURLSize = 256, kEmailSize = 128, kNameSize = 64 };
    char8 vendor[kNameSize];
    char8 url[kURLSize];
    char8 email[kEmailSize];
    int32 flags;
};

struct PClassInfo {
    enum { kManyInstances = 0x7FFFFFFF };
    enum { kCategorySize = 32, kNameSize = 64 };
    TUID cid;
    int32 cardinality;
    char8 category[kCategorySize];
    char8 name[kNameSize];
};

struct PClassInfo2 {
    enum { kVendorSize = 64, kVersionSize = 64, kSubCategoriesSize = 128 };
    TUID cid;
    int32 cardinality;
    char8 category[PClassInfo::kCategorySize];
    char8 name[PClassInfo::kNameSize];
    uint32 classFlags;
    char8 subCategories[kSubCategoriesSize];
    char8 vendor[kVendorSize];
    char8 version[kVersionSize];
    char8 sdkVersion[kVersionSize];
};

struct PClassInfoW {
    enum { kVendorSize = 64, kVersionSize = 64, kSubCategoriesSize = 128 };
    TUID cid;
    int32 cardinality;
    char8 category[PClassInfo::kCategorySize];
    char16 name[PClassInfo::kNameSize];
    uint32 classFlags;
    char8 subCategories[kSubCategoriesSize];
    char16 vendor[kVendorSize];
    char16 version[kVersionSize];
    char16 sdkVersion[kVersionSize];
};

class IPluginFactory : public FUnknown {
  public:
    virtual tresult ZELKO_VST3_API getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32 ZELKO_VST3_API countClasses() = 0;
    virtual tresult ZELKO_VST3_API getClassInfo(int32 index, PClassInfo* info) = 0;
    virtual tresult ZELKO_VST3_API createInstance(FIDString cid, FIDString iid, void** object) = 0;
    static constexpr Uid iid = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
};

class IPluginFactory2 : public IPluginFactory {
  public:
    virtual tresult ZELKO_VST3_API getClassInfo2(int32 index, PClassInfo2* info) = 0;
    static constexpr Uid iid = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
};

class IPluginFactory3 : public IPluginFactory2 {
  public:
    virtual tresult ZELKO_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) = 0;
    virtual tresult ZELKO_VST3_API setHostContext(FUnknown* context) = 0;
    static constexpr Uid iid = makeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
};

// ---- components and processing -----------------------------------------------------------------

enum MediaTypes : int32 { kAudio = 0, kEvent, kNumMediaTypes };
enum BusDirections : int32 { kInput = 0, kOutput };
enum BusTypes : int32 { kMain = 0, kAux };
enum IoModes : int32 { kSimple = 0, kAdvanced, kOfflineProcessing };
enum SymbolicSampleSizes : int32 { kSample32 = 0, kSample64 };
enum ProcessModes : int32 { kRealtime = 0, kPrefetch, kOffline };
enum ComponentFlags : uint32 { kDistributable = 1 << 0, kSimpleModeSupported = 1 << 1 };

inline constexpr SpeakerArrangement kSpeakerL = 1 << 0;
inline constexpr SpeakerArrangement kSpeakerR = 1 << 1;
inline constexpr SpeakerArrangement kSpeakerM = 1 << 19;
inline constexpr SpeakerArrangement kArrangementMono = kSpeakerM;
inline constexpr SpeakerArrangement kArrangementStereo = kSpeakerL | kSpeakerR;

inline constexpr uint32 kNoTail = 0;
inline constexpr uint32 kInfiniteTail = 0xFFFFFFFF;

struct BusInfo {
    enum BusFlags : uint32 { kDefaultActive = 1 << 0, kIsControlVoltage = 1 << 1 };
    MediaType mediaType;
    BusDirection direction;
    int32 channelCount;
    String128 name;
    BusType busType;
    uint32 flags;
};

struct RoutingInfo {
    MediaType mediaType;
    int32 busIndex;
    int32 channel;
};

class IComponent : public IPluginBase {
  public:
    virtual tresult ZELKO_VST3_API getControllerClassId(TUID classId) = 0;
    virtual tresult ZELKO_VST3_API setIoMode(IoMode mode) = 0;
    virtual int32 ZELKO_VST3_API getBusCount(MediaType type, BusDirection dir) = 0;
    virtual tresult ZELKO_VST3_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                              BusInfo& bus) = 0;
    virtual tresult ZELKO_VST3_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) = 0;
    virtual tresult ZELKO_VST3_API activateBus(MediaType type, BusDirection dir, int32 index,
                                               TBool state) = 0;
    virtual tresult ZELKO_VST3_API setActive(TBool state) = 0;
    virtual tresult ZELKO_VST3_API setState(IBStream* state) = 0;
    virtual tresult ZELKO_VST3_API getState(IBStream* state) = 0;
    static constexpr Uid iid = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
};

class IParamValueQueue : public FUnknown {
  public:
    virtual ParamID ZELKO_VST3_API getParameterId() = 0;
    virtual int32 ZELKO_VST3_API getPointCount() = 0;
    virtual tresult ZELKO_VST3_API getPoint(int32 index, int32& sampleOffset,
                                            ParamValue& value) = 0;
    virtual tresult ZELKO_VST3_API addPoint(int32 sampleOffset, ParamValue value, int32& index) = 0;
    static constexpr Uid iid = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
};

class IParameterChanges : public FUnknown {
  public:
    virtual int32 ZELKO_VST3_API getParameterCount() = 0;
    virtual IParamValueQueue* ZELKO_VST3_API getParameterData(int32 index) = 0;
    virtual IParamValueQueue* ZELKO_VST3_API addParameterData(const ParamID& id, int32& index) = 0;
    static constexpr Uid iid = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
};

class IEventList;
struct ProcessContext;

struct ProcessSetup {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 maxSamplesPerBlock;
    SampleRate sampleRate;
};

struct AudioBusBuffers {
    int32 numChannels;
    uint64 silenceFlags;
    union {
        Sample32** channelBuffers32;
        Sample64** channelBuffers64;
    };
};

struct ProcessData {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 numSamples;
    int32 numInputs;
    int32 numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    IEventList* inputEvents;
    IEventList* outputEvents;
    ProcessContext* processContext;
};

class IAudioProcessor : public FUnknown {
  public:
    virtual tresult ZELKO_VST3_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                      SpeakerArrangement* outputs,
                                                      int32 numOuts) = 0;
    virtual tresult ZELKO_VST3_API getBusArrangement(BusDirection dir, int32 index,
                                                     SpeakerArrangement& arrangement) = 0;
    virtual tresult ZELKO_VST3_API canProcessSampleSize(int32 symbolicSampleSize) = 0;
    virtual uint32 ZELKO_VST3_API getLatencySamples() = 0;
    virtual tresult ZELKO_VST3_API setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult ZELKO_VST3_API setProcessing(TBool state) = 0;
    virtual tresult ZELKO_VST3_API process(ProcessData& data) = 0;
    virtual uint32 ZELKO_VST3_API getTailSamples() = 0;
    static constexpr Uid iid = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
};

class IProcessContextRequirements : public FUnknown {
  public:
    virtual uint32 ZELKO_VST3_API getProcessContextRequirements() = 0;
    static constexpr Uid iid = makeUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
};

// ---- the edit controller ------------------------------------------------------------------------

struct ParameterInfo {
    enum ParameterFlags : int32 {
        kNoFlags = 0,
        kCanAutomate = 1 << 0,
        kIsReadOnly = 1 << 1,
        kIsWrapAround = 1 << 2,
        kIsList = 1 << 3,
        kIsHidden = 1 << 4,
        kIsProgramChange = 1 << 15,
        kIsBypass = 1 << 16
    };
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32 stepCount;
    ParamValue defaultNormalizedValue;
    UnitID unitId;
    int32 flags;
};

inline constexpr UnitID kRootUnitId = 0;

class IComponentHandler : public FUnknown {
  public:
    virtual tresult ZELKO_VST3_API beginEdit(ParamID id) = 0;
    virtual tresult ZELKO_VST3_API performEdit(ParamID id, ParamValue valueNormalized) = 0;
    virtual tresult ZELKO_VST3_API endEdit(ParamID id) = 0;
    virtual tresult ZELKO_VST3_API restartComponent(int32 flags) = 0;
    static constexpr Uid iid = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
};

class IPlugView;

class IEditController : public IPluginBase {
  public:
    virtual tresult ZELKO_VST3_API setComponentState(IBStream* state) = 0;
    virtual tresult ZELKO_VST3_API setState(IBStream* state) = 0;
    virtual tresult ZELKO_VST3_API getState(IBStream* state) = 0;
    virtual int32 ZELKO_VST3_API getParameterCount() = 0;
    virtual tresult ZELKO_VST3_API getParameterInfo(int32 paramIndex, ParameterInfo& info) = 0;
    virtual tresult ZELKO_VST3_API getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                         String128 string) = 0;
    virtual tresult ZELKO_VST3_API getParamValueByString(ParamID id, TChar* string,
                                                         ParamValue& valueNormalized) = 0;
    virtual ParamValue ZELKO_VST3_API normalizedParamToPlain(ParamID id,
                                                             ParamValue valueNormalized) = 0;
    virtual ParamValue ZELKO_VST3_API plainParamToNormalized(ParamID id, ParamValue plainValue) = 0;
    virtual ParamValue ZELKO_VST3_API getParamNormalized(ParamID id) = 0;
    virtual tresult ZELKO_VST3_API setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult ZELKO_VST3_API setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* ZELKO_VST3_API createView(FIDString name) = 0;
    static constexpr Uid iid = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
};

// ---- the editor's view -------------------------------------------------------------------------

struct ViewRect {
    int32 left;
    int32 top;
    int32 right;
    int32 bottom;
};

inline constexpr FIDString kPlatformTypeHWND = "HWND";
inline constexpr FIDString kPlatformTypeX11EmbedWindowID = "X11EmbedWindowID";
// The name the host asks createView for.
inline constexpr FIDString kEditorViewName = "editor";

class IPlugFrame;

class IPlugView : public FUnknown {
  public:
    virtual tresult ZELKO_VST3_API isPlatformTypeSupported(FIDString type) = 0;
    virtual tresult ZELKO_VST3_API attached(void* parent, FIDString type) = 0;
    virtual tresult ZELKO_VST3_API removed() = 0;
    virtual tresult ZELKO_VST3_API onWheel(float distance) = 0;
    virtual tresult ZELKO_VST3_API onKeyDown(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult ZELKO_VST3_API onKeyUp(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult ZELKO_VST3_API getSize(ViewRect* size) = 0;
    virtual tresult ZELKO_VST3_API onSize(ViewRect* newSize) = 0;
    virtual tresult ZELKO_VST3_API onFocus(TBool state) = 0;
    virtual tresult ZELKO_VST3_API setFrame(IPlugFrame* frame) = 0;
    virtual tresult ZELKO_VST3_API canResize() = 0;
    virtual tresult ZELKO_VST3_API checkSizeConstraint(ViewRect* rect) = 0;
    static constexpr Uid iid = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
};

class IPlugFrame : public FUnknown {
  public:
    virtual tresult ZELKO_VST3_API resizeView(IPlugView* view, ViewRect* newSize) = 0;
    static constexpr Uid iid = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
};

class IPlugViewContentScaleSupport : public FUnknown {
  public:
    using ScaleFactor = float;
    virtual tresult ZELKO_VST3_API setContentScaleFactor(ScaleFactor factor) = 0;
    static constexpr Uid iid = makeUid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
};

// The host's run loop on Linux, which the frame offers: the plug-in's file descriptors and timers
// are served by the host's own thread, as there is no system-wide event loop to join.
namespace Linux {

using TimerInterval = uint64;
using FileDescriptor = int;

class IEventHandler : public FUnknown {
  public:
    virtual void ZELKO_VST3_API onFDIsSet(FileDescriptor fd) = 0;
    static constexpr Uid iid = makeUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
};

class ITimerHandler : public FUnknown {
  public:
    virtual void ZELKO_VST3_API onTimer() = 0;
    static constexpr Uid iid = makeUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);
};

class IRunLoop : public FUnknown {
  public:
    virtual tresult ZELKO_VST3_API registerEventHandler(IEventHandler* handler,
                                                        FileDescriptor fd) = 0;
    virtual tresult ZELKO_VST3_API unregisterEventHandler(IEventHandler* handler) = 0;
    virtual tresult ZELKO_VST3_API registerTimer(ITimerHandler* handler,
                                                 TimerInterval milliseconds) = 0;
    virtual tresult ZELKO_VST3_API unregisterTimer(ITimerHandler* handler) = 0;
    static constexpr Uid iid = makeUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
};

}  // namespace Linux

// The module's entry, and its platform hooks.
using GetFactoryProc = IPluginFactory*(ZELKO_VST3_API*)();

// ---- layouts ------------------------------------------------------------------------------------
// The definitions pack records to 8 or 16 bytes, which on x86-64 is each field's natural alignment:
// the records below have their natural layout on both platforms.

static_assert(sizeof(Uid) == 16);
static_assert(sizeof(char16) == 2);

static_assert(sizeof(PFactoryInfo) == 452);
static_assert(offsetof(PFactoryInfo, url) == 64);
static_assert(offsetof(PFactoryInfo, email) == 320);
static_assert(offsetof(PFactoryInfo, flags) == 448);

static_assert(sizeof(PClassInfo) == 116);
static_assert(offsetof(PClassInfo, cardinality) == 16);
static_assert(offsetof(PClassInfo, category) == 20);
static_assert(offsetof(PClassInfo, name) == 52);

static_assert(sizeof(PClassInfo2) == 440);
static_assert(offsetof(PClassInfo2, classFlags) == 116);
static_assert(offsetof(PClassInfo2, subCategories) == 120);
static_assert(offsetof(PClassInfo2, vendor) == 248);
static_assert(offsetof(PClassInfo2, version) == 312);
static_assert(offsetof(PClassInfo2, sdkVersion) == 376);

static_assert(sizeof(PClassInfoW) == 696);
static_assert(offsetof(PClassInfoW, name) == 52);
static_assert(offsetof(PClassInfoW, classFlags) == 180);
static_assert(offsetof(PClassInfoW, subCategories) == 184);
static_assert(offsetof(PClassInfoW, vendor) == 312);
static_assert(offsetof(PClassInfoW, version) == 440);
static_assert(offsetof(PClassInfoW, sdkVersion) == 568);

static_assert(sizeof(BusInfo) == 276);
static_assert(offsetof(BusInfo, channelCount) == 8);
static_assert(offsetof(BusInfo, name) == 12);
static_assert(offsetof(BusInfo, busType) == 268);
static_assert(offsetof(BusInfo, flags) == 272);

static_assert(sizeof(RoutingInfo) == 12);

static_assert(sizeof(ProcessSetup) == 24);
static_assert(offsetof(ProcessSetup, maxSamplesPerBlock) == 8);
static_assert(offsetof(ProcessSetup, sampleRate) == 16);

static_assert(sizeof(AudioBusBuffers) == 24);
static_assert(offsetof(AudioBusBuffers, silenceFlags) == 8);
static_assert(offsetof(AudioBusBuffers, channelBuffers32) == 16);

static_assert(sizeof(ProcessData) == 80);
static_assert(offsetof(ProcessData, numSamples) == 8);
static_assert(offsetof(ProcessData, numOutputs) == 16);
static_assert(offsetof(ProcessData, inputs) == 24);
static_assert(offsetof(ProcessData, outputs) == 32);
static_assert(offsetof(ProcessData, inputParameterChanges) == 40);
static_assert(offsetof(ProcessData, outputParameterChanges) == 48);
static_assert(offsetof(ProcessData, inputEvents) == 56);
static_assert(offsetof(ProcessData, outputEvents) == 64);
static_assert(offsetof(ProcessData, processContext) == 72);

static_assert(sizeof(ViewRect) == 16);
static_assert(offsetof(ViewRect, top) == 4);
static_assert(offsetof(ViewRect, right) == 8);
static_assert(offsetof(ViewRect, bottom) == 12);

static_assert(sizeof(ParameterInfo) == 792);
static_assert(offsetof(ParameterInfo, title) == 4);
static_assert(offsetof(ParameterInfo, shortTitle) == 260);
static_assert(offsetof(ParameterInfo, units) == 516);
static_assert(offsetof(ParameterInfo, stepCount) == 772);
static_assert(offsetof(ParameterInfo, defaultNormalizedValue) == 776);
static_assert(offsetof(ParameterInfo, unitId) == 784);
static_assert(offsetof(ParameterInfo, flags) == 788);

}  // namespace vst3
