// The document's operations for the front ends: sending, marks, moving,
// folders, display names, options, ports, programs and the hand-off file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/app/tests/started_doc_fixture.h"
#include "parlo/contacts/handoff_file.h"
#include "parlo/store/tests/test_util.h"
#include "platform/ports.h"
#include "platform/process.h"
#include "platform/testing/faulty_env.h"

namespace parlo {
namespace {

class DocOps : public testing::StartedDocTest<NullParloView> {
  protected:
    void TearDown() override { platform::SetProgramStarterForTesting(nullptr); }

    std::vector<CSmsMessage*> InState(int32_t state) {
        std::vector<CSmsMessage*> out;
        Inside(*doc).m_store.ForEach([&](CSmsMessage& m) {
            if (m.m_nState == state)
                out.push_back(&m);
        });
        return out;
    }
};

TEST_F(DocOps, SendQueuesOneMessagePerNumberInOrderAndSkipsEmptyPieces) {
    CParloDoc::SendResult r = doc->Send(u";+4911;;+4922;", u"hello", false);
    EXPECT_EQ(r.queued, 2);
    EXPECT_TRUE(r.not_stored.empty());
    auto outbox = InState(STATE_OUTBOX);
    ASSERT_EQ(outbox.size(), 2u);
    EXPECT_EQ(outbox[0]->m_strNumber, u"+4911");
    EXPECT_EQ(outbox[1]->m_strNumber, u"+4922");
    EXPECT_EQ(doc->Send(u"+4933", u"push", true).queued, 1);
    EXPECT_EQ(InState(STATE_OUTBOX_PUSH).size(), 1u);
    EXPECT_EQ(doc->Send(u";;", u"nobody", false).queued, 0);
}

TEST_F(DocOps, SendingADraftMovesItToTheBinButNotWhenTheMessageWasNotStored) {
    CSmsMessage* draft = doc->AddDraft(u"+4911", u"draft").rec;
    doc->Send(u"+4911", u"draft", false, VIEW_DRAFT, draft);
    EXPECT_EQ(draft->m_nState, STATE_DELETED);

    CSmsMessage* kept = doc->AddDraft(u"+4922", u"kept").rec;
    // The store file becomes unwritable: the queued copy is not stored.
    std::filesystem::remove(Inside(*doc).m_store.StorePath());
    std::filesystem::create_directory(Inside(*doc).m_store.StorePath());
    CParloDoc::SendResult r = doc->Send(u"+4922", u"kept", false, VIEW_DRAFT, kept);
    EXPECT_EQ(r.queued, 0);
    EXPECT_EQ(r.not_stored, std::vector<std::u16string>{u"+4922"});
    EXPECT_EQ(kept->m_nState, STATE_DRAFT);
    EXPECT_FALSE(prompt.texts().empty());  // "Save failed."
}

// A draft to several numbers whose message to one of them was not stored
// stays a draft, whichever of the numbers failed.
TEST_F(DocOps, ADraftStaysWhenTheMessageToOneOfItsNumbersWasNotStored) {
    int partial = 0;
    for (int nth = 1; nth <= 8; ++nth) {
        SCOPED_TRACE("failing open " + std::to_string(nth));
        CSmsMessage* draft = doc->AddDraft(u"+4911;+4922;+4933", u"three").rec;
        ASSERT_NE(draft, nullptr);
        CParloDoc::SendResult r;
        {
            platform::testing::FaultyEnv env;
            env.FailNth(platform::testing::FaultyEnv::Op::kOpen, nth);
            r = doc->Send(u"+4911;+4922;+4933", u"three", false, VIEW_DRAFT, draft);
        }
        EXPECT_EQ(r.queued + static_cast<int>(r.not_stored.size()), 3);
        if (!r.not_stored.empty()) {
            EXPECT_EQ(draft->m_nState, STATE_DRAFT);
            partial += r.queued > 0;
        }
    }
    // Some of the failure points hit one message of several.
    EXPECT_GT(partial, 0);
}

TEST_F(DocOps, MarksAndMovingTheMarkedOrElseTheSelectedRecords) {
    CSmsMessage* a =
        doc->AddReceived(STATE_UNREAD, u"1", u"a", platform::OleDate::Now(), 3, -1).rec;
    CSmsMessage* b = doc->AddReceived(STATE_READ, u"2", u"b", platform::OleDate::Now(), 3, -1).rec;
    CSmsMessage* c = doc->AddReceived(STATE_READ, u"3", u"c", platform::OleDate::Now(), 3, -1).rec;
    std::vector<CSmsMessage*> inbox{a, b, c};
    CSmsFolder* work = doc->AddFolder(u"Work");
    ASSERT_NE(work, nullptr);

    doc->ToggleMark(a);
    doc->ToggleMark(c);
    doc->ToggleMark(c);
    EXPECT_EQ(a->m_bMarked, 1);
    EXPECT_EQ(c->m_bMarked, 0);
    // Marked records go, the selection does not.
    ASSERT_TRUE(doc->MoveMarkedOrSelected(inbox, b, work->m_nId));
    EXPECT_EQ(a->m_nState, STATE_IN_FOLDER);
    EXPECT_EQ(a->m_nFolderId, work->m_nId);
    EXPECT_EQ(a->m_bMarked, 0);
    EXPECT_EQ(b->m_nState, STATE_READ);
    // Nothing marked: the selected one.
    ASSERT_TRUE(doc->MoveMarkedOrSelected({b, c}, b, work->m_nId));
    EXPECT_EQ(b->m_nState, STATE_IN_FOLDER);
    // Neither: 57351 and no change.
    prompt.Clear();
    EXPECT_FALSE(doc->MoveMarkedOrSelected({c}, nullptr, work->m_nId));
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_NE(prompt.texts()[0].find(u"First, you have to select"), std::u16string::npos);
    EXPECT_EQ(c->m_nState, STATE_READ);

    doc->SetMarks({a, b, c}, true);
    EXPECT_TRUE(a->m_bMarked && b->m_bMarked && c->m_bMarked);
    doc->SetMarks({a, b, c}, false);
    EXPECT_FALSE(a->m_bMarked || b->m_bMarked || c->m_bMarked);
    // Marks are not written: a reload shows none.
    doc->ToggleMark(c);
    doc->LoadMessages();
    const std::vector<CSmsMessage*> reloaded = Inside(*doc).m_store.Snapshot();
    EXPECT_EQ(reloaded.size(), 3u);
    for (CSmsMessage* rec : reloaded)
        EXPECT_EQ(rec->m_bMarked, 0);
}

TEST_F(DocOps, AddingAFolderRefusesExistingNamesAndTrims) {
    EXPECT_EQ(doc->AddFolder(u"Inbox"), nullptr);
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_EQ(prompt.texts()[0], u"The folder already exists.");
    CSmsFolder* f = doc->AddFolder(u"  Work ");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->m_strName, u"Work");
    EXPECT_EQ(doc->AddFolder(u"Work"), nullptr);
    EXPECT_EQ(doc->AddFolder(u"work"), nullptr);  // case aside, the name is taken
    EXPECT_EQ(doc->AddFolder(u"   "), nullptr);
}

TEST_F(DocOps, DisplayNamePrefersThePhonebookAndComparesExactly) {
    Inside(*doc).m_contacts.push_back(
        std::make_unique<CContactEntry>(u"Anna Contact", u"+4911", u"", u"", u"", 7));
    Inside(*doc).m_contacts.push_back(
        std::make_unique<CContactEntry>(u"Bert Contact", u"+4922", u"", u"", u"", 8));
    Inside(*doc).m_phonebook.m_entries.push_back(
        std::make_unique<CPhonebookEntry>(1, u"Anna SIM", u"+4911"));
    EXPECT_EQ(doc->DisplayName(u"+4911"), u"Anna SIM");
    EXPECT_EQ(doc->DisplayName(u"+4922"), u"Bert Contact");
    EXPECT_EQ(doc->DisplayName(u"004922"), u"004922");
    EXPECT_EQ(doc->DisplayName(u""), u"");
}

TEST_F(DocOps, OptionsStartStopAndRetimeTheAutomaticRun) {
    CSettings s = Inside(*doc).m_settings;
    s.m_bAutoSync = 1;
    s.m_nAutoSyncInterval = 30;
    EXPECT_EQ(doc->ApplyOptions(s), 1);
    EXPECT_TRUE(doc->IsAutoSyncActive());
    EXPECT_EQ(Inside(*doc).m_settings.m_nAutoSyncInterval, 30);
    s.m_nAutoSyncInterval = 45;
    doc->ApplyOptions(s);
    EXPECT_TRUE(doc->IsAutoSyncActive());
    s.m_bAutoSync = 0;
    doc->ApplyOptions(s);
    EXPECT_FALSE(doc->IsAutoSyncActive());
    // Written: a new document reads it back.
    CParloDoc again(&view, &prompt);
    again.LoadSettings();
    EXPECT_EQ(Inside(again).m_settings.m_nAutoSyncInterval, 45);
}

TEST_F(DocOps, OfferedPortsListThePortListThenTheComPortsThatOpen) {
    for (const char* key : {"ExtModems\\cable", "ExtModems\\other"}) {
        Inside(*doc).m_registry.SetDword(platform::Hive::LocalMachine, key, "DeviceType", 1);
        Inside(*doc).m_registry.SetString(platform::Hive::LocalMachine, key, "FriendlyName",
                                          key + 10);
    }
    Inside(*doc).m_registry.SetString(platform::Hive::LocalMachine, "ExtModems\\cable", "Port",
                                      "COM3:");
    Inside(*doc).m_registry.SetString(platform::Hive::LocalMachine, "ExtModems\\other", "Port",
                                      "com3:");
    ASSERT_EQ(doc->BuildPortList(true), 1);
    ASSERT_EQ(doc->Ports().size(), 2u);
    const std::filesystem::path device = dir / "ttyFake";
    testing::WriteFile(device, "");
    platform::AddPortAlias(Inside(*doc).m_registry, device.string(), "COM1:");
    platform::AddPortAlias(Inside(*doc).m_registry, device.string(), "COM2:");
    platform::AddPortAlias(Inside(*doc).m_registry, (dir / "absent").string(), "COM4:");
    platform::AddPortAlias(Inside(*doc).m_registry, device.string(), "COM3:");
    EXPECT_EQ(doc->OfferedPorts(), (std::vector<std::u16string>{u"COM3:", u"COM2:"}));
}

TEST_F(DocOps, ConnectAndDialerStartFromTheInstallationDirectory) {
    std::vector<std::pair<std::string, std::vector<std::string>>> started;
    platform::SetProgramStarterForTesting(
        [&](const std::filesystem::path& p, const std::vector<std::string>& args) {
            started.emplace_back(p.filename().string(), args);
            return false;  // a failed start is silent
        });
    for (const char* name : {"connect.exe", "dialer.exe"}) {
        testing::WriteFile(dir / name, "#!/bin/sh\n");
        std::filesystem::permissions(dir / name, std::filesystem::perms::owner_all);
    }
    doc->StartConnect();
    doc->StartDialer();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].first, "connect.exe");
    EXPECT_EQ(started[0].second, std::vector<std::string>{"s"});
    EXPECT_EQ(started[1].first, "dialer.exe");
    EXPECT_TRUE(started[1].second.empty());
    EXPECT_TRUE(prompt.texts().empty());
}

TEST_F(DocOps, TheHandOffFileIsConsumedAndDroppedDuringASynchronisation) {
    std::u16string number;
    EXPECT_EQ(doc->TakeHandoffNumber(&number), 0);  // no file
    ASSERT_TRUE(WriteHandoffFile(dir.path(), u"+49 (171) 1"));
    ASSERT_TRUE(WriteHandoffFile(dir.path(), u"+49 (171) 2-3"));  // replaces
    EXPECT_EQ(doc->TakeHandoffNumber(&number), 1);
    EXPECT_EQ(number, u"+4917123");  // cleaned
    EXPECT_FALSE(std::filesystem::exists(HandoffPath(dir.path())));

    ASSERT_TRUE(WriteHandoffFile(dir.path(), u"+4911"));
    Inside(*doc).Engine().m_sync.m_bSyncBusy = 1;
    EXPECT_EQ(doc->TakeHandoffNumber(&number), 0);
    Inside(*doc).Engine().m_sync.m_bSyncBusy = 0;
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_NE(prompt.texts()[0].find(u"synchronization is still in progress"),
              std::u16string::npos);
    EXPECT_FALSE(std::filesystem::exists(HandoffPath(dir.path())));
    EXPECT_EQ(doc->TakeHandoffNumber(&number), 0);  // not kept for later
}

TEST(HandoffFile, RefusesWhatIsNoNumberAndNeverReadsPastTheData) {
    using testing::Bytes;
    std::u16string n;
    EXPECT_TRUE(ParseHandoff(Bytes().Str(u"+4911").data, &n));
    EXPECT_EQ(n, u"+4911");
    EXPECT_TRUE(ParseHandoff(Bytes()
                                 .RawStr(3,
                                         std::u16string_view(u"1\0"
                                                             u"2",
                                                             3),
                                         0)
                                 .data,
                             &n));
    EXPECT_EQ(n, u"1");  // up to the first 0
    EXPECT_FALSE(ParseHandoff(Bytes().Str(u"").data, &n));
    EXPECT_FALSE(ParseHandoff(Bytes().Str(std::u16string(200, u'1')).data, &n));
    EXPECT_TRUE(ParseHandoff(Bytes().Str(std::u16string(199, u'1')).data, &n));
    EXPECT_FALSE(ParseHandoff(Bytes().I32(5).data, &n));
    EXPECT_FALSE(ParseHandoff(Bytes().I32(-1).data, &n));
    EXPECT_FALSE(ParseHandoff("", &n));
    EXPECT_FALSE(WriteHandoffFile(".", u""));

    testing::TempDir dir;
    testing::WriteFile(dir / "newsms.tmp", "xx");
    EXPECT_EQ(TakeHandoffFile(dir.path(), &n), HandoffRead::kRefused);
    EXPECT_FALSE(std::filesystem::exists(dir / "newsms.tmp"));
}

}  // namespace
}  // namespace parlo
