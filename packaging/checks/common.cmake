# Shared by the packaging checks: faults are collected, so one run reports
# all of them, and finish_checks() fails the test when there was any.
set(faults)

macro(report_fault text)
  list(APPEND faults "${text}")
endmacro()

macro(expect_empty list what)
  if(NOT "${list}" STREQUAL "")
    string(REPLACE ";" ", " shown "${list}")
    report_fault("${what}: ${shown}")
  endif()
endmacro()

function(finish_checks)
  if(faults)
    list(JOIN faults "\n  " shown)
    message(FATAL_ERROR "packaging check failed:\n  ${shown}")
  endif()
endfunction()

# The width and height in the IHDR chunk of a PNG file, or -1 when the file
# does not start as a PNG.
function(png_size file width_var height_var)
  file(READ ${file} header LIMIT 24 HEX)
  string(REPEAT "[0-9a-f]" 8 word)  # CMake's regular expressions have no {n}
  if(NOT header MATCHES "^89504e470d0a1a0a0000000d49484452(${word})(${word})$")
    set(${width_var} -1 PARENT_SCOPE)
    set(${height_var} -1 PARENT_SCOPE)
    return()
  endif()
  math(EXPR width "0x${CMAKE_MATCH_1}")
  math(EXPR height "0x${CMAKE_MATCH_2}")
  set(${width_var} ${width} PARENT_SCOPE)
  set(${height_var} ${height} PARENT_SCOPE)
endfunction()
