# Fails when a module of src/ includes a header of a module above it, or when
# ODBC is reached outside src/library/.
#
#   cmake -DSOURCE_DIR=<tree holding src/> -P cmake/check_layers.cmake
#
# The modules from the bottom up; a module may include its own headers and
# those of the modules below it.
cmake_minimum_required(VERSION 3.25)

set(ZV_LAYERS platform text net cgi hostinfo library player_window playlist server)

file(GLOB_RECURSE files "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.h")
set(wrong "")
foreach(file IN LISTS files)
  file(RELATIVE_PATH relative "${SOURCE_DIR}/src" "${file}")
  string(REGEX REPLACE "/.*" "" module "${relative}")
  list(FIND ZV_LAYERS "${module}" rank)
  if(rank EQUAL -1)
    string(APPEND wrong "\n  ${relative}: src/${module}/ is no module of the layer list")
    continue()
  endif()
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z_]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([a-z_]+)/.*" "\\1" used "${line}")
    list(FIND ZV_LAYERS "${used}" used_rank)
    if(used_rank GREATER rank)
      string(APPEND wrong "\n  ${relative}: ${module}/ includes ${used}/, which lies above it")
    endif()
  endforeach()
endforeach()

# ODBC's headers, and the library's own headers that carry them, are included
# only by library/'s sources and by database.h; every header of library/
# that the modules above see is free of ODBC types (query.h is their way in).
set(odbc_include "^[ \t]*#[ \t]*include[ \t]*[<\"](sql|sqlext|sqltypes|sqlucode|library/odbc|library/database)\\.h[>\"]")
file(GLOB_RECURSE seen "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/player/*.cpp"
     "${SOURCE_DIR}/player/*.h" "${SOURCE_DIR}/tools/*.cpp" "${SOURCE_DIR}/tools/*.h")
foreach(file IN LISTS seen)
  file(RELATIVE_PATH relative "${SOURCE_DIR}" "${file}")
  if(relative MATCHES "^src/library/(.*\\.cpp|odbc\\.h|database\\.h)$")
    continue()
  endif()
  file(STRINGS "${file}" includes REGEX "${odbc_include}")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^<\"]*[<\"]([^>\"]*)[>\"].*" "\\1" used "${line}")
    string(APPEND wrong "\n  ${relative}: includes ${used}; ODBC stays inside library/")
  endforeach()
endforeach()

if(wrong)
  message(FATAL_ERROR "Includes against the layers (${ZV_LAYERS}):${wrong}")
endif()
