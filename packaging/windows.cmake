# The Windows zip (cpack -G ZIP in the build folder): the programs, this
# README and the example backups, in one folder that needs no installing.
install(TARGETS larkspool-cli RUNTIME DESTINATION .)
# The desktop program of win32/, when it is built.
if(TARGET Larkspool)
  install(TARGETS Larkspool RUNTIME DESTINATION .)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/examples/kind3.bkp
              ${PROJECT_SOURCE_DIR}/examples/kind4.bkp
              ${PROJECT_SOURCE_DIR}/examples/kind5-protected.bkp
              ${PROJECT_SOURCE_DIR}/examples/kind6.bkp
        DESTINATION examples)

set(CPACK_PACKAGE_NAME larkspool)
set(CPACK_PACKAGE_VENDOR "Larkspool developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Extract voice messages from voice-mail admin backups")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
include(CPack)
