# Every include between the project's folders runs downward: a folder may include from itself and
# from the layers below it, never from a layer above or beside it. The build enforces the same
# through each layer's include path (cmake/Layers.cmake); this check also covers headers that no
# lower target compiles and folders without a target of their own.
#
#   cmake -DSOURCE_DIR=<repository> -P layering.cmake
cmake_minimum_required(VERSION 3.25)

# folder -> the folders its files may include from, besides itself
set(allowed_dsp "")
set(allowed_controls "dsp")
set(allowed_host "controls;dsp")
set(allowed_vst3 "dsp;editor")
set(allowed_lv2 "dsp;editor")
set(allowed_clap "dsp;editor")
set(allowed_editor "dsp")
set(allowed_tools "host;dsp")
set(project_folders dsp controls host vst3 lv2 clap editor tools tests fuzz bench)

set(violations "")
foreach(layer dsp controls host vst3 lv2 clap editor tools)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[a-z0-9_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE ".*\"([a-z0-9_]+)/.*" "\\1" folder "${line}")
      if(folder STREQUAL layer OR NOT folder IN_LIST project_folders)
        continue()
      endif()
      if(NOT folder IN_LIST allowed_${layer})
        file(RELATIVE_PATH where "${SOURCE_DIR}" "${file}")
        string(APPEND violations "  ${where}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that reach up or across the layers:\n${violations}")
endif()
message(STATUS "Every include runs downward.")
