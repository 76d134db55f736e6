#include "tools/render/report_target.h"

#include <sys/stat.h>

#include <set>

#include "tools/render/failure.h"

namespace render {

bool reportNamesFolder(const std::string& report) {
    if (report.empty()) return false;
    struct stat status {};
    return report.back() == '/' || (stat(report.c_str(), &status) == 0 && S_ISDIR(status.st_mode));
}

std::string reportPathFor(const Options& options, const Job& job) {
    if (options.report.empty()) return "";
    if (!reportNamesFolder(options.report)) return options.report;
    // Named after the output, which is unique in the run; standard output after the input.
    std::string name = job.output != kStandardStream ? job.output
                       : job.input.empty() || job.input == kStandardStream
                           ? std::string("standard-output")
                           : job.input;
    std::string folder = options.report;
    if (folder.back() != '/') folder += '/';
    return folder + splitExtension(baseNameOf(name)).first + ".png";
}

void checkReportTargets(const Options& options, const std::vector<Job>& jobs) {
    if (options.report.empty()) return;
    const bool folder = reportNamesFolder(options.report);
    std::set<std::string> pictures;
    std::vector<std::string> existing;
    for (const auto& job : jobs) {
        const std::string picture = reportPathFor(options, job);
        if (!pictures.insert(picture).second) {
            if (!folder) break;  // one picture named for one input; the command line says so
            throw Failure(ExitStatus::kOutputRefused, "Two outputs would both get the report " +
                                                          inQuotes(picture) +
                                                          "; render them into different folders.");
        }
        checkFolderWritable(picture, folder);
        struct stat status {};
        if (!options.force && stat(picture.c_str(), &status) == 0) existing.push_back(picture);
    }
    // All of them at once, so that a batch is not refused once for each.
    if (existing.size() == 1) {
        throw Failure(ExitStatus::kOutputRefused, "The report " + inQuotes(existing.front()) +
                                                      " already exists; --force replaces it.");
    }
    if (!existing.empty()) {
        std::string names;
        for (const auto& picture : existing)
            names += (names.empty() ? "" : ", ") + inQuotes(picture);
        throw Failure(ExitStatus::kOutputRefused,
                      "The reports " + names + " already exist; --force replaces them.");
    }
}

}  // namespace render
