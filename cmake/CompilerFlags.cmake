# Flags shared by every target of the project.
#
# The signal chain is reproducible bit for bit only when no multiply-add is fused and no
# floating-point reassociation is allowed, so -ffp-contract=off is set for every target and
# nothing from -ffast-math is ever enabled. Release builds target baseline x86-64 so that the
# binaries run on any 64-bit PC.

set(ZELKO_COMMON_FLAGS -Wall -Wextra -ffp-contract=off -fno-fast-math -fvisibility=hidden
                       -fvisibility-inlines-hidden)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64" OR CMAKE_CROSSCOMPILING)
  list(APPEND ZELKO_COMMON_FLAGS -march=x86-64 -mtune=generic)
endif()

if(ZELKO_SANITIZE)
  set(ZELKO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
                            -fno-sanitize-recover=undefined)
  add_compile_options(${ZELKO_SANITIZER_FLAGS})
  add_link_options(${ZELKO_SANITIZER_FLAGS})
  # Line tables are all a sanitizer's report needs to name the file and line; full debug
  # information doubles the sanitized build's compile time.
  set(ZELKO_DEBUG_INFO_FLAGS -g1)
  add_compile_options(${ZELKO_DEBUG_INFO_FLAGS})
endif()

function(zelko_apply_flags target)
  target_compile_options(${target} PRIVATE ${ZELKO_COMMON_FLAGS})
endfunction()

# The two vector units of the band engine, dsp/band_engine_avx2.cpp and dsp/band_engine_avx512.cpp,
# are the only code compiled for more than baseline x86-64, and never with FMA, so that no
# multiply-add is fused. Their loops are long chains of dependent operations with little else to
# do between them; GCC's first scheduling pass (off by default on x86) interleaves the independent
# chains of a loop body, which the processor's own reordering window is too short to find.
# Scheduling only reorders: every operation and its rounding stay as written. GCC 12's AVX-512
# intrinsics warn of their own deliberately undefined registers (GCC bug 105593); those warnings
# are silenced in that unit. Source properties belong to a directory, so every directory whose
# targets compile the units calls this, or passes TARGET_DIRECTORY <target> for a target defined
# elsewhere.
# (Clang, which builds the fuzzers, has neither the pass nor the warning.)
set(ZELKO_VECTOR_UNIT_FLAGS -mno-fma)
set(ZELKO_AVX512_WARNING_FLAGS)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND ZELKO_VECTOR_UNIT_FLAGS -fschedule-insns -fsched-pressure)
  set(ZELKO_AVX512_WARNING_FLAGS -Wno-uninitialized -Wno-maybe-uninitialized)
endif()
function(zelko_set_vector_unit_flags)
  set_source_files_properties(${PROJECT_SOURCE_DIR}/dsp/band_engine_avx2.cpp ${ARGN}
                              PROPERTIES COMPILE_OPTIONS "${ZELKO_VECTOR_UNIT_FLAGS};-mavx2")
  set_source_files_properties(
    ${PROJECT_SOURCE_DIR}/dsp/band_engine_avx512.cpp ${ARGN}
    PROPERTIES COMPILE_OPTIONS "${ZELKO_VECTOR_UNIT_FLAGS};-mavx512f;${ZELKO_AVX512_WARNING_FLAGS}")
endfunction()
