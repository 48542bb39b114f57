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

# The installers beside the zip, when wixl and msibuild (from msitools) are
# there and both programs are built: larkspool-VERSION-win64.msi for all users
# (an administrator's installation) and larkspool-VERSION-win64-per-user.msi for
# the current user alone, without administrator rights.
find_program(LARKSPOOL_WIXL wixl)
find_program(LARKSPOOL_MSIBUILD msibuild)
if(LARKSPOOL_WIXL AND LARKSPOOL_MSIBUILD AND TARGET Larkspool)
  set(make_msi ${CMAKE_CURRENT_SOURCE_DIR}/make-msi)
  set(msi_sources ${make_msi} ${CMAKE_CURRENT_SOURCE_DIR}/larkspool.wxs ${PROJECT_SOURCE_DIR}/res/larkspool.ico)
  set(msi ${CMAKE_BINARY_DIR}/larkspool-${PROJECT_VERSION}-win64.msi)
  set(user_msi ${CMAKE_BINARY_DIR}/larkspool-${PROJECT_VERSION}-win64-per-user.msi)
  add_custom_command(
    OUTPUT ${msi}
    COMMAND ${make_msi} ${PROJECT_VERSION} perMachine ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${msi}
    DEPENDS ${msi_sources} Larkspool larkspool-cli
    COMMENT "Building the installer larkspool-${PROJECT_VERSION}-win64.msi"
    VERBATIM)
  add_custom_command(
    OUTPUT ${user_msi}
    COMMAND ${make_msi} ${PROJECT_VERSION} perUser ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${user_msi}
    DEPENDS ${msi_sources} Larkspool larkspool-cli
    COMMENT "Building the installer larkspool-${PROJECT_VERSION}-win64-per-user.msi"
    VERBATIM)
  add_custom_target(larkspool-msi ALL DEPENDS ${msi} ${user_msi})

  if(LARKSPOOL_BUILD_TESTS)
    # Installs, upgrades and removes both installers in a Wine prefix of its
    # own, beside another program's association of .bkp and without one.
    add_test(NAME packaging.msi_install
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/checks/msi-install ${msi} ${user_msi} $<TARGET_FILE:Larkspool>
                     $<TARGET_FILE:larkspool-cli> ${CMAKE_BINARY_DIR}/wineprefix)
    set_tests_properties(packaging.msi_install PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
  endif()
else()
  message(STATUS "wixl or msibuild not found: no Windows installer (install msitools and wixl)")
endif()

set(CPACK_PACKAGE_NAME larkspool)
set(CPACK_PACKAGE_VENDOR "Larkspool developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Extract voice messages from voice-mail admin backups")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
include(CPack)
