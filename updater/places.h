// Where the updater reads its trust from and where it may write: the trusted
// key folders, the files that belong to the package manager, the target of
// an update entry, the updater's own directory and the autostart entry of
// "copy".
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace updater {

// The folder of keys that the package (or the administrator) installs, only
// root may write it: /etc/skyvane/keys unless the build says otherwise.
std::filesystem::path SystemKeysDir();
// The user's own folder of trusted keys: $XDG_CONFIG_HOME/skyvane/keys
// (~/.config/skyvane/keys). Outside the device root and the installation
// directory, so no update entry lands there by its path.
std::filesystem::path UserKeysDir();
// Both, the system's first.
std::vector<std::filesystem::path> DefaultKeyDirs();
// The installation's "keys" folder, where keys used to be read from. Updates
// can write there, so it is never read; keys found there are named in the log.
std::filesystem::path RetiredKeysDir();

// Whether `target` lies in one of `key_dirs` (or the retired folder), after
// resolving symbolic links of the part that exists.
bool InKeyFolder(const std::filesystem::path& target,
                 const std::vector<std::filesystem::path>& key_dirs);

// An installed suite keeps its programs in <prefix>/lib/skyvane/bin; the
// package manager owns that prefix. Empty when the programs run from a build
// tree or another folder.
std::filesystem::path PackagePrefix();
// Whether the program's own files belong to the package manager (installed
// layout, and no $SKYVANE_UPDATER_DIR names a directory of the updater's own).
bool PackagedUpdater();
// Whether `target` belongs to the package manager: below /usr, or below the
// prefix of the installed suite.
bool PackageOwned(const std::filesystem::path& target);

// The directory text of the destination of an update entry: `dir` + "\"
// for an empty path, the path itself when it starts with "\", else
// `dir` + "\" + path.
std::string DestinationDir(const std::string& dir, const std::string& path);

// The directory of the updater (a directory text, see LocalPath):
// $SKYVANE_UPDATER_DIR; in a packaged installation "updater", the user's own
// <installation directory>/updater (the programs' directory is the
// package's); else the suite's bin directory.
std::string UpdaterDirText();

// The XDG autostart entry that runs "copy" at the next log-in. Written only
// while files wait for it; a packaged installation brings its own entry in
// the system's autostart folder instead, which goes with the package.
std::filesystem::path AutostartFile();
bool CreateAutostartEntry(const std::filesystem::path& copy_program);
void RemoveAutostartEntry();

}  // namespace updater
