#include "vst3/factory.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <new>
#include <type_traits>

#include "dsp/metadata.h"
#include "dsp/mydsp.h"
#include "vst3/parameters.h"
#include "vst3/zelko_vst3.h"

namespace vst3glue {

// The author the processor declares in its metadata.
const char* vendorName() {
    static const char* const vendor = [] {
        metadataTable table;
        mydsp().declareMetadata(&table);
        const char* author = table.find("author");
        return author != nullptr ? author : "";
    }();
    return vendor;
}

namespace {

using namespace vst3;

// The one class, in any of the three forms of its record: the first form has the identity, the
// others add the sub-categories, vendor and versions (with the names in UTF-16 in the last).
template <class Info>
bool describeClass(int32 index, Info* info) {
    if (index != 0 || info == nullptr) return false;
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->cid, kClassId.bytes, sizeof info->cid);
    info->cardinality = PClassInfo::kManyInstances;
    copyText(info->category, std::size(info->category), kCategory);
    copyText(info->name, std::size(info->name), kPluginName);
    if constexpr (!std::is_same_v<Info, PClassInfo>) {
        copyText(info->subCategories, std::size(info->subCategories), kSubCategories);
        copyText(info->vendor, std::size(info->vendor), vendorName());
        copyText(info->version, std::size(info->version), kPluginVersion);
        copyText(info->sdkVersion, std::size(info->sdkVersion), kSdkVersion);
    }
    return true;
}

class Factory final : public IPluginFactory3 {
  public:
    tresult ZELKO_VST3_API queryInterface(const TUID iid, void** object) override {
        if (object == nullptr) return kInvalidArgument;
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPluginFactory::iid) ||
            sameUid(iid, IPluginFactory2::iid) || sameUid(iid, IPluginFactory3::iid)) {
            *object = this;
            addRef();
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    // The factory is a static object: the count is kept for the host's sake only.
    uint32 ZELKO_VST3_API addRef() override { return ++references; }
    uint32 ZELKO_VST3_API release() override { return references > 0 ? --references : 0; }

    tresult ZELKO_VST3_API getFactoryInfo(PFactoryInfo* info) override {
        if (info == nullptr) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        copyText(info->vendor, sizeof info->vendor, vendorName());
        info->flags = PFactoryInfo::kUnicode;
        return kResultOk;
    }

    int32 ZELKO_VST3_API countClasses() override { return 1; }

    tresult ZELKO_VST3_API getClassInfo(int32 index, PClassInfo* info) override {
        return describeClass(index, info) ? kResultOk : kInvalidArgument;
    }

    tresult ZELKO_VST3_API getClassInfo2(int32 index, PClassInfo2* info) override {
        return describeClass(index, info) ? kResultOk : kInvalidArgument;
    }

    tresult ZELKO_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) override {
        return describeClass(index, info) ? kResultOk : kInvalidArgument;
    }

    tresult ZELKO_VST3_API setHostContext(FUnknown*) override { return kResultOk; }

    tresult ZELKO_VST3_API createInstance(FIDString cid, FIDString iid, void** object) override {
        if (object == nullptr) return kInvalidArgument;
        *object = nullptr;
        if (cid == nullptr || iid == nullptr || !sameUid(cid, kClassId)) return kNoInterface;
        // The host is not C++: nothing may unwind into it.
        ZelkoVst3* plugin = nullptr;
        try {
            plugin = new ZelkoVst3();
        } catch (...) {
            return kOutOfMemory;
        }
        const tresult result = plugin->queryInterface(iid, object);
        plugin->release();
        return result;
    }

  private:
    std::atomic<uint32> references{1};
};

}  // namespace

IPluginFactory3* pluginFactory() {
    static Factory factory;
    return &factory;
}

}  // namespace vst3glue
