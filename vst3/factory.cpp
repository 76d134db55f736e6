#include "vst3/factory.h"

#include <atomic>
#include <cstring>
#include <new>

#include "controls/metadata.h"
#include "vst3/parameters.h"
#include "vst3/zelko_vst3.h"

namespace vst3glue {

const char* vendorName() {
    static const char* const vendor = lookupMetadata("author", "");
    return vendor;
}

namespace {

using namespace vst3;

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
        if (index != 0 || info == nullptr) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        std::memcpy(info->cid, kClassId.bytes, sizeof info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        copyText(info->category, sizeof info->category, kCategory);
        copyText(info->name, sizeof info->name, kPluginName);
        return kResultOk;
    }

    tresult ZELKO_VST3_API getClassInfo2(int32 index, PClassInfo2* info) override {
        if (index != 0 || info == nullptr) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        std::memcpy(info->cid, kClassId.bytes, sizeof info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        copyText(info->category, sizeof info->category, kCategory);
        copyText(info->name, sizeof info->name, kPluginName);
        copyText(info->subCategories, sizeof info->subCategories, kSubCategories);
        copyText(info->vendor, sizeof info->vendor, vendorName());
        copyText(info->version, sizeof info->version, kPluginVersion);
        copyText(info->sdkVersion, sizeof info->sdkVersion, kSdkVersion);
        return kResultOk;
    }

    tresult ZELKO_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) override {
        if (index != 0 || info == nullptr) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        std::memcpy(info->cid, kClassId.bytes, sizeof info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        copyText(info->category, sizeof info->category, kCategory);
        copyText(info->name, PClassInfo::kNameSize, kPluginName);
        copyText(info->subCategories, sizeof info->subCategories, kSubCategories);
        copyText(info->vendor, PClassInfoW::kVendorSize, vendorName());
        copyText(info->version, PClassInfoW::kVersionSize, kPluginVersion);
        copyText(info->sdkVersion, PClassInfoW::kVersionSize, kSdkVersion);
        return kResultOk;
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
