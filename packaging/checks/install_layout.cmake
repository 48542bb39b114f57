# Installs the build into a scratch prefix and checks what lands there.
# -D BUILD_DIR=... -D PREFIX=... -D WITH_GUI=0|1 -D MAN_GZIPPED=0|1 -D VERSION=...
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

set(doc share/doc/larkspool)
set(expected bin/larkspool-cli ${doc}/README.md)
foreach(example kind3 kind4 kind5-protected kind6)
  list(APPEND expected ${doc}/examples/${example}.bkp)
endforeach()
set(pages larkspool-cli.1)
if(WITH_GUI)
  list(APPEND expected bin/larkspool share/applications/larkspool.desktop share/mime/packages/larkspool.xml
       share/icons/hicolor/16x16/apps/larkspool.png share/icons/hicolor/32x32/apps/larkspool.png)
  list(APPEND pages larkspool.1)
endif()
foreach(page IN LISTS pages)
  if(MAN_GZIPPED)
    string(APPEND page .gz)
  endif()
  list(APPEND expected share/man/man1/${page})
endforeach()

file(GLOB_RECURSE landed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
set(missing ${expected})
list(REMOVE_ITEM missing ${landed})
set(unexpected ${landed})
list(REMOVE_ITEM unexpected ${expected})
expect_empty("${missing}" "not installed")
expect_empty("${unexpected}" "installed but not part of the package")

# Each icon must be the picture of the size its folder names.
foreach(size 16 32)
  set(icon ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/larkspool.png)
  if(EXISTS ${icon})
    png_size(${icon} width height)
    if(NOT width EQUAL size OR NOT height EQUAL size)
      report_fault("${icon} is ${width}x${height}, not ${size}x${size}")
    endif()
  endif()
endforeach()

# The installed programs run from the prefix, without the build tree.
execute_process(COMMAND ${PREFIX}/bin/larkspool-cli --version RESULT_VARIABLE result
                OUTPUT_VARIABLE output ERROR_VARIABLE output OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0 OR NOT output STREQUAL "larkspool-cli ${VERSION}")
  report_fault("installed larkspool-cli --version gave ${result}: '${output}'")
endif()
execute_process(COMMAND ${PREFIX}/bin/larkspool-cli list ${PREFIX}/${doc}/examples/kind3.bkp
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  report_fault("installed larkspool-cli cannot list the installed kind3.bkp (${result}): ${output}")
endif()

finish_checks()
