// A check of a RIFF WAVE file's LIST chunks before libsndfile opens it.
//
// libsndfile 1.2 walks the members of a LIST chunk by their declared sizes, counting the bytes
// it has read in 32 bits. A member that claims nearly 4 GB in a file of a few hundred bytes wraps
// that count, and the walk then steps backwards: opening a 124-byte file takes minutes (libsndfile
// issue 1118, open upstream), and a list whose type is neither "INFO" nor "adtl" is read with its
// type as a member, so 181 bytes can keep it busy for good. The renderer refuses such a file at
// once instead: no member of a LIST chunk, walked either way, can be longer than what remains of
// the file. Every well-formed file passes, and so does anything that is not RIFF WAVE.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace render {

// Reads up to `count` bytes at `offset`; returns what it read (fewer at the end of the file).
using ReadAt = std::function<std::string(std::int64_t offset, std::size_t count)>;

// Why a file of `length` bytes cannot be given to libsndfile, or "" where it can.
std::string implausibleRiffChunks(const ReadAt& readAt, std::int64_t length);

// The same for the regular file open as `descriptor`, read with pread (its offset stays).
std::string implausibleRiffChunks(int descriptor);

}  // namespace render
