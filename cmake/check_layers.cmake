# Fails when a file includes a header from a folder of its own rank or above.
#   cmake -D ROOT=<source dir> -P cmake/check_layers.cmake
#
# The ranking, lowest first. A folder may include its own headers and those of
# the folders on the levels below it, never those of a folder on its own level
# or above; so every include points down and the folders form no cycle.
set(levels
  "base"
  "platform"
  "progress"
  "archive"
  "password"
  "app"
  "audio"
  "builder"
  "desktop"
  "cli gui win32"
  "tools examples fuzz"
  "tests"
  "bench")

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -D ROOT=<source dir> -P check_layers.cmake")
endif()

set(rank 0)
foreach(level IN LISTS levels)
  string(REPLACE " " ";" folders "${level}")
  foreach(folder IN LISTS folders)
    set(rank_${folder} ${rank})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

set(violations 0)
set(edges 0)
# A folder with C++ sources but no rank would go unchecked.
file(GLOB entries RELATIVE "${ROOT}" "${ROOT}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${ROOT}/${entry}" AND NOT entry MATCHES "^(build|\\.)" AND NOT DEFINED rank_${entry})
    file(GLOB_RECURSE unranked "${ROOT}/${entry}/*.h" "${ROOT}/${entry}/*.cpp")
    if(unranked)
      message(SEND_ERROR "${entry}/ holds C++ sources but has no rank in cmake/check_layers.cmake")
      math(EXPR violations "${violations} + 1")
    endif()
  endif()
endforeach()
foreach(level IN LISTS levels)
  string(REPLACE " " ";" folders "${level}")
  foreach(folder IN LISTS folders)
    file(GLOB_RECURSE sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
      file(STRINGS "${source}" includes REGEX "^#include \"[a-z0-9_]+/")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"([a-z0-9_]+)/.*" "\\1" target "${line}")
        math(EXPR edges "${edges} + 1")
        file(RELATIVE_PATH where "${ROOT}" "${source}")
        if(target STREQUAL folder)
          continue()
        elseif(NOT DEFINED rank_${target})
          message(SEND_ERROR "${where}: ${line}: ${target}/ has no rank in cmake/check_layers.cmake")
          math(EXPR violations "${violations} + 1")
        elseif(NOT rank_${target} LESS rank_${folder})
          message(SEND_ERROR "${where}: ${line}: ${folder}/ may not include ${target}/, which is not below it")
          math(EXPR violations "${violations} + 1")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) break the layering")
endif()
message(STATUS "${edges} includes, every one pointing down the layers")
