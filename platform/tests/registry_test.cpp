#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/binio.h"
#include "platform/testing/temp_dir.h"

using skyvane::testing::ScopedEnv;
using skyvane::testing::TempDir;

using platform::Hive;
using platform::Registry;
using platform::RegType;
using platform::RegValue;

namespace {
const char* kKey = "Software\\Tarnwell Skyvane pro";
}

TEST(Registry, ValuesEnumerateInCreationOrderAndKeepTheirPlace) {
    TempDir dir;
    Registry reg(dir / "registry.reg");
    ASSERT_TRUE(reg.SetString(Hive::CurrentUser, kKey, "N0", "Private"));
    ASSERT_TRUE(reg.SetString(Hive::CurrentUser, kKey, "I0", "1"));
    ASSERT_TRUE(reg.SetDword(Hive::CurrentUser, kKey, "stamp", 7));
    ASSERT_TRUE(reg.SetString(Hive::CurrentUser, kKey, "n0", "Work"));  // case-insensitive
    std::vector<RegValue> v = reg.Values(Hive::CurrentUser, kKey);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].name, "N0");
    EXPECT_EQ(v[0].str, "Work");
    EXPECT_EQ(v[1].name, "I0");
    EXPECT_EQ(v[2].type, RegType::Dword);
    EXPECT_EQ(v[2].dword, 7u);
    RegValue out;
    EXPECT_FALSE(reg.EnumValue(Hive::CurrentUser, kKey, 3, &out));
    EXPECT_FALSE(reg.QueryValue(Hive::LocalMachine, kKey, "N0", &out)) << "hives are apart";
}

TEST(Registry, DeletingDuringEnumerationShiftsTheNextValueIntoItsIndex) {
    TempDir dir;
    Registry reg(dir / "registry.reg");
    for (const char* n : {"I0", "N0", "keep", "I1", "N1"})
        reg.SetString(Hive::CurrentUser, kKey, n, n);
    // The folder-table save: restart at the same index after each deletion.
    size_t i = 0;
    RegValue v;
    while (reg.EnumValue(Hive::CurrentUser, kKey, i, &v)) {
        if (v.name[0] == 'I' || v.name[0] == 'N') {
            ASSERT_TRUE(reg.DeleteValue(Hive::CurrentUser, kKey, v.name));
        } else {
            ++i;
        }
    }
    auto left = reg.Values(Hive::CurrentUser, kKey);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, "keep");
    EXPECT_FALSE(reg.DeleteValue(Hive::CurrentUser, kKey, "I0"));
}

TEST(Registry, KeysSubkeysAndDeletion) {
    TempDir dir;
    Registry reg(dir / "registry.reg");
    EXPECT_FALSE(reg.KeyExists(Hive::LocalMachine, "ExtModems"));
    ASSERT_TRUE(reg.CreateKey(Hive::LocalMachine, "ExtModems\\Phone B"));
    ASSERT_TRUE(reg.SetDword(Hive::LocalMachine, "ExtModems\\Phone A", "DeviceType", 1));
    ASSERT_TRUE(reg.SetString(Hive::LocalMachine, "ExtModems\\Phone A\\Init", "x", "y"));
    EXPECT_TRUE(reg.KeyExists(Hive::LocalMachine, "ExtModems"));
    EXPECT_EQ(reg.Subkeys(Hive::LocalMachine, "ExtModems"),
              (std::vector<std::string>{"Phone B", "Phone A"}));
    std::string name;
    EXPECT_TRUE(reg.EnumSubkey(Hive::LocalMachine, "extmodems", 1, &name));
    EXPECT_EQ(name, "Phone A");
    EXPECT_FALSE(reg.EnumSubkey(Hive::LocalMachine, "ExtModems", 2, &name));
    ASSERT_TRUE(reg.DeleteKey(Hive::LocalMachine, "ExtModems\\Phone A"));
    EXPECT_FALSE(reg.KeyExists(Hive::LocalMachine, "ExtModems\\Phone A\\Init"));
    EXPECT_EQ(reg.Subkeys(Hive::LocalMachine, "ExtModems").size(), 1u);
}

TEST(Registry, FileIsReadableAndHandEditsAreRead) {
    TempDir dir;
    Registry reg(dir / "registry.reg");
    reg.SetString(Hive::CurrentUser, kKey, "N0", "Say \"hi\" C:\\x");
    reg.SetString(Hive::CurrentUser, kKey, "multi", "line one\r\nline two");
    reg.SetDword(Hive::CurrentUser, kKey, "stamp", 0x1234abcd);
    std::string text;
    ASSERT_TRUE(platform::ReadFileBytes(reg.file(), &text));
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Tarnwell Skyvane pro]"), std::string::npos);
    EXPECT_NE(text.find("\"N0\"=\"Say \\\"hi\\\" C:\\\\x\""), std::string::npos);
    EXPECT_NE(text.find("\"stamp\"=dword:1234abcd"), std::string::npos);
    EXPECT_EQ(reg.QueryString(Hive::CurrentUser, kKey, "multi"), "line one\r\nline two");

    // A person edits the file: Windows line ends, a comment, a new value.
    std::string edited =
        "Windows Registry Editor Version 5.00\r\n\r\n; mine\r\n"
        "[HKEY_LOCAL_MACHINE\\Ports]\r\n\"COM7:\"=\"/dev/ttyUSB0\"\r\n"
        "\"junk line\r\n@=\"default\"\r\n";
    ASSERT_TRUE(platform::WriteFileAtomic(reg.file(), edited));
    EXPECT_EQ(reg.QueryString(Hive::LocalMachine, "Ports", "COM7:"), "/dev/ttyUSB0");
    EXPECT_EQ(reg.QueryString(Hive::LocalMachine, "Ports", ""), "default");
    EXPECT_FALSE(reg.QueryDword(Hive::LocalMachine, "Ports", "COM7:").has_value());
}

// Text that cannot be read is counted, and the damaged file is copied aside
// before the first rewrite, which keeps only what could be read.
TEST(Registry, DamageIsToldAndTheDamagedFileIsKeptBeforeARewrite) {
    TempDir dir;
    Registry reg(dir / "registry.reg");
    ASSERT_TRUE(reg.SetString(Hive::CurrentUser, kKey, "I0", "1"));
    EXPECT_FALSE(reg.Damaged());
    size_t lines = 0;
    bool no_header = true;

    const std::string torn =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Tarnwell "
        "Skyvane pro]\n\"I0\"=\"1\"\n\"I1\"=\x01\x02\n\"N1\"=\"Ho";
    ASSERT_TRUE(platform::WriteFileAtomic(reg.file(), torn));
    EXPECT_TRUE(reg.Damaged(&lines, &no_header));
    EXPECT_EQ(lines, 2u);
    EXPECT_FALSE(no_header);
    EXPECT_EQ(reg.QueryString(Hive::CurrentUser, kKey, "I0"), "1");
    ASSERT_TRUE(reg.SetDword(Hive::CurrentUser, kKey, "stamp", 0));
    std::string copy;
    ASSERT_TRUE(platform::ReadFileBytes(reg.DamagedCopyPath(), &copy));
    EXPECT_EQ(copy, torn);
    EXPECT_FALSE(reg.Damaged());  // the rewrite holds what was read

    // Without its header nothing is read; the copy is replaced by this one.
    const std::string headless = "[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n";
    ASSERT_TRUE(platform::WriteFileAtomic(reg.file(), headless));
    EXPECT_TRUE(reg.Damaged(&lines, &no_header));
    EXPECT_TRUE(no_header);
    ASSERT_TRUE(reg.SetDword(Hive::CurrentUser, kKey, "stamp", 0));
    ASSERT_TRUE(platform::ReadFileBytes(reg.DamagedCopyPath(), &copy));
    EXPECT_EQ(copy, headless);
    EXPECT_EQ(reg.QueryDword(Hive::CurrentUser, kKey, "stamp"), 0u);
}

// A value set to what it already holds leaves the file alone (no synced
// rewrite at every program start); a real change still replaces it.
TEST(Registry, SettingTheSameValueDoesNotRewriteTheFile) {
    TempDir dir;
    Registry reg(dir / "registry.reg");
    ASSERT_TRUE(reg.SetDword(Hive::CurrentUser, kKey, "stamp", 0));
    ASSERT_TRUE(reg.SetString(Hive::CurrentUser, kKey, "N0", "Private"));
    struct stat before {};
    ASSERT_EQ(::stat(reg.file().c_str(), &before), 0);
    EXPECT_TRUE(reg.SetDword(Hive::CurrentUser, kKey, "stamp", 0));
    EXPECT_TRUE(reg.SetString(Hive::CurrentUser, kKey, "N0", "Private"));
    EXPECT_TRUE(reg.CreateKey(Hive::CurrentUser, kKey));
    struct stat same {};
    ASSERT_EQ(::stat(reg.file().c_str(), &same), 0);
    EXPECT_EQ(same.st_ino, before.st_ino);  // every write replaces the file

    EXPECT_TRUE(reg.SetDword(Hive::CurrentUser, kKey, "stamp", 1));
    struct stat changed {};
    ASSERT_EQ(::stat(reg.file().c_str(), &changed), 0);
    EXPECT_NE(changed.st_ino, before.st_ino);
    EXPECT_EQ(reg.QueryDword(Hive::CurrentUser, kKey, "stamp"), 1u);

    // A file that is not there yet is written even for an empty change.
    Registry fresh(dir / "other.reg");
    EXPECT_TRUE(fresh.CreateKey(Hive::CurrentUser, kKey));
    EXPECT_TRUE(std::filesystem::exists(fresh.file()));
}

TEST(Registry, ConcurrentWritersFromTwoProcessesKeepEveryChange) {
    TempDir dir;
    auto file = dir / "registry.reg";
    const int kPerProcess = 40;
    pid_t pids[2];
    for (int p = 0; p < 2; ++p) {
        pids[p] = fork();
        ASSERT_GE(pids[p], 0);
        if (pids[p] == 0) {
            Registry reg(file);
            bool ok = true;
            for (int i = 0; i < kPerProcess; ++i)
                ok &= reg.SetDword(Hive::CurrentUser, kKey,
                                   "p" + std::to_string(p) + "v" + std::to_string(i), i);
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Registry reg(file);
    EXPECT_EQ(reg.Values(Hive::CurrentUser, kKey).size(), 2u * kPerProcess);
}
