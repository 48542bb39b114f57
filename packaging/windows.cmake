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

# The installer, larkspool-VERSION-win64.msi beside the zip, when wixl (from
# msitools) is there and both programs are built.
find_program(LARKSPOOL_WIXL wixl)
if(LARKSPOOL_WIXL AND TARGET Larkspool)
  set(msi ${CMAKE_BINARY_DIR}/larkspool-${PROJECT_VERSION}-win64.msi)
  set(wxs ${CMAKE_CURRENT_SOURCE_DIR}/larkspool.wxs)
  # wixl finds the sources relative to the .wxs file.
  file(RELATIVE_PATH bin_dir ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  file(RELATIVE_PATH res_dir ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/res)
  # Every installed version below the next third field is replaced.
  math(EXPR next_patch "${PROJECT_VERSION_PATCH} + 1")
  set(upgrade_below ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${next_patch})
  add_custom_command(
    OUTPUT ${msi}
    COMMAND ${LARKSPOOL_WIXL} -a x64 -D Version=${PROJECT_VERSION} -D UpgradeBelow=${upgrade_below}
            -D BinDir=${bin_dir} -D ResDir=${res_dir} -o ${msi} ${wxs}
    DEPENDS ${wxs} ${PROJECT_SOURCE_DIR}/res/larkspool.ico Larkspool larkspool-cli
    COMMENT "Building the installer larkspool-${PROJECT_VERSION}-win64.msi"
    VERBATIM)
  add_custom_target(larkspool-msi ALL DEPENDS ${msi})

  if(LARKSPOOL_BUILD_TESTS)
    # Installs, upgrades and removes the installer in a Wine prefix of its own.
    add_test(NAME packaging.msi_install
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/checks/msi-install ${msi} ${wxs} $<TARGET_FILE:Larkspool>
                     $<TARGET_FILE:larkspool-cli> ${CMAKE_BINARY_DIR}/wineprefix)
    set_tests_properties(packaging.msi_install PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
  endif()
else()
  message(STATUS "wixl not found: no Windows installer (install msitools)")
endif()

set(CPACK_PACKAGE_NAME larkspool)
set(CPACK_PACKAGE_VENDOR "Larkspool developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Extract voice messages from voice-mail admin backups")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
include(CPack)
