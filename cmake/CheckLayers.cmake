# SPDX-License-Identifier: MIT
# Refuses an #include "layer/..." that goes up or sideways between the layers of src/.
#   cmake -DSOURCE_DIR=<dir holding the layer folders> -P CheckLayers.cmake
# Also included by the top CMakeLists.txt, so that configuring fails on such an include.
#
cmake_policy(SET CMP0057 NEW)

# Each layer may include itself and the layers listed after it here, nothing else.
set(_layers_core "core")
set(_layers_mail "mail;core")
set(_layers_output "output;mail;core")
set(_layers_config "config;core")
set(_layers_app "app;output;config;mail;core")
set(_layers_gui "gui;app;output;config;mail;core")
set(_layer_names core mail output config app gui)

function(quillbox_check_layers source_dir)
  set(problems "")
  foreach(layer IN LISTS _layer_names)
    file(GLOB_RECURSE files "${source_dir}/${layer}/*.h" "${source_dir}/${layer}/*.cpp")
    foreach(file IN LISTS files)
      file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"/]+)/.*" "\\1" target "${line}")
        if(target STREQUAL line OR NOT target IN_LIST _layer_names)
          continue() # a file beside it, or no layer's
        endif()
        if(NOT target IN_LIST _layers_${layer})
          file(RELATIVE_PATH shown "${source_dir}" "${file}")
          string(STRIP "${line}" line)
          string(REPLACE ";" ", " allowed "${_layers_${layer}}")
          list(APPEND problems "  ${shown}: ${line} (${layer} may use ${allowed})")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(problems)
    list(JOIN problems "\n" text)
    message(FATAL_ERROR "Includes that go up a layer:\n${text}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED SOURCE_DIR)
  quillbox_check_layers("${SOURCE_DIR}")
endif()
