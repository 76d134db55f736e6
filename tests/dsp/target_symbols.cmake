# No symbol of the AVX2 or the AVX-512 unit can stand in for one of baseline code, or of the
# other vector unit (dsp/target.h).
#
#   cmake -DNM=nm "-DOBJECTS=a.o|b.o|..." -P target_symbols.cmake
#   cmake -DNM=x86_64-w64-mingw32-nm "-DOBJECT_DIR=build/win/CMakeFiles/zelko_dsp.dir|..." -P ...
#
# Lists the global and weak symbols that the objects of dsp/band_engine_avx2.cpp,
# dsp/band_engine_avx512.cpp and the baseline objects of the plug-in's layers define, and fails on any name
# defined by two of them: the linker would keep one of the copies, chosen by link order. Exempt are only pointers the toolchain makes that are
# the same data everywhere: DW.ref.__gxx_personality_v0 (the C++ runtime's exception
# personality, in every unit with exception cleanups) and mingw-w64's .refptr.* (the address of a
# shared table, for its pseudo-relocations), and the interface's type information below. Each vector unit must define its entry,
# newAvx2BandProcessor or newAvx512BandProcessor, and baseline code must call it, so that a test
# that found no object to compare cannot pass.
cmake_minimum_required(VERSION 3.25)
if(OBJECT_DIR)
  string(REPLACE "|" ";" folders "${OBJECT_DIR}")
  set(objects)
  foreach(folder IN LISTS folders)
    file(GLOB_RECURSE found "${folder}/*.o" "${folder}/*.obj")
    list(APPEND objects ${found})
  endforeach()
else()
  string(REPLACE "|" ";" objects "${OBJECTS}")
endif()

# Data, not code, that both sides may carry: the type information of BandProcessor, the
# interface the vector units are reached through, which mingw-w64 emits wherever it is used.
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

# The vector units, by the name in their object's path, and the mangled name of each one's entry.
set(units avx2 avx512)
set(entry_avx2 _Z20newAvx2BandProcessorv)
set(entry_avx512 _Z22newAvx512BandProcessorv)

set(baseline_objects)
foreach(unit IN LISTS units)
  set(object_${unit})
endforeach()
foreach(object IN LISTS objects)
  if(object MATCHES "band_engine_(avx2|avx512)\\.")
    set(object_${CMAKE_MATCH_1} ${object})
  else()
    list(APPEND baseline_objects ${object})
  endif()
endforeach()
foreach(unit IN LISTS units)
  if(NOT object_${unit})
    message(FATAL_ERROR "no ${unit} object among: ${objects}")
  endif()
  defined_symbols(${object_${unit}} symbols_${unit})
  if(NOT "${entry_${unit}}" IN_LIST symbols_${unit})
    message(FATAL_ERROR "${object_${unit}} does not define ${entry_${unit}}")
  endif()
  set(called_${unit} FALSE)
endforeach()
if(NOT baseline_objects)
  message(FATAL_ERROR "no baseline objects among: ${objects}")
endif()

set(shared)
foreach(object IN LISTS baseline_objects)
  defined_symbols(${object} baseline_symbols)
  execute_process(COMMAND ${NM} --undefined-only --format=posix ${object}
                  OUTPUT_VARIABLE undefined)
  foreach(unit IN LISTS units)
    foreach(name IN LISTS baseline_symbols)
      if(name IN_LIST symbols_${unit})
        list(APPEND shared "${name} (${unit} unit and ${object})")
      endif()
    endforeach()
    if(undefined MATCHES "${entry_${unit}}")
      set(called_${unit} TRUE)
    endif()
  endforeach()
endforeach()
foreach(name IN LISTS symbols_avx2)
  if(name IN_LIST symbols_avx512)
    list(APPEND shared "${name} (avx2 and avx512 units)")
  endif()
endforeach()

foreach(unit IN LISTS units)
  if(NOT called_${unit})
    message(FATAL_ERROR "no baseline object calls ${entry_${unit}}")
  endif()
endforeach()

list(LENGTH shared shared_count)
if(shared_count GREATER 0)
  list(JOIN shared "\n  " lines)
  message(FATAL_ERROR "${shared_count} symbols of a vector unit are also defined elsewhere; "
                      "each needs the target namespace (dsp/target.h):\n  ${lines}")
endif()
list(LENGTH symbols_avx2 avx2_count)
list(LENGTH symbols_avx512 avx512_count)
message(STATUS "${avx2_count} and ${avx512_count} global and weak symbols of the AVX2 and AVX-512 "
               "units, none shared")
