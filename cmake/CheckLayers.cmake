# Fails when a source file includes a header of a higher layer.
#   cmake -DROOT=<source dir> -P cmake/CheckLayers.cmake
# Layers, bottom first. The log sits just above base/, so every other layer
# may write to it. ui/ takes only the DPI support from overlay/. tools/ and tests/ stand outside the house and may
# include anything.
set(layers base log config net output overlay core ui app)

set(failures "")
foreach(folder IN LISTS layers)
  list(FIND layers ${folder} rank)
  file(GLOB_RECURSE files LIST_DIRECTORIES false "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "^#include \"[a-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z_]+)/([^\"]+)\".*" "\\1;\\2" target "${line}")
      list(GET target 0 to_folder)
      list(GET target 1 to_file)
      list(FIND layers ${to_folder} to_rank)
      if(to_rank EQUAL -1)
        continue()
      endif()
      set(allowed TRUE)
      if(to_rank GREATER rank)
        set(allowed FALSE)
      elseif(folder STREQUAL "ui" AND to_folder STREQUAL "overlay" AND NOT to_file MATCHES "^dpi(_win)?\\.h$")
        set(allowed FALSE)
      endif()
      if(NOT allowed)
        file(RELATIVE_PATH shown "${ROOT}" "${file}")
        string(APPEND failures "  ${shown}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "Includes that reach up a layer:\n${failures}")
endif()
