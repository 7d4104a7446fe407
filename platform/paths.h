// Where the suite keeps its files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// The installation directory that holds the data files of every program of
// the suite: $SKYVANE_HOME, else the registry value "InstlDir" under
// HKEY_LOCAL_MACHINE\SOFTWARE\Apps\Tarnwell Skyvane pro, else
// $XDG_DATA_HOME/skyvane (~/.local/share/skyvane). Created on first use.
std::filesystem::path InstallDir();

// The device's root folder "\": $SKYVANE_ROOT, else the installation
// directory (resolved without the registry, which lives below the root).
// Created on first use.
std::filesystem::path DeviceRoot();

// Whether the device root exists already; creates nothing.
bool DeviceRootExists();

// Maps a handheld path to a file: "\a\b" names DeviceRoot()/a/b, a relative
// "a\b" names InstallDir()/a/b. Backslashes and slashes both separate.
std::filesystem::path DevicePath(std::string_view handheld_path);

// The suite's own bin directory ($SKYVANE_BIN_DIR, else the directory of the
// running executable).
std::filesystem::path BinDir();

// A file shipped with the suite (the device database "vok.dat", the Today
// banner): $SKYVANE_DATA_DIR/name, else beside the programs (a build tree),
// else in the data directory of an installation (<prefix>/share/skyvane,
// found from the programs' directory <prefix>/lib/skyvane/bin). Empty when
// none exists.
std::filesystem::path ShippedFile(const std::string& name);

// The registry key of the installation directory and the profile key.
inline constexpr const char* kAppKeyName = "Tarnwell Skyvane pro";
inline constexpr const char* kInstallKey = "SOFTWARE\\Apps\\Tarnwell Skyvane pro";
inline constexpr const char* kProfileKey = "Software\\Tarnwell Skyvane pro";

}  // namespace platform
