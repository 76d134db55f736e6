// WAV and AIFF through pipes. libsndfile writes both only where it can seek back to fill in the
// lengths, so for a pipe or FIFO the renderer writes the header itself, with the lengths marked
// unknown (0xFFFFFFFF, as sox and ffmpeg do), and has libsndfile write the bare samples after
// it. Readers, libsndfile among them, then read such a stream to its end.
#pragma once

#include <sndfile.h>

#include <string>

#include "tools/render/audio_io.h"

namespace render {

// Whether the descriptor is a pipe or socket, which cannot seek back to a header.
bool descriptorIsPipe(int descriptor);

// Whether `format` can go to a pipe as a header of unknown length followed by bare samples:
// WAV with PCM, float, mu-law or A-law samples, AIFF with signed PCM or float.
bool streamsWithUnknownLength(FileFormat format);

// The header bytes of such a stream, up to the first sample.
std::string streamHeader(FileFormat format, int sampleRate, int channels);

// Writes that header to `descriptor`; fails with ExitStatus::kWriteFailed, or kUsage when the
// encoding cannot be streamed in the container. Returns the libsndfile format of the samples
// that follow: SF_FORMAT_RAW with the encoding and the container's byte order.
int writeStreamHeader(int descriptor, FileFormat format, int sampleRate, int channels,
                      const std::string& name);

// Whether the header of a WAV or AIFF file just opened by libsndfile gives its length as
// unknown (0 or 0xFFFFFFFF in its data chunk), as streamed files do; read from libsndfile's log.
bool headerLengthUnknown(SNDFILE* file);

}  // namespace render
