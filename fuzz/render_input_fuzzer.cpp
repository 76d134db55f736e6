// libFuzzer harness of the renderer's input path.
//
// Every input is the bytes of an audio file: mutated WAV, FLAC and AIFF headers and chunks from
// the seeds in fuzz/render_corpus. They go through the renderer's own reading code
// (SoundFileReader over libsndfile's virtual input, so no file is written per run): the header
// and metadata are read, every block is mixed to mono, and the result is written, with the
// input's metadata, through the renderer's own output path (OutputFile and SoundFileWriter)
// into a folder of the harness. A file the renderer refuses must be refused with one of its
// failures, never with a crash, a leak or undefined behaviour; and whatever happened, nothing but
// a finished output may be left in the folder: no temporary file.

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/render/audio_io.h"
#include "tools/render/failure.h"
#include "tools/render/output_file.h"

namespace {

constexpr int kBlock = 256;
// Enough to pass through every block boundary of a seed and keep one run short.
constexpr std::int64_t kMostFrames = 1 << 16;

struct Memory {
    const std::uint8_t* data;
    sf_count_t size;
    sf_count_t position;
};

sf_count_t memoryLength(void* user) {
    return static_cast<Memory*>(user)->size;
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    auto& memory = *static_cast<Memory*>(user);
    const sf_count_t base = whence == SEEK_CUR   ? memory.position
                            : whence == SEEK_END ? memory.size
                                                 : 0;
    // Out of the file is an error to the caller, as it is for a real file's start.
    if (offset < -base || offset > memory.size - base + (1 << 20)) return -1;
    memory.position = base + offset;
    return memory.position;
}

sf_count_t memoryRead(void* destination, sf_count_t count, void* user) {
    auto& memory = *static_cast<Memory*>(user);
    const sf_count_t available = std::max<sf_count_t>(0, memory.size - memory.position);
    const sf_count_t taken = std::min(count, available);
    if (taken > 0) std::memcpy(destination, memory.data + memory.position, taken);
    memory.position += taken;
    return taken;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t memoryTell(void* user) {
    return static_cast<Memory*>(user)->position;
}

// A plain array, so that it outlives every destructor and the exit handler can still read it.
char folderName[] = "/tmp/zelko-render-fuzz-XXXXXX";

const std::string& outputFolder() {
    static const std::string folder = [] {
        if (!mkdtemp(folderName)) std::abort();
        // Emptied after every input, so that the folder itself is all there is to remove.
        std::atexit([] { rmdir(folderName); });
        return std::string(folderName);
    }();
    return folder;
}

// Everything in the folder; a name other than the finished output is a temporary file left
// behind, which the renderer must never do.
void checkAndEmptyFolder(const std::string& folder, const std::string& finished) {
    DIR* listing = opendir(folder.c_str());
    if (!listing) std::abort();
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (name != finished) {
            std::fprintf(stderr, "partial output left behind: %s\n", name.c_str());
            std::abort();
        }
        unlink((folder + "/" + name).c_str());
    }
    closedir(listing);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& folder = outputFolder();
    Memory memory{data, static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    try {
        render::SoundFileReader reader(io, &memory, "fuzz input", 0, kBlock);
        render::OutputTarget target;
        target.path = folder + "/out.wav";
        render::OutputFile output(target, true);
        render::SoundFileWriter writer(output.descriptor(), target.path,
                                       {SF_FORMAT_WAV, SF_FORMAT_PCM_16},
                                       static_cast<int>(reader.sampleRate()), 2, kBlock,
                                       render::Dither::kTriangular, &reader.metadata());
        std::vector<float> block(kBlock);
        std::int64_t frames = 0;
        while (frames < kMostFrames) {
            const int got = reader.read(block.data(), kBlock);
            writer.write(block.data(), block.data(), got);
            frames += got;
            if (got < kBlock) break;
        }
        (void)reader.promisedFrames();
        writer.close();
        output.commit();
    } catch (const render::Failure&) {
        // A refusal, with the renderer's own sentence: what a bad file should get.
    }
    checkAndEmptyFolder(folder, "out.wav");
    return 0;
}
