#include "parlo/store/folder_table.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "parlo/store/sms_message.h"
#include "parlo/store/tests/test_util.h"
#include "parlo_strings.h"
#include "platform/binio.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace parlo {
namespace {

using platform::Hive;

class FolderTableTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    platform::Registry reg{dir / "registry.reg"};
    const platform::StringTable& strings = strings::parlo();
};

TEST_F(FolderTableTest, MissingProfileKeyGivesAnEmptyTable) {
    CFolderTable t;
    EXPECT_EQ(t.Load(reg, strings), FolderResult::kOk);
    EXPECT_EQ(t.size(), 0u);
}

TEST_F(FolderTableTest, FixedFoldersAreNamedFromTheStringTable) {
    reg.CreateKey(Hive::CurrentUser, platform::kProfileKey);
    CFolderTable t;
    ASSERT_EQ(t.Load(reg, strings), FolderResult::kOk);
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t.ById(FOLDER_INBOX)->m_strName, u"Inbox");
    EXPECT_EQ(t.ById(FOLDER_RECYCLE)->m_strName, u"Recycle Bin");
    EXPECT_EQ(t.ByName(u"Sent Messages")->m_nId, FOLDER_SENT);
    EXPECT_TRUE(t.UserFolders().empty());
    EXPECT_EQ(StateForFolder(FOLDER_INBOX), STATE_READ);
    EXPECT_EQ(StateForFolder(FOLDER_RECYCLE), STATE_DELETED);
    EXPECT_EQ(StateForFolder(17), STATE_IN_FOLDER);
    EXPECT_EQ(StateForFolder(2006), -1);
}

TEST_F(FolderTableTest, SaveWritesIdThenNameAndLoadReadsItBack) {
    reg.CreateKey(Hive::CurrentUser, platform::kProfileKey);
    reg.SetString(Hive::CurrentUser, platform::kProfileKey, "Other", "kept");
    CFolderTable t;
    t.Load(reg, strings);
    t.Add(u"Work");
    t.Add(u"Family \u00e9");
    t.Add(u"Old");
    ASSERT_EQ(t.Save(reg), FolderResult::kOk);
    auto values = reg.Values(Hive::CurrentUser, platform::kProfileKey);
    ASSERT_EQ(values.size(), 7u);
    EXPECT_EQ(values[0].name, "Other");
    EXPECT_EQ(values[1].name, "I0");
    EXPECT_EQ(values[1].str, "1");
    EXPECT_EQ(values[2].name, "N0");
    EXPECT_EQ(values[2].str, "Work");
    EXPECT_EQ(values[5].name, "I2");
    EXPECT_EQ(values[6].str, "Old");

    CFolderTable back;
    back.Load(reg, strings);
    ASSERT_EQ(back.UserFolders().size(), 3u);
    EXPECT_EQ(back.ById(1)->m_strName, u"Work");
    EXPECT_EQ(back.ById(2)->m_strName, u"Family \u00e9");
    EXPECT_EQ(back.ById(3)->m_strName, u"Old");
    EXPECT_EQ(back.LastUsedId(), 3);
}

TEST_F(FolderTableTest, PairsIdAndNameBySuffixWhateverTheOrder) {
    const std::string key = platform::kProfileKey;
    // Names first, ids in another order: pairing by the previous value would
    // give the wrong names.
    reg.SetString(Hive::CurrentUser, key, "N1", "Second");
    reg.SetString(Hive::CurrentUser, key, "N0", "First");
    reg.SetString(Hive::CurrentUser, key, "I0", "5");
    reg.SetString(Hive::CurrentUser, key, "I1", "9");
    reg.SetDword(Hive::CurrentUser, key, "I2", 3);  // not REG_SZ: ignored
    CFolderTable t;
    t.Load(reg, strings);
    ASSERT_EQ(t.UserFolders().size(), 2u);
    EXPECT_EQ(t.ById(5)->m_strName, u"First");
    EXPECT_EQ(t.ById(9)->m_strName, u"Second");
    EXPECT_EQ(t.LastUsedId(), 9);
}

TEST_F(FolderTableTest, IdWithoutItsNameTakesThePrecedingValueAndBadIdsAreSkipped) {
    const std::string key = platform::kProfileKey;
    reg.SetString(Hive::CurrentUser, key, "Nx", "Lonely");
    reg.SetString(Hive::CurrentUser, key, "I7", "4");
    reg.SetString(Hive::CurrentUser, key, "I8", "2001");  // would shadow the Inbox
    reg.SetString(Hive::CurrentUser, key, "I9", "0");
    reg.SetString(Hive::CurrentUser, key, "I10", "junk");
    CFolderTable t;
    t.Load(reg, strings);
    ASSERT_EQ(t.UserFolders().size(), 1u);
    EXPECT_EQ(t.ById(4)->m_strName, u"Lonely");
    EXPECT_EQ(t.ById(FOLDER_INBOX)->m_strName, u"Inbox");
}

TEST_F(FolderTableTest, NewFolderIdIsAboveEveryIdInUseAfterADelete) {
    reg.CreateKey(Hive::CurrentUser, platform::kProfileKey);
    CFolderTable t;
    t.Load(reg, strings);
    t.Add(u"1");
    t.Add(u"2");
    t.Add(u"3");
    t.Remove(t.ById(1));
    t.Save(reg);
    EXPECT_EQ(t.Add(u"4")->m_nId, 4);
    EXPECT_EQ(t.ByName(u"1"), nullptr);

    // Renaming re-keys the name index; duplicate names are accepted.
    CSmsFolder* f = t.ById(2);
    t.Rename(f, u"3");
    EXPECT_EQ(t.ByName(u"2"), nullptr);
    EXPECT_EQ(t.ById(2)->m_strName, u"3");
}

TEST_F(FolderTableTest, ExhaustedCounterReusesAFreeIdInsteadOfAFixedOne) {
    const std::string key = platform::kProfileKey;
    reg.SetString(Hive::CurrentUser, key, "I0", "1999");
    reg.SetString(Hive::CurrentUser, key, "N0", "Last");
    CFolderTable t;
    t.Load(reg, strings);
    CSmsFolder* f = t.Add(u"Next");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->m_nId, 1);
    EXPECT_EQ(t.ById(FOLDER_OUTBOX)->m_strName, u"Outbox");
}

// Ids that records still carry (their folder missing from a damaged
// registry) are never given to a new folder, on either path of the counter.
TEST_F(FolderTableTest, NewFolderSkipsIdsThatRecordsUse) {
    const std::string key = platform::kProfileKey;
    reg.SetString(Hive::CurrentUser, key, "I0", "1");
    reg.SetString(Hive::CurrentUser, key, "N0", "Kept");
    CFolderTable t;
    t.Load(reg, strings);
    auto used = [](int32_t id) { return id == 2 || id == 3 || id == 5; };
    EXPECT_EQ(t.Add(u"a", used)->m_nId, 4);
    EXPECT_EQ(t.Add(u"b", used)->m_nId, 6);

    reg.SetString(Hive::CurrentUser, key, "I1", "1999");
    reg.SetString(Hive::CurrentUser, key, "N1", "Last");
    CFolderTable full;
    full.Load(reg, strings);
    CSmsFolder* f = full.Add(u"c", used);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->m_nId, 4);
    CFolderTable none;
    none.Load(reg, strings);
    EXPECT_EQ(none.Add(u"d", [](int32_t id) { return id != 1999; }), nullptr);
}

TEST_F(FolderTableTest, SaveRemovesValuesOfDeletedFolders) {
    reg.CreateKey(Hive::CurrentUser, platform::kProfileKey);
    CFolderTable t;
    t.Load(reg, strings);
    t.Add(u"a");
    t.Add(u"b");
    t.Save(reg);
    t.Remove(t.ById(1));
    t.Remove(t.ById(2));
    ASSERT_EQ(t.Save(reg), FolderResult::kOk);
    EXPECT_TRUE(reg.Values(Hive::CurrentUser, platform::kProfileKey).empty());
}

// Two programs add folders at the same time, each from a table it read
// long before: every folder survives, each with an id of its own.
TEST_F(FolderTableTest, FoldersAddedByTwoProgramsAtOnceAllSurviveWithIdsOfTheirOwn) {
    reg.CreateKey(Hive::CurrentUser, platform::kProfileKey);
    const int kPerProcess = 15;
    pid_t pids[2];
    for (int p = 0; p < 2; ++p) {
        pids[p] = fork();
        ASSERT_GE(pids[p], 0);
        if (pids[p] == 0) {
            platform::Registry mine(dir / "registry.reg");
            bool ok = true;
            for (int i = 0; i < kPerProcess; ++i) {
                CFolderTable t;
                std::u16string name = u"p" + std::u16string(1, u'0' + p) + u"-" +
                                      std::u16string(1, static_cast<char16_t>(u'a' + i));
                ok &= t.Update(mine, strings, [&](CFolderTable& table) {
                    return table.Add(name) != nullptr;
                }) == FolderResult::kOk;
            }
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    CFolderTable t;
    ASSERT_EQ(t.Load(reg, strings), FolderResult::kOk);
    ASSERT_EQ(t.UserFolders().size(), 2u * kPerProcess);
    std::set<int32_t> ids;
    for (CSmsFolder* f : t.UserFolders())
        ids.insert(f->m_nId);
    EXPECT_EQ(ids.size(), 2u * kPerProcess);
}

// A table read before another program added a folder: a change made through
// Update starts from what is on disk, so the other folder and its id stay.
TEST_F(FolderTableTest, UpdateStartsFromTheTableOnDiskAndAChangeNotMadeWritesNothing) {
    reg.CreateKey(Hive::CurrentUser, platform::kProfileKey);
    CFolderTable stale;
    ASSERT_EQ(stale.Load(reg, strings), FolderResult::kOk);
    CFolderTable other;
    ASSERT_EQ(
        other.Update(reg, strings, [](CFolderTable& t) { return t.Add(u"Receipts") != nullptr; }),
        FolderResult::kOk);
    const int32_t receipts = other.ByName(u"Receipts")->m_nId;

    bool read = false;
    int32_t jokes = 0;
    ASSERT_EQ(stale.Update(
                  reg, strings,
                  [&](CFolderTable& t) {
                      jokes = t.Add(u"Jokes")->m_nId;
                      return true;
                  },
                  &read),
              FolderResult::kOk);
    EXPECT_TRUE(read);
    EXPECT_NE(jokes, receipts);
    CFolderTable now;
    ASSERT_EQ(now.Load(reg, strings), FolderResult::kOk);
    ASSERT_NE(now.ById(receipts), nullptr);
    EXPECT_EQ(now.ById(receipts)->m_strName, u"Receipts");
    EXPECT_EQ(now.ById(jokes)->m_strName, u"Jokes");

    // Refused changes leave the file as it was.
    const auto before = std::filesystem::last_write_time(dir / "registry.reg");
    std::string text_before;
    ASSERT_TRUE(platform::ReadFileBytes(dir / "registry.reg", &text_before));
    EXPECT_EQ(now.Update(reg, strings,
                         [](CFolderTable& t) {
                             t.Add(u"Not kept");
                             return false;
                         }),
              FolderResult::kOk);
    std::string text_after;
    ASSERT_TRUE(platform::ReadFileBytes(dir / "registry.reg", &text_after));
    EXPECT_EQ(text_after, text_before);
    EXPECT_EQ(std::filesystem::last_write_time(dir / "registry.reg"), before);
}

}  // namespace
}  // namespace parlo
