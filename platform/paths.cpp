#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/registry.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

fs::path Ensure(fs::path dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

fs::path DefaultDataDir() {
    // A relative XDG_DATA_HOME is invalid and ignored, as the XDG base
    // directory rules say: it would move the data with the working directory.
    std::string xdg = Env("XDG_DATA_HOME");
    if (!xdg.empty() && xdg[0] == '/')
        return fs::path(xdg) / "skyvane";
    fs::path home = Env("HOME");
    if (home.empty())
        home = fs::current_path();
    return home / ".local" / "share" / "skyvane";
}

// The root without consulting the registry: the registry file lives there.
fs::path RootWithoutRegistry() {
    std::string root = Env("SKYVANE_ROOT");
    if (!root.empty())
        return root;
    std::string home = Env("SKYVANE_HOME");
    if (!home.empty())
        return home;
    return DefaultDataDir();
}

}  // namespace

fs::path InstallDir() {
    std::string home = Env("SKYVANE_HOME");
    if (!home.empty())
        return Ensure(home);
    Registry reg(Ensure(RootWithoutRegistry()) / "registry.reg");
    if (auto dir = reg.QueryString(Hive::LocalMachine, kInstallKey, "InstlDir")) {
        // The handheld stores the directory with or without a trailing "\".
        std::string d = *dir;
        while (d.size() > 1 && (d.back() == '\\' || d.back() == '/'))
            d.pop_back();
        if (!d.empty() && d[0] == '/')
            return Ensure(d);
    }
    return Ensure(DefaultDataDir());
}

fs::path DeviceRoot() {
    std::string root = Env("SKYVANE_ROOT");
    if (!root.empty())
        return Ensure(root);
    std::string home = Env("SKYVANE_HOME");
    if (!home.empty())
        return Ensure(home);
    return InstallDir();
}

bool DeviceRootExists() {
    std::error_code ec;
    return fs::is_directory(RootWithoutRegistry(), ec);
}

fs::path DevicePath(std::string_view handheld_path) {
    bool absolute = !handheld_path.empty() && (handheld_path[0] == '\\' || handheld_path[0] == '/');
    fs::path out = absolute ? DeviceRoot() : InstallDir();
    std::string part;
    auto flush = [&] {
        // "." and ".." have no meaning on the handheld's flat paths: drop them
        // so that a path never climbs out of its root.
        if (!part.empty() && part != "." && part != "..")
            out /= part;
        part.clear();
    };
    for (char c : handheld_path) {
        if (c == '\\' || c == '/')
            flush();
        else
            part += c;
    }
    flush();
    return out;
}

fs::path ShippedFile(const std::string& name) {
#ifndef SKYVANE_BIN_TO_DATA
#define SKYVANE_BIN_TO_DATA "../../../share/skyvane"
#endif
    std::vector<fs::path> candidates;
    std::string data = Env("SKYVANE_DATA_DIR");
    if (!data.empty())
        candidates.push_back(fs::path(data) / name);
    candidates.push_back(BinDir() / name);
    candidates.push_back((BinDir() / SKYVANE_BIN_TO_DATA / name).lexically_normal());
    std::error_code ec;
    for (const fs::path& p : candidates) {
        if (fs::is_regular_file(p, ec))
            return p;
    }
    return {};
}

fs::path BinDir() {
    std::string bin = Env("SKYVANE_BIN_DIR");
    if (!bin.empty())
        return bin;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return fs::current_path(ec);
    return exe.parent_path();
}

}  // namespace platform
