// A large block of state that costs resident memory only where it is written.
//
// The plug-in builds ten voices besides its main processor, each a whole processor with the
// bands' rings, although an effect never runs them. Their rings need to be silence, not to be
// touched: pages fresh from the operating system already read as zeros and take no memory until
// written. So the rings live in a block of such pages, and the processor clears them again only
// after it has run (see BandEngine::clear), which a voice never does.
#pragma once

#include <cstddef>
#include <type_traits>

#include "dsp/target.h"

// `bytes` of zeroed memory aligned to `alignment` (a power of two no larger than 4096), from pages
// the operating system has not handed out before where it can; std::bad_alloc when there are
// none. Release it with releaseZeroed and the same size and alignment.
void* allocateZeroed(std::size_t bytes, std::size_t alignment);
void releaseZeroed(void* block, std::size_t bytes, std::size_t alignment) noexcept;

inline namespace ZELKO_TARGET_NAMESPACE {

// One T in zeroed memory. T holds plain data only (an aggregate with nothing to destroy), which
// comes into being as all zeros in the new memory without a constructor writing it.
template <class T>
class ZeroedBlock {
    static_assert(std::is_aggregate_v<T> && std::is_trivially_destructible_v<T>);

  public:
    ZeroedBlock() : value(static_cast<T*>(allocateZeroed(sizeof(T), alignof(T)))) {}
    ~ZeroedBlock() { releaseZeroed(value, sizeof(T), alignof(T)); }
    ZeroedBlock(const ZeroedBlock&) = delete;
    ZeroedBlock& operator=(const ZeroedBlock&) = delete;

    T* operator->() const { return value; }
    T& operator*() const { return *value; }

  private:
    T* value;
};

}  // namespace ZELKO_TARGET_NAMESPACE
