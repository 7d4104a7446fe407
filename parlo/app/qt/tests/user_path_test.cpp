// One whole user path against the simulated phone: write a message in the
// compose dialog, send it, synchronise, find it in Sent Messages, file it in
// a new folder and delete it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include "cordis/cordis.h"
#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/compose_dialog.h"
#include "parlo/app/qt/folder_choice_dialog.h"
#include "parlo/app/qt/folders_dialog.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/store/tests/test_util.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo {
namespace {

TEST(UserPathTest, ComposeSendSynchroniseFileAndDelete) {
    static int argc = 1;
    static char name[] = "user_path_test";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    testing::TempDir dir;
    setenv("SKYVANE_HOME", dir.path().c_str(), 1);
    setenv("SKYVANE_ROOT", dir.path().c_str(), 1);
    nlohmann::json state = phonesim::testing::DefaultState();
    state["operator"]["name"] = "T-Mobile D";  // an operator the device database knows
    ASSERT_TRUE(phonesim::testing::WriteState(dir / "phone.json", state));
    phonesim::testing::PhonesimProcess phone;
    ASSERT_TRUE(phone.Start(dir / "phone.json",
                            {"--register", "Phonesim", "--alias", "COM3:", "--send-ms", "0"}));
    CCordis link(dir / "comm.log");
    platform::ScriptedPrompt prompt;
    CParloDoc doc(nullptr, &prompt, &link);
    StartOptions opt;
    opt.auto_sync = false;
    ASSERT_TRUE(doc.Start(nullptr, opt));

    // Compose and send.
    {
        ComposeDialog compose(doc, prompt, VIEW_NEW, nullptr, u"", u"", false);
        compose.show();
        compose.findChild<QLineEdit*>("1002")->setText("+491701234567");
        compose.findChild<QPlainTextEdit*>("1004")->setPlainText("See you at eight");
        compose.findChild<QPushButton*>("1005")->click();
        ASSERT_EQ(compose.result(), QDialog::Accepted);
    }
    auto in_view = [&](int view) {
        std::vector<CSmsMessage*> out;
        Inside(doc).m_store.ForEach([&](CSmsMessage& m) {
            if (ViewOfState(m.m_nState) == view)
                out.push_back(&m);
        });
        return out;
    };
    ASSERT_EQ(in_view(VIEW_OUTBOX).size(), 1u);

    // Synchronise: the phone sends it and the record moves to Sent Messages.
    ASSERT_TRUE(doc.SyncNow());
    EXPECT_TRUE(doc.Errors().Empty()) << platform::ToUtf8(doc.Errors().Text());
    EXPECT_TRUE(in_view(VIEW_OUTBOX).empty());
    std::vector<CSmsMessage*> sent = in_view(VIEW_SENT);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->m_strText, u"See you at eight");
    ASSERT_EQ(phone.ReadState()["sms"]["sent"].size(), 1u);

    // A new folder, then "Move to folder" with the selected message.
    {
        FoldersDialog folders(doc);
        folders.show();
        folders.findChild<QLineEdit*>("1029")->setText("Evenings");
        folders.findChild<QPushButton*>("1030")->click();
    }
    CSmsFolder* evenings = Inside(doc).m_folders.ByName(u"Evenings");
    ASSERT_NE(evenings, nullptr);
    int32_t target = -1;
    {
        FolderChoiceDialog choice(doc);
        choice.show();
        auto* list = choice.findChild<QListWidget*>("1031");
        list->setCurrentItem(list->findItems("Evenings", Qt::MatchExactly).value(0));
        choice.findChild<QPushButton*>("1")->click();
        target = choice.ChosenFolder();
    }
    ASSERT_EQ(target, evenings->m_nId);
    ASSERT_TRUE(doc.MoveMarkedOrSelected(sent, sent[0], target));
    EXPECT_EQ(sent[0]->m_nState, STATE_IN_FOLDER);
    EXPECT_EQ(doc.FolderRecords(target).size(), 1u);

    // Delete it from the folder: it goes to the Recycle Bin and stays out of
    // the folder.
    std::vector<CSmsMessage*> filed = doc.FolderRecords(target);
    ASSERT_TRUE(doc.DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_USER_FOLDER, filed, filed[0]));
    EXPECT_EQ(sent[0]->m_nState, STATE_DELETED);
    EXPECT_TRUE(doc.FolderRecords(target).empty());

    // A restart reads the same.
    CParloDoc again(nullptr, &prompt, &link);
    ASSERT_EQ(again.LoadMessagesOnly(), StoreResult::kOk);
    size_t in_bin = 0;
    Inside(again).m_store.ForEach([&](CSmsMessage& m) { in_bin += m.m_nState == STATE_DELETED; });
    EXPECT_EQ(in_bin, 1u);
}

}  // namespace
}  // namespace parlo
