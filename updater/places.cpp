#include "updater/places.h"

#include <algorithm>
#include <cstdlib>

#include "platform/binio.h"
#include "platform/paths.h"
#include "updater/engine.h"

#ifndef SKYVANE_SYSTEM_KEYS_DIR
#define SKYVANE_SYSTEM_KEYS_DIR "/etc/skyvane/keys"
#endif

namespace fs = std::filesystem;

namespace updater {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// `path` with its existing part's links resolved, for comparing places.
fs::path Resolved(const fs::path& path) {
    std::error_code ec;
    fs::path out = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : out;
}

bool Below(const fs::path& path, const fs::path& dir) {
    fs::path p = Resolved(path);
    fs::path d = Resolved(dir);
    auto pi = p.begin();
    for (auto di = d.begin(); di != d.end(); ++di, ++pi) {
        if (di->empty())
            continue;  // the trailing "" of "a/b/"
        if (pi == p.end() || *pi != *di)
            return false;
    }
    return true;
}

std::string DesktopExecQuote(const std::string& path) {
    // Quoted argument of an Exec key: escape ", `, $ and \ inside the quotes,
    // then the backslashes again for the desktop file's string value.
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$') {
            quoted += "\\\\";  // one escaping backslash, itself escaped
        } else if (c == '\\') {
            quoted += "\\\\\\\\";  // the backslash escaped twice
            continue;
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

// A plain string value of a desktop entry (TryExec takes no quoting).
std::string DesktopString(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

}  // namespace

fs::path SystemKeysDir() {
    return SKYVANE_SYSTEM_KEYS_DIR;
}

fs::path UserKeysDir() {
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) {
        std::string home = Env("HOME");
        config = (fs::path(home.empty() ? "/" : home) / ".config").string();
    }
    return fs::path(config) / "skyvane" / "keys";
}

std::vector<fs::path> DefaultKeyDirs() {
    return {SystemKeysDir(), UserKeysDir()};
}

fs::path RetiredKeysDir() {
    return platform::InstallDir() / "keys";
}

bool InKeyFolder(const fs::path& target, const std::vector<fs::path>& key_dirs) {
    if (Below(target, RetiredKeysDir()))
        return true;
    return std::any_of(key_dirs.begin(), key_dirs.end(),
                       [&](const fs::path& dir) { return Below(target, dir); });
}

fs::path PackagePrefix() {
    fs::path bin = platform::BinDir().lexically_normal();
    if (bin.filename().empty())
        bin = bin.parent_path();
    fs::path skyvane = bin.parent_path();
    fs::path lib = skyvane.parent_path();
    if (bin.filename() != "bin" || skyvane.filename() != "skyvane" || lib.filename() != "lib")
        return {};
    return lib.parent_path();
}

bool PackagedUpdater() {
    return Env("SKYVANE_UPDATER_DIR").empty() && !PackagePrefix().empty();
}

bool PackageOwned(const fs::path& target) {
    if (Below(target, "/usr"))
        return true;
    fs::path prefix = PackagePrefix();
    return !prefix.empty() && Below(target, prefix);
}

std::string DestinationDir(const std::string& dir, const std::string& path) {
    if (path.empty())
        return dir + "\\";
    if (path[0] == '\\')
        return path;
    return dir + "\\" + path;
}

std::string UpdaterDirText() {
    std::string dir = Env("SKYVANE_UPDATER_DIR");
    if (!dir.empty())
        return dir;
    // A handheld path below the installation directory: resolved (and the
    // directory created) only when the updater works with it.
    if (!PackagePrefix().empty())
        return "updater";
    return platform::BinDir().string();
}

fs::path AutostartFile() {
    std::string home = Env("HOME");
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty())
        config = (fs::path(home.empty() ? "/" : home) / ".config").string();
    return fs::path(config) / "autostart" / "skyvane-updater-copy.desktop";
}

bool CreateAutostartEntry(const fs::path& copy_program) {
    fs::path file = AutostartFile();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    // TryExec: once the program is gone, the entry is ignored.
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Updater copy\n"
        "Comment=Puts the files of the last update in place\n"
        "TryExec=" +
        DesktopString(copy_program.string()) +
        "\n"
        "Exec=" +
        DesktopExecQuote(copy_program.string()) +
        "\n"
        "NoDisplay=true\n"
        "X-GNOME-Autostart-enabled=true\n";
    return platform::WriteFileAtomic(file, text);
}

void RemoveAutostartEntry() {
    std::error_code ec;
    fs::remove(AutostartFile(), ec);
}

}  // namespace updater
