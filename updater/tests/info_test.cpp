// The file lists, their comparison and selection, and the small text formats
// of the updater.
#include "updater/info.h"

#include <gtest/gtest.h>

#include "updater/engine.h"
#include "updater/log.h"
#include "updater/postreset.h"

namespace updater {
namespace {

TEST(VersionInfo, ReadsFilesPathsAndVersionInLowerCase) {
    LocalList list = ParseVersionInfo(
        "<VER>0.01\r\n"
        "  \t<FILE>Parlo.exe\t1.9\r\n"
        "<FILE>\\Windows\\Cordis.DLL 2.0  \r\n"
        "<file>data\\vok.dat\t\t1.0\r\n"
        "just text\r\n"
        "<unknown>x\r\n"
        "<FILE>last.bin\t3.1");
    EXPECT_EQ(list.version_of_file, "0.01");
    ASSERT_EQ(list.entries.size(), 4u);
    EXPECT_EQ(list.entries[0].path, "");
    EXPECT_EQ(list.entries[0].name, "parlo.exe");
    EXPECT_EQ(list.entries[0].version, "1.9");
    EXPECT_EQ(list.entries[1].path, "\\windows\\");
    EXPECT_EQ(list.entries[1].name, "cordis.dll");
    EXPECT_EQ(list.entries[1].version, "2.0");
    EXPECT_EQ(list.entries[2].path, "data\\");
    EXPECT_EQ(list.entries[2].name, "vok.dat");
    EXPECT_EQ(list.entries[3].name, "last.bin");
    EXPECT_EQ(list.entries[3].version, "3.1");
}

TEST(VersionInfo, OddInputGivesWhatItCan) {
    EXPECT_TRUE(ParseVersionInfo("").entries.empty());
    EXPECT_TRUE(ParseVersionInfo("<").entries.empty());
    EXPECT_TRUE(ParseVersionInfo("<file").entries.empty());
    EXPECT_TRUE(ParseVersionInfo("\r\r\n\n\r").entries.empty());
    // LF-only lines are lines too.
    EXPECT_EQ(ParseVersionInfo("<file>a 1\n<file>b 2\n").entries.size(), 2u);
    LocalList bare = ParseVersionInfo("<file>");
    ASSERT_EQ(bare.entries.size(), 1u);
    EXPECT_EQ(bare.entries[0].name, "");
}

const char kUpdateInfo[] =
    "<ver>0.01\r\n"
    "<group_bin>\r\n"
    "<label>Program Files\r\n"
    "<bin>parlo.exe 2.0\r\n"
    "<group_db>\r\n"
    "<label>Database\r\n"
    "<cfg>vok.dat 1.5 parlo.exe 2.0\r\n"
    "<group_user>\r\n"
    "<label>Add-ons\r\n"
    "<usr>\\addons\\skin.bmp 1.0\r\n"
    "<group_int>\r\n"
    "<label>Internal\r\n"
    "<cvr>sub\\inner.bin 1.1 inner.cab vok.dat 1.5 parlo.exe 2.0\r\n";

TEST(UpdateInfo, ReadsGroupsEntriesAndDependencies) {
    ServerList server;
    ASSERT_EQ(ParseUpdateInfo(kUpdateInfo, &server, nullptr), ParseStatus::kOk);
    EXPECT_EQ(server.required_version, "0.01");
    EXPECT_FALSE(server.post_reset_copy);
    ASSERT_EQ(server.groups.size(), 4u);
    EXPECT_EQ(server.groups[0].label, "program files");  // lines are lower-cased
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(server.groups[k].kind, k);
        EXPECT_TRUE(server.groups[k].selected);
    }
    ASSERT_EQ(server.entries.size(), 4u);
    EXPECT_EQ(server.entries[1].kind, KIND_CFG);
    ASSERT_EQ(server.entries[1].deps.size(), 1u);
    EXPECT_EQ(server.entries[1].deps[0].name, "parlo.exe");
    EXPECT_EQ(server.entries[1].deps[0].version, "2.0");
    EXPECT_EQ(server.entries[2].path, "\\addons\\");
    EXPECT_EQ(server.entries[2].name, "skin.bmp");
    const ServerEntry& cvr = server.entries[3];
    EXPECT_EQ(cvr.path, "sub\\");
    EXPECT_EQ(cvr.name, "inner.bin");
    EXPECT_EQ(cvr.extra, "inner.cab");
    EXPECT_EQ(cvr.deps.size(), 2u);
}

TEST(UpdateInfo, GroupsNeedAKnownKeyAndResetModeIsATag) {
    ServerList server;
    ASSERT_EQ(ParseUpdateInfo("<group_other>\r\n<label>Nothing\r\n<label>Before\r\n"
                              "<postresetcopy>\r\n<group_bin>\r\n<label>Bin\r\n",
                              &server, nullptr),
              ParseStatus::kOk);
    ASSERT_EQ(server.groups.size(), 1u);
    EXPECT_EQ(server.groups[0].label, "bin");
    EXPECT_TRUE(server.post_reset_copy);
}

TEST(UpdateInfo, AnHtmlPageIsNoFileList) {
    ServerList server;
    std::string line;
    EXPECT_EQ(ParseUpdateInfo("<!DOCTYPE html>\n<html><body>Moved</body></html>", &server, &line),
              ParseStatus::kNotUpdateList);
    EXPECT_EQ(line, "<!doctype html>");
    EXPECT_EQ(ParseUpdateInfo("<group_bin>\r\n<HTML>\r\n<bin>a 1\r\n", &server, nullptr),
              ParseStatus::kNotUpdateList);
}

TEST(UpdateInfo, RefusesUnsafeAndMalformedEntries) {
    const std::pair<const char*, ParseStatus> bad[] = {
        // Paths that leave their directory.
        {"<bin>..\\..\\evil.bin 1.0", ParseStatus::kUnsafePath},
        {"<bin>\\..\\etc\\evil 1.0", ParseStatus::kUnsafePath},
        {"<bin>sub\\..\\..\\x 1.0", ParseStatus::kUnsafePath},
        {"<bin>a/../../b 1.0", ParseStatus::kUnsafePath},  // a name with a separator
        {"<bin>/etc/passwd 1.0", ParseStatus::kUnsafePath},
        {"<bin>/etc\\passwd 1.0", ParseStatus::kUnsafePath},  // a native directory
        {"<bin>.. 1.0", ParseStatus::kUnsafePath},
        {"<cvr>a.bin 1.0 ..", ParseStatus::kUnsafePath},
        {"<usr>a\x01 1.0", ParseStatus::kUnsafePath},
        {"<bin>.. ", ParseStatus::kUnsafePath},  // unsafe before it is incomplete
        // Entries that are incomplete or have too much.
        {"<bin>sub\\ 1.0", ParseStatus::kBadEntry},  // no name
        {"<bin>a.bin", ParseStatus::kBadEntry},      // no version
        {"<bin>", ParseStatus::kBadEntry},
        {"<bin>a.bin 1.0 extra", ParseStatus::kBadEntry},  // binaries have no dependencies
        {"<cfg>a.db 1.0 b.bin", ParseStatus::kBadEntry},   // half a dependency
        {"<cvr>a.bin 1.0", ParseStatus::kBadEntry},        // no extra file
    };
    for (auto [line, status] : bad) {
        ServerList server;
        std::string got;
        EXPECT_EQ(ParseUpdateInfo(std::string("<group_bin>\r\n<label>b\r\n") + line + "\r\n",
                                  &server, &got),
                  status)
            << line;
        EXPECT_FALSE(got.empty());
    }
    ServerList server;
    EXPECT_EQ(ParseUpdateInfo("<bin>..x\\a..b 1.0\r\n<bin>sub\\.\\ok 1\r\n", &server, nullptr),
              ParseStatus::kOk);
}

TEST(UpdateInfo, AFileWithoutAnyListLineIsGarbage) {
    ServerList server;
    for (std::string text : {std::string(), std::string("\r\n \r\n"), std::string("hello world\n"),
                             std::string("<unknown>x\r\n<foo>\r\n"),
                             std::string("<group_bin>\r\n<label>b\r\n\0", 24)}) {
        EXPECT_EQ(ParseUpdateInfo(text, &server, nullptr), ParseStatus::kGarbage) << text;
    }
    // A list that offers nothing is still a list.
    EXPECT_EQ(ParseUpdateInfo("<ver>0.01\r\n", &server, nullptr), ParseStatus::kOk);
    EXPECT_EQ(ParseUpdateInfo("<group_bin>\r\n<label>b\r\n", &server, nullptr), ParseStatus::kOk);
}

ServerList Server(const char* text) {
    ServerList server;
    EXPECT_EQ(ParseUpdateInfo(text, &server, nullptr), ParseStatus::kOk);
    return server;
}

TEST(Compare, TextComparisonNewFilesAndGroups) {
    ServerList server = Server(
        "<group_bin>\r\n<label>B\r\n"
        "<bin>a.exe 1.10\r\n"  // 1.10 < 1.9 as text: no update
        "<bin>b.exe 2.0\r\n"   // newer
        "<bin>c.exe 1.0\r\n"   // equal
        "<bin>d.exe 0.9\r\n"   // older
        "<bin>n.exe 1.0\r\n"   // new
        "<cfg>x.db 1.0\r\n");  // no group of its kind: not offered
    LocalList local = ParseVersionInfo(
        "<FILE>a.exe\t1.9\r\n<FILE>b.exe\t1.0\r\n<FILE>c.exe\t1.0\r\n<FILE>d.exe\t1.0\r\n");
    std::vector<UpdateItem> items;
    ASSERT_TRUE(CompareLists(&server, local, &items));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "b.exe");
    EXPECT_FALSE(items[0].is_new);
    EXPECT_EQ(items[1].name, "n.exe");
    EXPECT_TRUE(items[1].is_new);
    EXPECT_EQ(server.groups[0].items, (std::vector<size_t>{0, 1}));

    ServerList same = Server("<group_bin>\r\n<label>B\r\n<bin>a.exe 1.10\r\n");
    EXPECT_FALSE(CompareLists(&same, local, &items));
    EXPECT_TRUE(items.empty());
}

TEST(Compare, ItemsJoinTheFirstGroupOfTheirKind) {
    ServerList server = Server(
        "<group_bin>\r\n<label>One\r\n<group_bin>\r\n<label>Two\r\n<bin>a 1\r\n<bin>b 1\r\n");
    std::vector<UpdateItem> items;
    ASSERT_TRUE(CompareLists(&server, LocalList(), &items));
    EXPECT_EQ(server.groups[0].items.size(), 2u);
    EXPECT_TRUE(server.groups[1].items.empty());
}

struct Selection {
    ServerList server;
    LocalList local;
    std::vector<UpdateItem> items;
    Selection() {
        server = Server(
            "<group_bin>\r\n<label>Programs\r\n"
            "<bin>core.exe 2.0\r\n"
            "<bin>tool.exe 2.0\r\n"
            "<group_db>\r\n<label>Data\r\n"
            "<cfg>data.db 2.0 core.exe 2.0 lib.dll 1.0\r\n"
            "<group_int>\r\n<label>Internal\r\n"
            "<cvr>lib.dll 1.0 lib.cab\r\n");
        local = ParseVersionInfo(
            "<FILE>core.exe\t1.0\r\n<FILE>tool.exe\t1.0\r\n"
            "<FILE>data.db\t1.0\r\n");
        CompareLists(&server, local, &items);
        int64_t size = 1024;
        for (UpdateItem& item : items)
            item.size = size *= 2;
        EXPECT_EQ(items.size(), 4u);  // every file of the list differs from the device
    }
    const UpdateItem& Item(const std::string& name) {
        for (const UpdateItem& i : items) {
            if (i.name == name)
                return i;
        }
        ADD_FAILURE() << name << " is not in the comparison";
        static UpdateItem none;
        return none;
    }
};

TEST(Select, SelectedGroupsAndTheirSizes) {
    Selection s;
    SelectFiles(&s.server.groups, &s.items, s.local, false);
    for (const UpdateItem& item : s.items)
        EXPECT_TRUE(item.download) << item.name;
    EXPECT_EQ(s.server.groups[0].size, 2048 + 4096);
    EXPECT_EQ(s.server.groups[1].size, 8192);
    EXPECT_EQ(s.server.groups[2].size, 16384);
}

TEST(Select, ADependencyPullsAFileOfAnUncheckedGroup) {
    Selection s;
    s.server.groups[0].selected = false;  // Programs
    s.server.groups[2].selected = false;  // Internal
    SelectFiles(&s.server.groups, &s.items, s.local, false);
    EXPECT_TRUE(s.Item("core.exe").download);   // data.db needs core.exe 2.0, device has 1.0
    EXPECT_FALSE(s.Item("tool.exe").download);  // nobody needs it
    EXPECT_TRUE(s.Item("lib.dll").download);    // missing on the device
    EXPECT_EQ(s.server.groups[0].size, 2048);
    EXPECT_EQ(s.server.groups[2].size, 16384);

    // Nothing checked that needs anything: nothing is pulled.
    s.server.groups[1].selected = false;
    SelectFiles(&s.server.groups, &s.items, s.local, false);
    for (const UpdateItem& item : s.items)
        EXPECT_FALSE(item.download) << item.name;
    for (const Group& g : s.server.groups)
        EXPECT_EQ(g.size, 0);
}

TEST(Select, ASatisfiedDependencyPullsNothingAndAllFlagsEverything) {
    Selection s;
    s.local.entries[0].version = "2.0";  // core.exe already new enough
    s.local.entries.push_back({"", "lib.dll", "1.0"});
    s.server.groups[0].selected = false;
    s.server.groups[2].selected = false;
    SelectFiles(&s.server.groups, &s.items, s.local, false);
    EXPECT_FALSE(s.Item("core.exe").download);
    EXPECT_FALSE(s.Item("lib.dll").download);
    SelectFiles(&s.server.groups, &s.items, s.local, true);
    for (const UpdateItem& item : s.items)
        EXPECT_TRUE(item.download) << item.name;
}

TEST(VersionInfoRewrite, KeepsUnchangedAndUnchosenAddsNew) {
    LocalList local = ParseVersionInfo(
        "<VER>0.00\r\n<FILE>a.exe\t1.0\r\n<FILE>data\\b.db\t1.0\r\n<FILE>keep.txt\t5\r\n");
    std::vector<UpdateItem> items(3);
    items[0].name = "a.exe";
    items[0].version = "2.0";
    items[0].download = true;
    items[1].name = "b.db";
    items[1].path = "data\\";
    items[1].version = "2.0";
    items[1].download = false;  // its group was not chosen
    items[2].name = "new.exe";
    items[2].path = "\\bin\\";
    items[2].version = "1.0";
    items[2].download = true;
    EXPECT_EQ(FormatVersionInfo("0.01", items, local),
              "<VER>0.01\r\n"
              "<FILE>a.exe\t2.0\r\n"
              "<FILE>data\\b.db\t1.0\r\n"
              "<FILE>\\bin\\new.exe\t1.0\r\n"
              "<FILE>keep.txt\t5\r\n");
    // What it writes reads back the same.
    LocalList again = ParseVersionInfo(FormatVersionInfo("0.01", items, local));
    EXPECT_EQ(again.entries.size(), 4u);
    EXPECT_EQ(again.entries[2].path, "\\bin\\");
}

TEST(LogLine, FormatHasNoLeadingZerosAndATrailingBlank) {
    EXPECT_EQ(Log::FormatLine(9, 5, 3, u"Parsing done."), u"9:5:3: Parsing done. \n");
    EXPECT_EQ(Log::FormatLine(23, 59, 10, u""), u"23:59:10:  \n");
}

TEST(CommandLine, NameAndDirectoryAfterTheirPrefixes) {
    std::string name, dir;
    ParseCommandLine("-app:Parlo -path:\"\\Program Files\\Parlo\"", &name, &dir);
    EXPECT_EQ(name, "Parlo");
    EXPECT_EQ(dir, "\\Program Files\\Parlo");
    ParseCommandLine("-app:demo '-path:/opt/demo'", &name, &dir);
    EXPECT_EQ(dir, "/opt/demo");
    ParseCommandLine("", &name, &dir);
    EXPECT_EQ(name, "");
    EXPECT_EQ(dir, "");
    ParseCommandLine("-app: -pa", &name, &dir);
    EXPECT_EQ(name, "");
    EXPECT_EQ(dir, "");
    ParseCommandLine("-app:solo", &name, &dir);  // no blank: no directory
    EXPECT_EQ(name, "solo");
    EXPECT_EQ(dir, "");
}

TEST(SelfTmp, TwoLines) {
    std::string name, dir;
    ParseSelfTmp("demo\n\\app\n", &name, &dir);
    EXPECT_EQ(name, "demo");
    EXPECT_EQ(dir, "\\app");
    ParseSelfTmp("only", &name, &dir);
    EXPECT_EQ(name, "only");
    EXPECT_EQ(dir, "");
    ParseSelfTmp("a\r\nb\r\n", &name, &dir);
    EXPECT_EQ(name, "a");
    EXPECT_EQ(dir, "b");
}

TEST(PostResetList, PairsOfLinesAndOnlyPlainNames) {
    std::vector<PendingFile> files =
        ParsePostResetList("a.exe\n\\app\\\n../x\n\\app\\\nb.db\n/opt/app\\data\\\ndangling\n");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "a.exe");
    EXPECT_EQ(files[0].directory, "\\app\\");
    EXPECT_EQ(files[1].name, "b.db");
    EXPECT_EQ(files[1].directory, "/opt/app\\data\\");
    EXPECT_TRUE(ParsePostResetList("").empty());
}

TEST(LocalPathTest, NativeAndHandheldDirectories) {
    EXPECT_EQ(LocalPath("/opt/app\\data\\"), std::filesystem::path("/opt/app/data/"));
    EXPECT_EQ(LocalPath("/opt//app\\\\x"), std::filesystem::path("/opt/app/x"));
}

}  // namespace
}  // namespace updater
