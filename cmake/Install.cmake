# Installation layout and the Debian package.
#
#   <prefix>/lib/skyvane/bin    every program of the suite (several have
#                               names such as "install", "copy" or "connect"
#                               that must not land in <prefix>/bin)
#   <prefix>/lib/skyvane/lib    the suite's shared libraries ($ORIGIN/../lib)
#   <prefix>/bin                links to the programs a user starts by name
#   <prefix>/share/skyvane      shipped data: vok.dat, the Today banner
#   <prefix>/share/applications, share/icons, share/man, bash completion
#
# The programs find their data from their own directory, so the same files
# work under any prefix and in a scratch root.
set(SKYVANE_INSTALL_BIN lib/skyvane/bin)
set(SKYVANE_INSTALL_LIB lib/skyvane/lib)
set(SKYVANE_INSTALL_DATA share/skyvane)

# Programs, in the order the folders are built; absent ones (a build without
# Qt, a program not written yet) are left out.
set(SKYVANE_PROGRAMS
  parlo-cli Parlo tessel_launcher today updater SelfUpdate copy install_program
  updater-sign phonesim connect dialer)
# The programs a user starts by name, with the name on the PATH.
set(SKYVANE_PATH_LINKS
  "parlo-cli:parlo-cli" "Parlo:Parlo" "tessel_launcher:tessel" "today:skyvane-today"
  "updater:skyvane-updater" "install_program:skyvane-install" "updater-sign:updater-sign"
  "phonesim:phonesim")

foreach(program IN LISTS SKYVANE_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${SKYVANE_INSTALL_BIN})
  endif()
endforeach()
foreach(library cordis tessel morrow)
  if(TARGET ${library})
    install(TARGETS ${library} LIBRARY DESTINATION ${SKYVANE_INSTALL_LIB})
  endif()
endforeach()
if(TARGET install_program)
  get_target_property(package_programs install_program SKYVANE_PACKAGES)
  if(package_programs)
    install(PROGRAMS ${package_programs} DESTINATION ${SKYVANE_INSTALL_BIN})
  endif()
endif()
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/skyvane-modem-rule DESTINATION bin)

foreach(link IN LISTS SKYVANE_PATH_LINKS)
  string(REPLACE ":" ";" pair ${link})
  list(GET pair 0 target)
  list(GET pair 1 name)
  if(TARGET ${target})
    get_target_property(file ${target} OUTPUT_NAME)
    if(NOT file)
      set(file ${target})
    endif()
    install(CODE "
      set(dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
      file(MAKE_DIRECTORY \"\${dest}\")
      file(CREATE_LINK \"../${SKYVANE_INSTALL_BIN}/${file}\" \"\${dest}/${name}\" SYMBOLIC)
      message(STATUS \"Installing: \${dest}/${name} -> ../${SKYVANE_INSTALL_BIN}/${file}\")")
  endif()
endforeach()

# Data the programs read.
install(FILES ${CMAKE_BINARY_DIR}/bin/vok.dat DESTINATION ${SKYVANE_INSTALL_DATA})
install(FILES ${PROJECT_SOURCE_DIR}/resources/morrow/connect.png
  DESTINATION ${SKYVANE_INSTALL_DATA} RENAME connect.tdy)

# The desktop: entries, the icon, the manual page, shell completion.
set(desktop_entries ${PROJECT_SOURCE_DIR}/resources/tessel/skyvane-send-sms.desktop)
if(TARGET today)
  list(APPEND desktop_entries ${PROJECT_SOURCE_DIR}/resources/desktop/skyvane-today.desktop)
endif()
if(TARGET Parlo)
  list(APPEND desktop_entries ${PROJECT_SOURCE_DIR}/resources/desktop/skyvane-parlo.desktop)
endif()
install(FILES ${desktop_entries} DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/skyvane.svg
  DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/docs/parlo-cli.1 DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/parlo-cli.bash-completion
  DESTINATION share/bash-completion/completions RENAME parlo-cli)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/platform.md
  ${PROJECT_SOURCE_DIR}/docs/cordis.md ${PROJECT_SOURCE_DIR}/docs/sync.md
  DESTINATION share/doc/skyvane)

include(${CMAKE_CURRENT_LIST_DIR}/InstallUpdater.cmake)

# The Debian package: scripts/package.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skyvane)
set(CPACK_PACKAGE_VENDOR "Tarnwell")
set(CPACK_PACKAGE_CONTACT "Skyvane developers <skyvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SMS suite for a GSM phone on a serial port")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Reads, sends and files short messages of a GSM phone over a serial\n"
  "port with AT commands in PDU mode: a windowed client, parlo-cli, a Today\n"
  "strip, a contacts action, an updater and a simulated phone.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_STRIP_FILES ON)
# Library dependencies come from the binaries (dpkg-shlibdeps); the suite's
# own libraries are found in its private directory.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
# Programs started by the suite, not linked: xdg-utils opens the desktop's
# browser and mail client; udev applies the rule of skyvane-modem-rule.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "udev, modemmanager")
include(CPack)
