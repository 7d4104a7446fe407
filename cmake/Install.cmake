# Installation layout and the Debian packages.
#
#   <prefix>/lib/skyvane/bin    every program of the suite (several have
#                               names such as "install", "copy" or "connect"
#                               that must not land in <prefix>/bin)
#   <prefix>/lib/skyvane/lib    the suite's shared libraries ($ORIGIN/../lib)
#   <prefix>/bin                links to the programs a user starts by name
#   <prefix>/share/skyvane      shipped data: vok.dat, the Today banner
#   <prefix>/share/applications, share/icons, share/man, bash completion,
#   <prefix>/lib/systemd/user   the automatic synchronisation as a user service
#
# The programs find their data from their own directory, so the same files
# work under any prefix and in a scratch root.
#
# Two components, two packages: "suite" (skyvane, what a user runs) and
# "tools" (skyvane-tools: the simulated phone, the publisher's signing tool
# and the installer wizard with its stand-in packages).
set(SKYVANE_INSTALL_BIN lib/skyvane/bin)
set(SKYVANE_INSTALL_LIB lib/skyvane/lib)
set(SKYVANE_INSTALL_DATA share/skyvane)

# Programs with their component; absent ones (a build without Qt) are left out.
set(SKYVANE_SUITE_PROGRAMS parlo-cli Parlo tessel_launcher today updater SelfUpdate copy
  connect dialer)
set(SKYVANE_TOOLS_PROGRAMS updater-sign phonesim install_program)
# The programs a user starts by name: target, name on the PATH, component.
set(SKYVANE_PATH_LINKS
  "parlo-cli:parlo-cli:suite" "Parlo:Parlo:suite" "tessel_launcher:tessel:suite"
  "today:skyvane-today:suite" "updater:skyvane-updater:suite"
  "install_program:skyvane-install:tools" "updater-sign:updater-sign:tools"
  "phonesim:phonesim:tools")
# The manual pages, by component (docs/man).
set(SKYVANE_SUITE_MAN parlo-cli Parlo tessel skyvane-today skyvane-updater skyvane-modem-rule)
set(SKYVANE_TOOLS_MAN phonesim updater-sign skyvane-install)

foreach(component suite tools)
  string(TOUPPER ${component} upper)
  foreach(program IN LISTS SKYVANE_${upper}_PROGRAMS)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION ${SKYVANE_INSTALL_BIN} COMPONENT ${component})
    endif()
  endforeach()
endforeach()
foreach(library cordis tessel morrow)
  if(TARGET ${library})
    install(TARGETS ${library} LIBRARY DESTINATION ${SKYVANE_INSTALL_LIB} COMPONENT suite)
  endif()
endforeach()

# The installer wizard is built as skyvane-install (a program named "install"
# would clash with the build's own target of that name) and installed under
# its own name "install", beside the stand-in packages it runs.
if(TARGET install_program)
  get_target_property(wizard install_program OUTPUT_NAME)
  install(CODE "
    set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${SKYVANE_INSTALL_BIN}\")
    file(RENAME \"\${dir}/${wizard}\" \"\${dir}/install\")
    message(STATUS \"Renaming: \${dir}/${wizard} -> install\")" COMPONENT tools)
  set_target_properties(install_program PROPERTIES SKYVANE_INSTALLED_NAME install)
  get_target_property(package_programs install_program SKYVANE_PACKAGES)
  if(package_programs)
    install(PROGRAMS ${package_programs} DESTINATION ${SKYVANE_INSTALL_BIN} COMPONENT tools)
  endif()
endif()
configure_file(${PROJECT_SOURCE_DIR}/scripts/skyvane-modem-rule
  ${CMAKE_BINARY_DIR}/package/skyvane-modem-rule @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/package/skyvane-modem-rule DESTINATION bin COMPONENT suite)

foreach(link IN LISTS SKYVANE_PATH_LINKS)
  string(REPLACE ":" ";" triple ${link})
  list(GET triple 0 target)
  list(GET triple 1 name)
  list(GET triple 2 component)
  if(TARGET ${target})
    get_target_property(file ${target} SKYVANE_INSTALLED_NAME)
    if(NOT file)
      get_target_property(file ${target} OUTPUT_NAME)
    endif()
    if(NOT file)
      set(file ${target})
    endif()
    install(CODE "
      set(dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
      file(MAKE_DIRECTORY \"\${dest}\")
      file(CREATE_LINK \"../${SKYVANE_INSTALL_BIN}/${file}\" \"\${dest}/${name}\" SYMBOLIC)
      message(STATUS \"Installing: \${dest}/${name} -> ../${SKYVANE_INSTALL_BIN}/${file}\")"
      COMPONENT ${component})
  endif()
endforeach()

# Data the programs read.
install(FILES ${CMAKE_BINARY_DIR}/bin/vok.dat DESTINATION ${SKYVANE_INSTALL_DATA} COMPONENT suite)
install(FILES ${PROJECT_SOURCE_DIR}/resources/morrow/connect.png
  DESTINATION ${SKYVANE_INSTALL_DATA} RENAME connect.tdy COMPONENT suite)

# The desktop: entries, the icon, shell completion, the user service.
set(desktop_entries ${PROJECT_SOURCE_DIR}/resources/tessel/skyvane-send-sms.desktop)
if(TARGET today)
  list(APPEND desktop_entries ${PROJECT_SOURCE_DIR}/resources/desktop/skyvane-today.desktop)
endif()
if(TARGET Parlo)
  list(APPEND desktop_entries ${PROJECT_SOURCE_DIR}/resources/desktop/skyvane-parlo.desktop)
endif()
install(FILES ${desktop_entries} DESTINATION share/applications COMPONENT suite)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/skyvane.svg
  DESTINATION share/icons/hicolor/scalable/apps COMPONENT suite)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/parlo-cli.bash-completion
  DESTINATION share/bash-completion/completions RENAME parlo-cli COMPONENT suite)
install(FILES ${PROJECT_SOURCE_DIR}/resources/systemd/skyvane-autosync.service
  DESTINATION lib/systemd/user COMPONENT suite)

# Manual pages, the changelog and the copyright, compressed as Debian wants
# them (gzip -9n: no name and no time stamp, so that builds are reproducible).
set(package_dir ${CMAKE_BINARY_DIR}/package)  # also holds the configured skyvane-modem-rule
find_program(SKYVANE_GZIP gzip REQUIRED)
set(compressed)
function(skyvane_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${package_dir}
    COMMAND ${SKYVANE_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${source}")
  set(compressed ${compressed} ${output} PARENT_SCOPE)
endfunction()
foreach(component suite tools)
  string(TOUPPER ${component} upper)
  foreach(page IN LISTS SKYVANE_${upper}_MAN)
    skyvane_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${package_dir}/${page}.1.gz)
    install(FILES ${package_dir}/${page}.1.gz DESTINATION share/man/man1 COMPONENT ${component})
  endforeach()
endforeach()
skyvane_gzip(${PROJECT_SOURCE_DIR}/resources/debian/changelog ${package_dir}/changelog.gz)
add_custom_target(skyvane_package_files ALL DEPENDS ${compressed})

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/platform.md
  ${PROJECT_SOURCE_DIR}/docs/cordis.md ${PROJECT_SOURCE_DIR}/docs/sync.md
  ${PROJECT_SOURCE_DIR}/docs/updater.md
  DESTINATION share/doc/skyvane COMPONENT suite)
install(FILES ${PROJECT_SOURCE_DIR}/docs/phonesim.md ${PROJECT_SOURCE_DIR}/docs/install.md
  DESTINATION share/doc/skyvane-tools COMPONENT tools)
foreach(component suite tools)
  if(component STREQUAL "suite")
    set(doc share/doc/skyvane)
  else()
    set(doc share/doc/skyvane-tools)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${package_dir}/changelog.gz
    DESTINATION ${doc} COMPONENT ${component})
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/InstallUpdater.cmake)
# Its control files (conffiles) belong to the suite's package only.
set(CPACK_DEBIAN_SUITE_PACKAGE_CONTROL_EXTRA ${CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA})
unset(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA)

# A stripped installation (the packages) also loses the compilers'
# identification, as Debian's own packaging tools strip it.
if(CMAKE_OBJCOPY)
  foreach(component suite tools)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        file(GLOB elf_files
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${SKYVANE_INSTALL_BIN}/*\"
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${SKYVANE_INSTALL_LIB}/*.so\")
        foreach(f IN LISTS elf_files)
          file(READ \"\${f}\" magic LIMIT 4 HEX)
          if(magic STREQUAL \"7f454c46\" AND NOT IS_SYMLINK \"\${f}\")
            execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
              --remove-section=.note \"\${f}\")
          endif()
        endforeach()
      endif()" COMPONENT ${component})
  endforeach()
endif()

# The Debian packages: scripts/package.sh.
set(SKYVANE_MAINTAINER "Skyvane developers <skyvane@tarnwell.example>" CACHE STRING
  "The Maintainer field of the Debian packages")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skyvane)
set(CPACK_PACKAGE_VENDOR "Tarnwell")
set(CPACK_PACKAGE_CONTACT "${SKYVANE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL suite tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# Library dependencies come from the binaries (dpkg-shlibdeps); the suite's
# own libraries are found in its private directory.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)

set(CPACK_DEBIAN_SUITE_PACKAGE_NAME skyvane)
set(CPACK_DEBIAN_SUITE_FILE_NAME DEB-DEFAULT)
# Programs the suite starts, not links: sensible-browser (sensible-utils) is
# the desktop's browser; xdg-utils opens the mail client and other handlers;
# udev applies the rule of skyvane-modem-rule.
set(CPACK_DEBIAN_SUITE_PACKAGE_DEPENDS "sensible-utils")
set(CPACK_DEBIAN_SUITE_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_SUITE_PACKAGE_SUGGESTS "udev, modemmanager, skyvane-tools")
set(CPACK_COMPONENT_SUITE_DESCRIPTION
  "SMS suite for a GSM phone on a serial port
Reads, sends and files the short messages of a GSM phone or modem over a
serial port (cable, USB, Bluetooth or infrared) with AT commands in PDU
mode. It brings a windowed client (Parlo), the command-line client
parlo-cli, a user service that synchronises on a timer, a strip of
shortcuts, a Send SMS action for the address book and an updater.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME skyvane-tools)
set(CPACK_DEBIAN_TOOLS_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "skyvane (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "SMS suite for a GSM phone - tools for testing and publishing
Tools around the Skyvane SMS suite that its users do not need: phonesim, a
simulated GSM phone on a pseudo-terminal, for trying and testing the suite
without a phone. updater-sign, the publisher's tool that signs the file
lists of an update server. The installer wizard skyvane-install, with
stand-in packages that install nothing.")
include(CPack)
