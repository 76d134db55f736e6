// A picture of a render's stereo result: correlation and side level per third-octave band, the
// mono sum's spectrum against the input's, and a goniometer, with the summary's figures.
#pragma once

#include <string>

#include "tools/render/analysis/stereo_analysis.h"

namespace render {

// Writes a PNG or an SVG, chosen by the extension of `path` (either case). `title` heads the
// picture, typically the output file's name. Throws std::runtime_error, with a one-sentence
// message naming the path, when the extension is neither or the file cannot be written.
void writeReportPicture(const StereoSummary& summary, const std::string& path);
void writeReportPicture(const StereoSummary& summary, const std::string& path,
                        const std::string& title);

}  // namespace render
