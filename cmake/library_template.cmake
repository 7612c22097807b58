# One music library made by the station's own script (station/library-setup)
# at build time: its ODBC registration in odbc/ and base2.mdb in server/.
# A test copies it instead of running the script again, which would cost a
# sixth of a second of processor time per test (tests/support/library_fixture.h).
function(zv_use_library_template target)
  set(folder ${PROJECT_BINARY_DIR}/library-template)
  if(NOT TARGET zv_library_template)
    add_custom_command(OUTPUT ${folder}/server/base2.mdb
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${folder}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/odbc
      COMMAND ${CMAKE_COMMAND} -E env ODBCSYSINI=${folder}/odbc ODBCINI=${folder}/odbc/odbc.ini
              ${PROJECT_SOURCE_DIR}/station/library-setup ${folder}/server
      DEPENDS ${PROJECT_SOURCE_DIR}/station/library-setup ${PROJECT_SOURCE_DIR}/station/schema.sql
              ${PROJECT_SOURCE_DIR}/station/as-folder-owner
      COMMENT "Making the tests' library with station/library-setup"
      VERBATIM)
    add_custom_target(zv_library_template DEPENDS ${folder}/server/base2.mdb)
  endif()
  add_dependencies(${target} zv_library_template)
  target_compile_definitions(${target} PUBLIC ZV_LIBRARY_TEMPLATE="${folder}")
endfunction()
