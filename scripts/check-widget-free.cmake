# Fails when a library that holds no window links Qt Widgets, directly or through the libraries it
# links. The build writes, at configure time, one line per such library to REPORT: the library, then
# "clean" or the chain of links that reaches Qt Widgets (test "Layers.EnginesLinkNoWidgets").
#
# Usage: cmake -DREPORT=<build>/tests/widget-free.txt -P scripts/check-widget-free.cmake
if(NOT REPORT OR NOT EXISTS "${REPORT}")
  message(FATAL_ERROR "check-widget-free: no report ${REPORT}: configure the build first")
endif()
file(STRINGS "${REPORT}" lines)
if(NOT lines)
  message(FATAL_ERROR "check-widget-free: the report ${REPORT} names no library")
endif()
set(failed "")
foreach(line IN LISTS lines)
  message(STATUS "${line}")
  if(NOT line MATCHES ": clean$")
    list(APPEND failed "${line}")
  endif()
endforeach()
if(failed)
  list(JOIN failed "\n  " text)
  message(FATAL_ERROR "Libraries without windows that link Qt Widgets:\n  ${text}")
endif()
