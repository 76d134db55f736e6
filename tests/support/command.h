// Shell commands for the tests: a command's output, a module's exported names, and a Windows
// test host's render under wine.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

// The standard output of a shell command, and its exit status as pclose gives it.
inline std::string runCommand(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) {
        output.append(buffer, count);
    }
    const int exit = pclose(pipe);
    if (status) *status = exit;
    return output;
}

// The names a Linux shared object exports: `nm -D --defined-only` prints "address type name".
inline std::vector<std::string> linuxExports(const std::string& nm, const std::string& path) {
    std::istringstream lines(runCommand(nm + " -D --defined-only '" + path + "' 2>&1"));
    std::vector<std::string> names;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) names.push_back(name);
    }
    return names;
}

// The names a Windows DLL exports and the DLLs it imports, from `objdump -p`: the export table's
// "[Ordinal/Name Pointer] Table" rows and the import table's "DLL Name:" lines.
struct WindowsLinkage {
    std::vector<std::string> exports;
    std::vector<std::string> imports;
};

inline WindowsLinkage windowsLinkage(const std::string& objdump, const std::string& path) {
    std::istringstream lines(runCommand(objdump + " -p '" + path + "' 2>&1"));
    WindowsLinkage linkage;
    std::string line;
    bool inTable = false;
    while (std::getline(lines, line)) {
        const auto at = line.find("DLL Name: ");
        if (at != std::string::npos) linkage.imports.push_back(line.substr(at + 10));
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable) continue;
        const auto close = line.find(']');
        if (line.find('[') == std::string::npos || close == std::string::npos) {
            inTable = false;
            continue;
        }
        std::istringstream fields(line.substr(close + 1));
        std::string name;
        if (fields >> name) linkage.exports.push_back(name);
    }
    return linkage;
}

// Runs a Windows test host under wine, headless and in the tests' own prefix, with the module
// and the file it writes its raw floats to; answers what it wrote, or nothing when it failed.
inline std::vector<float> renderUnderWine(const std::string& wine, const std::string& prefix,
                                          const std::string& host, const std::string& module,
                                          const std::string& output, std::size_t maxFloats) {
    std::remove(output.c_str());
    const std::string command = "env -u DISPLAY WINEDEBUG=-all WINEPREFIX='" + prefix +
                                "' WINEDLLOVERRIDES='mscoree,mshtml=' '" + wine + "' '" + host +
                                "' '" + module + "' '" + output + "'";
    if (std::system(command.c_str()) != 0) return {};
    std::vector<float> samples(maxFloats + 1);
    std::FILE* file = std::fopen(output.c_str(), "rb");
    if (file == nullptr) return {};
    samples.resize(std::fread(samples.data(), sizeof(float), samples.size(), file));
    std::fclose(file);
    return samples;
}
