# No symbol of the AVX2 unit can stand in for one of baseline code (dsp/target.h).
#
#   cmake -DNM=nm "-DOBJECTS=a.o|b.o|..." -P target_symbols.cmake
#   cmake -DNM=x86_64-w64-mingw32-nm -DOBJECT_DIR=build/win/CMakeFiles/zelko_core.dir -P ...
#
# Lists the global and weak symbols that the object of dsp/band_engine_avx2.cpp and the baseline
# objects of zelko_core define, and fails on any name defined by both: the linker would keep one
# of the two copies, chosen by link order. Exempt are only pointers the toolchain makes that are
# the same data everywhere: DW.ref.__gxx_personality_v0 (the C++ runtime's exception
# personality, in every unit with exception cleanups) and mingw-w64's .refptr.* (the address of a
# shared table, for its pseudo-relocations), and the interface's type information below. The AVX2 unit must define its entry, newAvx2BandProcessor, and baseline
# code must call it, so that a test that found no object to compare cannot pass.
cmake_minimum_required(VERSION 3.25)
if(OBJECT_DIR)
  file(GLOB_RECURSE objects "${OBJECT_DIR}/*.o" "${OBJECT_DIR}/*.obj")
else()
  string(REPLACE "|" ";" objects "${OBJECTS}")
endif()

# Data, not code, that both sides may carry: the type information of BandProcessor, the
# interface the AVX2 unit is reached through, which mingw-w64 emits wherever it is used.
set(interface_data _ZTI13BandProcessor _ZTS13BandProcessor)

function(defined_symbols object out)
  execute_process(COMMAND ${NM} --defined-only --format=posix ${object} OUTPUT_VARIABLE listing
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  # POSIX format: "name type value size"; global and weak definitions are the upper-case types
  # and u (unique global).
  string(REGEX MATCHALL "[^\n]+ [A-TV-Zu] [^\n]*" lines "${listing}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE " .*" "" name "${line}")
    if(NOT name MATCHES "^(DW\\.ref\\.|\\.refptr\\.)" AND NOT name IN_LIST interface_data)
      list(APPEND names "${name}")
    endif()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

set(avx2_object)
set(baseline_objects)
foreach(object IN LISTS objects)
  if(object MATCHES "band_engine_avx2")
    set(avx2_object ${object})
  else()
    list(APPEND baseline_objects ${object})
  endif()
endforeach()
if(NOT avx2_object OR NOT baseline_objects)
  message(FATAL_ERROR "no AVX2 object or no baseline objects among: ${objects}")
endif()

defined_symbols(${avx2_object} avx2_symbols)
if(NOT "_Z20newAvx2BandProcessorv" IN_LIST avx2_symbols)
  message(FATAL_ERROR "${avx2_object} does not define newAvx2BandProcessor")
endif()

set(shared)
set(entry_called FALSE)
foreach(object IN LISTS baseline_objects)
  defined_symbols(${object} baseline_symbols)
  foreach(name IN LISTS baseline_symbols)
    if(name IN_LIST avx2_symbols)
      list(APPEND shared "${name} (also in ${object})")
    endif()
  endforeach()
  execute_process(COMMAND ${NM} --undefined-only --format=posix ${object}
                  OUTPUT_VARIABLE undefined)
  if(undefined MATCHES "_Z20newAvx2BandProcessorv")
    set(entry_called TRUE)
  endif()
endforeach()
if(NOT entry_called)
  message(FATAL_ERROR "no baseline object calls newAvx2BandProcessor")
endif()

list(LENGTH avx2_symbols avx2_count)
list(LENGTH shared shared_count)
if(shared_count GREATER 0)
  list(JOIN shared "\n  " lines)
  message(FATAL_ERROR "${shared_count} symbols of the AVX2 unit are also defined by baseline "
                      "code; each needs the target namespace (dsp/target.h):\n  ${lines}")
endif()
message(STATUS "${avx2_count} global and weak symbols of the AVX2 unit, none shared")
