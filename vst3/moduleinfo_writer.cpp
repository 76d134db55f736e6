// zelko-vst3-moduleinfo: writes the bundle's Contents/Resources/moduleinfo.json.
//
// It runs at build time and asks the module's own factory for what it says (the vendor the
// processor declares, the class, its name, version and sub-categories), so the file a host reads
// without loading the module cannot disagree with the module.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "vst3/factory.h"
#include "vst3/zelko_vst3.h"

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Sub-categories are one text with '|' between them; the file lists them one by one.
std::string categoryList(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t bar = std::min(text.find('|', start), text.size());
        if (!out.empty()) out += ", ";
        out += quoted(text.substr(start, bar - start));
        start = bar + 1;
    }
    return "[" + out + "]";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zelko-vst3-moduleinfo <path of moduleinfo.json>\n";
        return 2;
    }
    vst3::IPluginFactory3* factory = vst3glue::pluginFactory();
    vst3::PFactoryInfo factoryInfo;
    vst3::PClassInfo2 classInfo;
    if (factory->getFactoryInfo(&factoryInfo) != vst3::kResultOk ||
        factory->getClassInfo2(0, &classInfo) != vst3::kResultOk) {
        std::cerr << "zelko-vst3-moduleinfo: the factory describes no class\n";
        return 1;
    }
    // A class ID is written as its four words in hexadecimal, whatever the platform's byte order.
    char cid[33];
    std::snprintf(cid, sizeof cid, "%08X%08X%08X%08X", vst3glue::kClassIdWords[0],
                  vst3glue::kClassIdWords[1], vst3glue::kClassIdWords[2],
                  vst3glue::kClassIdWords[3]);

    std::ofstream out(argv[1], std::ios::binary);
    out << "{\n"
        << "  \"Name\": " << quoted(classInfo.name) << ",\n"
        << "  \"Version\": " << quoted(classInfo.version) << ",\n"
        << "  \"Factory Info\": {\n"
        << "    \"Vendor\": " << quoted(factoryInfo.vendor) << ",\n"
        << "    \"URL\": " << quoted(factoryInfo.url) << ",\n"
        << "    \"E-Mail\": " << quoted(factoryInfo.email) << ",\n"
        << "    \"Flags\": {\n"
        << "      \"Unicode\": "
        << ((factoryInfo.flags & vst3::PFactoryInfo::kUnicode) ? "true" : "false") << ",\n"
        << "      \"Classes Discardable\": false,\n"
        << "      \"Component Non Discardable\": false\n"
        << "    }\n"
        << "  },\n"
        << "  \"Classes\": [\n"
        << "    {\n"
        << "      \"CID\": " << quoted(cid) << ",\n"
        << "      \"Category\": " << quoted(classInfo.category) << ",\n"
        << "      \"Name\": " << quoted(classInfo.name) << ",\n"
        << "      \"Vendor\": " << quoted(classInfo.vendor) << ",\n"
        << "      \"Version\": " << quoted(classInfo.version) << ",\n"
        << "      \"SDKVersion\": " << quoted(classInfo.sdkVersion) << ",\n"
        << "      \"Sub Categories\": " << categoryList(classInfo.subCategories) << ",\n"
        << "      \"Class Flags\": " << classInfo.classFlags << ",\n"
        << "      \"Cardinality\": " << classInfo.cardinality << ",\n"
        << "      \"Snapshots\": []\n"
        << "    }\n"
        << "  ]\n"
        << "}\n";
    out.close();
    if (!out) {
        std::cerr << "zelko-vst3-moduleinfo: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
