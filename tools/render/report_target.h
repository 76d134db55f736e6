// Where the report pictures go: one file named by --report, or, when --report names a folder
// (ending in '/', or one that exists), a PNG per output in it, named after the output.
#pragma once

#include <string>
#include <vector>

#include "tools/render/cli.h"
#include "tools/render/job_plan.h"

namespace render {

// Whether --report names a folder rather than a picture.
bool reportNamesFolder(const std::string& report);

// The picture of one job, or "" without --report.
std::string reportPathFor(const Options& options, const Job& job);

// Before anything is rendered: every picture's folder can be written (a report folder is made
// when missing), no picture would replace another of the same run, and none exists unless
// --force is given. Fails with ExitStatus::kWriteFailed or kOutputRefused.
void checkReportTargets(const Options& options, const std::vector<Job>& jobs);

}  // namespace render
