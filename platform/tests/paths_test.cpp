#include "platform/paths.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"

using skyvane::testing::ScopedEnv;
using skyvane::testing::TempDir;

namespace fs = std::filesystem;

TEST(Paths, HomeVariableWinsAndIsCreated) {
    TempDir dir;
    ScopedEnv home("SKYVANE_HOME", (dir / "inst").string());
    ScopedEnv root("SKYVANE_ROOT", "");
    unsetenv("SKYVANE_ROOT");
    EXPECT_EQ(platform::InstallDir(), dir / "inst");
    EXPECT_TRUE(fs::is_directory(dir / "inst"));
    EXPECT_EQ(platform::DeviceRoot(), dir / "inst");
}

TEST(Paths, RegistryInstallDirIsUsedWithoutTheHomeVariable) {
    TempDir dir;
    ScopedEnv root("SKYVANE_ROOT", (dir / "root").string());
    ScopedEnv home("SKYVANE_HOME", "");
    unsetenv("SKYVANE_HOME");
    platform::Registry reg(dir / "root" / "registry.reg");
    ASSERT_TRUE(reg.SetString(platform::Hive::LocalMachine, platform::kInstallKey, "InstlDir",
                              (dir / "apps" / "skyvane").string() + "\\"));
    EXPECT_EQ(platform::InstallDir(), dir / "apps" / "skyvane");
    EXPECT_EQ(platform::DeviceRoot(), dir / "root");
}

TEST(Paths, DefaultIsUnderXdgDataHome) {
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", dir.path().string());
    ScopedEnv home("SKYVANE_HOME", "");
    unsetenv("SKYVANE_HOME");
    ScopedEnv root("SKYVANE_ROOT", (dir / "root").string());
    EXPECT_EQ(platform::InstallDir(), dir / "skyvane");
}

TEST(Paths, RelativeXdgDataHomeIsIgnored) {
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
    ScopedEnv user_home("HOME", (dir / "user").string());
    ScopedEnv home("SKYVANE_HOME", "");
    unsetenv("SKYVANE_HOME");
    ScopedEnv root("SKYVANE_ROOT", (dir / "root").string());
    EXPECT_EQ(platform::InstallDir(), dir / "user" / ".local" / "share" / "skyvane");
}

TEST(Paths, HandheldPathsMapBelowTheirRoots) {
    TempDir dir;
    ScopedEnv home("SKYVANE_HOME", (dir / "inst").string());
    ScopedEnv root("SKYVANE_ROOT", (dir / "root").string());
    EXPECT_EQ(platform::DevicePath("\\windows\\temp\\a.txt"), dir / "root/windows/temp/a.txt");
    EXPECT_EQ(platform::DevicePath("\\comm.log"), dir / "root/comm.log");
    EXPECT_EQ(platform::DevicePath("groups\\x.grp"), dir / "inst/groups/x.grp");
    EXPECT_EQ(platform::DevicePath("\\a\\..\\..\\etc\\passwd"), dir / "root/a/etc/passwd")
        << "no climbing out of the root";
}

TEST(Paths, ShippedFilesAreFoundInTheBuildTreeAndInAnInstallation) {
    skyvane::testing::TempDir dir;
    const auto bin = dir / "usr" / "lib" / "skyvane" / "bin";
    std::filesystem::create_directories(bin);
    skyvane::testing::ScopedEnv bin_env("SKYVANE_BIN_DIR", bin.string());
    unsetenv("SKYVANE_DATA_DIR");
    EXPECT_TRUE(platform::ShippedFile("vok.dat").empty());
    // Installed: <prefix>/share/skyvane beside <prefix>/lib/skyvane/bin.
    skyvane::testing::WriteText(dir / "usr" / "share" / "skyvane" / "vok.dat", "x");
    EXPECT_EQ(platform::ShippedFile("vok.dat"), dir / "usr" / "share" / "skyvane" / "vok.dat");
    // A build tree keeps it beside the programs.
    skyvane::testing::WriteText(bin / "vok.dat", "x");
    EXPECT_EQ(platform::ShippedFile("vok.dat"), bin / "vok.dat");
    skyvane::testing::ScopedEnv data("SKYVANE_DATA_DIR", (dir / "data").string());
    skyvane::testing::WriteText(dir / "data" / "vok.dat", "x");
    EXPECT_EQ(platform::ShippedFile("vok.dat"), dir / "data" / "vok.dat");
}
