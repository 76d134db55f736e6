# The include path of a layer: a folder in the build tree holding links to the source folders the
# layer may include from, and nothing else, so that `#include "controls/vstUI.h"` from dsp/ finds
# no file. A target's own folders are visible to everything that links it.
#
#   zelko_layer_includes(target folder...)
function(zelko_layer_includes target)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  file(MAKE_DIRECTORY ${root})
  foreach(folder IN LISTS ARGN)
    if(NOT EXISTS ${root}/${folder})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
  zelko_apply_flags(${target})
endfunction()

# One of the VST 2.4 plug-in's own layers (dsp, controls, host), which the test builds compile
# once more with other flags from the same sources.
function(zelko_layer target)
  zelko_layer_includes(${target} ${ARGN})
  set_property(GLOBAL APPEND PROPERTY ZELKO_LAYER_TARGETS ${target})
endfunction()

# Every source of the plug-in's layers, as absolute paths.
function(zelko_layer_sources out)
  get_property(targets GLOBAL PROPERTY ZELKO_LAYER_TARGETS)
  set(sources)
  foreach(target IN LISTS targets)
    get_target_property(target_sources ${target} SOURCES)
    list(APPEND sources ${target_sources})
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()
