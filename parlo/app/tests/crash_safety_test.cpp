// Every writer of user files, under a file system that fails on demand: a
// failing write, sync or rename, a short write, and a crash after each single
// change. After any of them the files hold the old data or the new data,
// whole; the failure is reported as a failure, and the user is told.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/store/tests/test_util.h"
#include "platform/testing/faulty_env.h"

namespace parlo {
namespace {

namespace fs = std::filesystem;
using platform::Answer;
using platform::testing::FaultyEnv;
using Op = FaultyEnv::Op;

using Files = std::map<std::string, std::string>;

// The files of a data directory, by name relative to it. Temporary files
// left by an interrupted replacement are not part of the data.
Files ReadTree(const fs::path& dir) {
    Files out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file())
            continue;
        std::string name = fs::relative(e.path(), dir).string();
        if (name.find(".tmp-") != std::string::npos || name == "vok.tmp" ||
            name.find(".lock") != std::string::npos)
            continue;
        out[name] = testing::ReadFile(e.path());
    }
    return out;
}

// One write path: the state before it, the change, and how a fresh program
// sees the result.
struct WritePath {
    std::string name;
    std::function<void(CParloDoc&)> prepare;
    // True when the change reports success.
    std::function<bool(CParloDoc&)> change;
    // What the user is shown when it fails (empty: the front end tells).
    std::u16string told;
    // A further state, between old and new, that is whole too (null: none).
    std::function<bool(CParloDoc&)> between;
};

class CrashSafetyTest : public ::testing::Test {
  protected:
    testing::TempDir base;
    testing::TempDir work;
    platform::ScriptedPrompt prompt;
    NullParloView view;

    std::unique_ptr<CParloDoc> Open(const fs::path& dir) {
        setenv("SKYVANE_HOME", dir.c_str(), 1);
        setenv("SKYVANE_ROOT", dir.c_str(), 1);
        auto doc = std::make_unique<CParloDoc>(&view, &prompt);
        StartOptions opt;
        opt.require_ports = false;
        opt.auto_sync = false;
        EXPECT_TRUE(doc->Start(nullptr, opt));
        prompt.Clear();
        prompt.SetDefault(Answer::Yes);
        return doc;
    }

    void CopyBaseToWork() {
        fs::remove_all(work.path());
        fs::create_directories(work.path());
        fs::copy(base.path(), work.path(), fs::copy_options::recursive);
    }

    // Runs the change once without faults (to learn how many changes it
    // makes and what the new files are), then once for every crash point
    // and every injected fault. Returns the number of crash points walked.
    int Walk(const WritePath& path) {
        SCOPED_TRACE(path.name);
        for (const auto& e : fs::directory_iterator(base.path()))
            fs::remove_all(e.path());
        {
            auto doc = Open(base.path());
            path.prepare(*doc);
        }
        const Files old_files = ReadTree(base.path());

        CopyBaseToWork();
        int changes = 0;
        Files new_files;
        {
            auto doc = Open(work.path());
            FaultyEnv env;
            EXPECT_TRUE(path.change(*doc));
            changes = env.changes();
            new_files = ReadTree(work.path());
        }
        EXPECT_NE(old_files, new_files) << "the change changes nothing";
        EXPECT_GT(changes, 0);

        auto check_whole = [&](const std::string& what) {
            SCOPED_TRACE(what);
            if (path.between) {
                auto doc = Open(work.path());
                if (path.between(*doc))
                    return;
            }
            Files now = ReadTree(work.path());
            for (const auto& [name, bytes] : now) {
                auto o = old_files.find(name);
                auto n = new_files.find(name);
                bool is_old = o != old_files.end() && o->second == bytes;
                bool is_new = n != new_files.end() && n->second == bytes;
                EXPECT_TRUE(is_old || is_new) << name << " is neither the old nor the new file";
            }
            for (const auto& [name, bytes] : old_files) {
                if (!now.count(name)) {
                    EXPECT_TRUE(!new_files.count(name)) << name << " vanished";
                }
            }
            // A fresh program reads all of it.
            auto doc = Open(work.path());
            LoadReport report;
            EXPECT_EQ(Inside(*doc).m_store.LoadMessages(&report), StoreResult::kOk);
            EXPECT_EQ(report.good_length, report.file_length);
            EXPECT_EQ(doc->LoadSettings(), 1);
            EXPECT_EQ(doc->LoadFolderTable(), 1);
        };
        auto failed_and_told = [&](bool result, const std::string& what) {
            EXPECT_FALSE(result) << what << " reported success";
            if (!path.told.empty()) {
                ASSERT_FALSE(prompt.texts().empty()) << what << ": the user was not told";
                EXPECT_EQ(prompt.texts().back(), path.told) << what;
            }
        };

        for (int k = 0; k < changes; ++k) {
            CopyBaseToWork();
            const std::string what = "crash after change " + std::to_string(k);
            {
                auto doc = Open(work.path());
                FaultyEnv env;
                env.CrashAfter(k);
                bool result = path.change(*doc);
                EXPECT_TRUE(env.crashed()) << what;
                failed_and_told(result, what);
                doc.reset();  // the program is gone; nothing more is written
            }
            check_whole(what);
        }

        struct Fault {
            const char* what;
            std::function<void(FaultyEnv&)> arm;
        };
        const std::vector<Fault> faults = {
            {"first open for writing fails", [](FaultyEnv& e) { e.FailNth(Op::kOpen, 1); }},
            {"first write fails", [](FaultyEnv& e) { e.FailNth(Op::kWrite, 1); }},
            {"second write fails", [](FaultyEnv& e) { e.FailNth(Op::kWrite, 2); }},
            {"first write is short", [](FaultyEnv& e) { e.ShortWriteNth(1); }},
            {"first sync fails", [](FaultyEnv& e) { e.FailNth(Op::kSync, 1); }},
            {"first rename fails", [](FaultyEnv& e) { e.FailNth(Op::kRename, 1); }},
        };
        for (const Fault& f : faults) {
            CopyBaseToWork();
            {
                auto doc = Open(work.path());
                FaultyEnv env;
                f.arm(env);
                bool result = path.change(*doc);
                // A fault that the path never meets (no sync, no rename)
                // must leave it a success.
                if (env.changes() == changes && result) {
                    EXPECT_EQ(ReadTree(work.path()), new_files) << f.what;
                    continue;
                }
                failed_and_told(result, f.what);
            }
            check_whole(f.what);
        }
        return changes;
    }
};

// Messages of the store, deterministic (no "now" time stamps).
void AddSome(CParloDoc& doc, int n) {
    for (int i = 0; i < n; ++i) {
        doc.AddReceived(STATE_READ, u"+49170" + std::u16string(1, u'0' + i % 10),
                        u"message " + std::u16string(1, u'a' + i % 26), {45000.0 + i, 0},
                        STORAGE_SIM, i + 1);
    }
}

TEST_F(CrashSafetyTest, EveryWritePathKeepsTheOldDataWhole) {
    const std::u16string kSaveFailed = u"Save failed.";
    const std::vector<WritePath> paths = {
        {"append", [](CParloDoc& d) { AddSome(d, 3); },
         [](CParloDoc& d) {
             return static_cast<bool>(
                 d.AddReceived(STATE_UNREAD, u"+4930", u"new", {45100.0, 0}, STORAGE_PHONE, 9));
         },
         kSaveFailed, nullptr},
        {"rewrite in place", [](CParloDoc& d) { AddSome(d, 3); },
         [](CParloDoc& d) { return d.MoveToFolder(Inside(d).m_store.At(1), 2002) == 1; },
         kSaveFailed, nullptr},
        {"changed text: new version appended, old one to the bin",
         [](CParloDoc& d) { AddSome(d, 3); },
         [](CParloDoc& d) {
             CSmsMessage* rec = Inside(d).m_store.At(1);
             return static_cast<bool>(d.SaveDraft(rec, rec->m_strNumber, u"longer text now"));
         },
         kSaveFailed,
         // The new version is appended first: a crash before the old one is
         // marked leaves both, still shown where they were.
         [](CParloDoc& d) {
             return Inside(d).m_store.Count() == 4 &&
                    Inside(d).m_store.At(1)->m_nState == STATE_READ &&
                    Inside(d).m_store.At(1)->m_strText == u"message b" &&
                    Inside(d).m_store.At(3)->m_strText == u"longer text now";
         }},
        {"compaction (empty the recycle bin)",
         [](CParloDoc& d) {
             AddSome(d, 4);
             d.DeleteMessage(Inside(d).m_store.At(0));
             d.DeleteMessage(Inside(d).m_store.At(2));
         },
         [](CParloDoc& d) { return d.EmptyRecycleBin() == 1; }, kSaveFailed, nullptr},
        {"settings", [](CParloDoc&) {},
         [](CParloDoc& d) {
             CSettings s = d.Settings();
             s.m_bAutoSync = 1;
             s.m_nAutoSyncInterval = 25;
             s.m_strSmsCentre = u"+491720000";
             s.m_bUsePort = 1;
             s.m_strUserPort = u"COM5:";
             s.m_nPhonebookFlags = PB_SIM;
             d.SetSettings(s);
             return d.SaveSettings() == 1;
         },
         u"", nullptr},
        {"folder table",
         [](CParloDoc& d) {
             d.AddFolder(u"Work");
             d.AddFolder(u"Home");
         },
         [](CParloDoc& d) {
             Inside(d).m_folders.Rename(Inside(d).m_folders.ById(1), u"Office");
             Inside(d).m_folders.Add(u"Travel");
             return d.SaveFolderTable() == 1;
         },
         u"Access to registers failed.", nullptr},
        {"phonebook file",
         [](CParloDoc& d) {
             Inside(d).m_phonebook.m_entries.push_back(
                 std::make_unique<CPhonebookEntry>(STORAGE_FLAG_SIM | 1, u"Anna", u"+4911"));
             ASSERT_TRUE(d.SavePhonebook());
         },
         [](CParloDoc& d) {
             Inside(d).m_phonebook.m_entries.push_back(
                 std::make_unique<CPhonebookEntry>(STORAGE_FLAG_SIM | 2, u"Bert", u"+4922"));
             return d.SavePhonebook();
         },
         u"", nullptr},
        {"group file",
         [](CParloDoc& d) {
             GroupMemberList members;
             members.push_back(std::make_unique<CGroupMember>());
             members.back()->m_strMemberName = u"Anna";
             fs::create_directories(GroupsFolder(Inside(d).m_dataDir));
             ASSERT_TRUE(SaveGroup(members, GroupPath(Inside(d).m_dataDir, u"Team")));
         },
         [](CParloDoc& d) {
             GroupMemberList members;
             LoadGroup(&members, GroupPath(Inside(d).m_dataDir, u"Team"));
             members.push_back(std::make_unique<CGroupMember>());
             members.back()->m_strMemberName = u"Bert";
             return SaveGroup(members, GroupPath(Inside(d).m_dataDir, u"Team"));
         },
         u"", nullptr},
    };
    int total = 0;
    for (const WritePath& p : paths) {
        int n = Walk(p);
        total += n;
        std::printf("crash points of %s: %d\n", p.name.c_str(), n);
    }
    std::printf("crash points walked: %d\n", total);
}

// A short append (the disk filled up in the middle of a record) must not
// leave half a record in front of the records written after it.
TEST_F(CrashSafetyTest, AShortAppendLeavesNoUnreadableBytesBehind) {
    auto doc = Open(base.path());
    AddSome(*doc, 2);
    {
        FaultyEnv env;
        env.ShortWriteNth(1);
        EXPECT_FALSE(doc->AddReceived(STATE_UNREAD, u"+1", u"half", {1.0, 0}, STORAGE_SIM, 7));
        EXPECT_EQ(prompt.texts().back(), u"Save failed.");
    }
    EXPECT_TRUE(doc->AddReceived(STATE_UNREAD, u"+2", u"whole", {2.0, 0}, STORAGE_SIM, 8));
    doc.reset();
    doc = Open(base.path());
    LoadReport report;
    ASSERT_EQ(Inside(*doc).m_store.LoadMessages(&report), StoreResult::kOk);
    EXPECT_EQ(report.good_length, report.file_length);
    ASSERT_EQ(Inside(*doc).m_store.Count(), 3u);
    EXPECT_EQ(Inside(*doc).m_store.At(2)->m_strText, u"whole");
}

}  // namespace
}  // namespace parlo
