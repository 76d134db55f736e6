// A picture of a render's stereo result: correlation and side level per third-octave band, the
// mono sum's spectrum against the input's, both over time, a goniometer, the answer on mono
// compatibility and the summary's figures, under a title that says what was rendered.
#pragma once

#include <string>

#include "tools/render/analysis/stereo_analysis.h"

namespace render {

// What the picture shows, for its title: the input's name, the plug-in, the settings as given
// and when the render ran.
struct ReportHeading {
    std::string input;
    std::string plugin;
    std::string settings;
    std::string date;
};

// Writes a PNG or an SVG, chosen by the extension of `path` (either case). `title` heads the
// picture, typically the output file's name. Throws std::runtime_error, with a one-sentence
// message naming the path, when the extension is neither or the file cannot be written.
void writeReportPicture(const StereoSummary& summary, const std::string& path);
void writeReportPicture(const StereoSummary& summary, const std::string& path,
                        const std::string& title);
void writeReportPicture(const StereoSummary& summary, const std::string& path,
                        const ReportHeading& heading);

}  // namespace render
