// The standard output of a shell command, and its exit status as pclose gives it.
#pragma once

#include <cstdio>
#include <string>

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
