# SPDX-License-Identifier: GPL-2.0-or-later
# Fails when a core source includes a toolkit or platform library header, or a
# layer that is not below its own. The layers, lowest first:
#   base -> device -> display, record, screenshot, update (side by side) -> app
# A layer may include itself and the layers below it, nothing beside or above.
# Run as: cmake -DSRC=<repo>/src -P CheckCoreIncludes.cmake
set(layer_base 0)
set(layer_device 1)
set(layer_display 2)
set(layer_record 2)
set(layer_screenshot 2)
set(layer_update 2)
set(layer_app 3)
set(core_dirs base device display record screenshot update app)
set(forbidden "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|qt[^>\"]*|libusb[^>\"]*|libav[a-z]+/[^>\"]*|libsw[a-z]+/[^>\"]*|curl/[^>\"]*|lodepng[^>\"]*|GL/[^>\"]*|pulse/[^>\"]*|windows\\.h)[>\"]")
set(project_include "^[ \t]*#[ \t]*include[ \t]*\"([A-Za-z_]+)/")
set(bad "")
foreach(dir ${core_dirs})
  file(GLOB_RECURSE files "${SRC}/${dir}/*.h" "${SRC}/${dir}/*.cpp")
  foreach(f ${files})
    file(STRINGS "${f}" lines REGEX "#[ \t]*include")
    foreach(line ${lines})
      if(line MATCHES "${forbidden}")
        string(APPEND bad "${f}: a platform header: ${line}\n")
      elseif(line MATCHES "${project_include}")
        set(target ${CMAKE_MATCH_1})
        if(target STREQUAL "platform" OR target STREQUAL "main")
          string(APPEND bad "${f}: an adapter above the core: ${line}\n")
        elseif(DEFINED layer_${target} AND NOT target STREQUAL dir
               AND NOT layer_${target} LESS layer_${dir})
          string(APPEND bad "${f}: layer ${dir} includes ${target}, which is not below it: ${line}\n")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "Each core layer includes only itself and the layers below it:\n${bad}")
endif()
