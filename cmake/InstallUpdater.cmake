# What the updater brings to an installation of the suite (included by
# Install.cmake):
#
#   <keys dir>                       the folder of trusted public keys, owned by
#                                    root, mode 0755 (SKYVANE_SYSTEM_KEYS_DIR,
#                                    /etc/skyvane/keys); the publisher's key
#                                    goes there, or is built in
#                                    (SKYVANE_UPDATER_KEYS)
#   /etc/xdg/autostart/skyvane-updater-copy.desktop
#                                    runs "copy --at-login" at every log-in; it
#                                    ends at once unless files of an update
#                                    wait, and it goes with the package
if(NOT TARGET copy)
  return()
endif()
install(DIRECTORY DESTINATION ${SKYVANE_SYSTEM_KEYS_DIR}
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(CODE "
  set(entry \"\$ENV{DESTDIR}/etc/xdg/autostart/skyvane-updater-copy.desktop\")
  set(copy \"\${CMAKE_INSTALL_PREFIX}/${SKYVANE_INSTALL_BIN}/copy\")
  file(WRITE \"\${entry}\" \"[Desktop Entry]
Type=Application
Name=Updater copy
Comment=Puts the files of an update in place that waited for the log-in
TryExec=\${copy}
Exec=\${copy} --at-login
NoDisplay=true
X-GNOME-Autostart-enabled=true
\")
  message(STATUS \"Installing: \${entry}\")")
# Files below /etc are the administrator's to change: conffiles.
set(updater_control ${CMAKE_BINARY_DIR}/generated/updater/debian)
file(WRITE ${updater_control}/conffiles "/etc/xdg/autostart/skyvane-updater-copy.desktop\n")
list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${updater_control}/conffiles)
