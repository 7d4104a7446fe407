// The window open while other programs change what it shares with them:
// folders added, renamed and deleted by parlo-cli, contacts and the
// phonebook copy edited, a synchronisation run elsewhere. The window shows
// each change without a restart and keeps its user's marks, selection and
// sort.
#include <QMenu>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "parlo/app/qt/folders_dialog.h"
#include "parlo/app/qt/tests/main_window_fixture.h"
#include "parlo/store/message_ids.h"
#include "parlo_strings.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace parlo {
namespace {

using qtsupport::testing::WaitUntil;
using window_testing::MainWindow;

bool RunCli(std::vector<std::string> args) {
    args.insert(args.begin(), "--yes");
    return platform::RunCapture(platform::BinDir() / "parlo-cli", args, 120000).has_value();
}

class OthersChanges : public MainWindow {
  protected:
    QComboBox* Chooser() { return View()->findChild<QComboBox*>("1000"); }
    bool ChooserHas(const QString& name) { return Chooser()->findText(name) >= 0; }
    // The folder names of the context menu's "Move" submenu for the
    // selected Inbox row.
    QStringList MenuFolders() {
        QStringList names;
        std::unique_ptr<QMenu> menu(View()->BuildContextMenu(
            VIEW_INBOX,
            View()
                ->List(VIEW_INBOX)
                ->visualRect(Model(VIEW_INBOX)->index(Model(VIEW_INBOX)->RowOf(selected_), 1))
                .center()));
        if (!menu)
            return names;
        for (QAction* a : menu->actions()) {
            if (a->menu()) {
                for (QAction* f : a->menu()->actions())
                    names << f->text();
            }
        }
        return names;
    }
    QStringList DialogFolders(FoldersDialog& d) {
        QStringList names;
        auto* tree = d.findChild<QTreeWidget*>("1032");
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            names << tree->topLevelItem(i)->text(0);
        return names;
    }
    // What the user was doing: the Inbox sorted by number, one row marked,
    // another selected.
    void UserIsWorking() {
        a_ = Add(STATE_READ, u"+4930", u"c");
        b_ = Add(STATE_READ, u"+4910", u"a");
        selected_ = Add(STATE_READ, u"+4920", u"b");
        View()->OnHeaderClicked(VIEW_INBOX, 1);
        Doc().ToggleMark(a_);
        QCoreApplication::processEvents();
        View()
            ->List(VIEW_INBOX)
            ->setCurrentIndex(Model(VIEW_INBOX)->index(Model(VIEW_INBOX)->RowOf(selected_), 1));
        ASSERT_EQ(View()->SelectedRecord(), selected_);
    }
    void UserIsStillWorking() {
        MessageListModel* inbox = Model(VIEW_INBOX);
        EXPECT_EQ(Numbers(VIEW_INBOX), (std::vector<std::u16string>{u"+4910", u"+4920", u"+4930"}));
        EXPECT_EQ(inbox->CopyAt(inbox->RowOf(a_))->m_bMarked, 1);
        EXPECT_EQ(View()->SelectedRecord(), selected_);
        EXPECT_EQ(View()->SortColumn(), 1);
    }
    QString NameShown(int code, int row) {
        return Model(code)->data(Model(code)->index(row, 1), Qt::DisplayRole).toString();
    }
    CSmsMessage* a_ = nullptr;
    CSmsMessage* b_ = nullptr;
    CSmsMessage* selected_ = nullptr;
};

TEST_F(OthersChanges, FoldersThatParloCliAddsRenamesAndDeletesShowEverywhere) {
    ASSERT_TRUE(Start());
    CSmsMessage* filed = Add(STATE_READ, u"+4940", u"d");
    UserIsWorking();
    FoldersDialog dialog(Doc(), app->Frame());
    View()->Context().on_folders_changed(&dialog, [&dialog] { dialog.FoldersChanged(); });
    dialog.show();

    ASSERT_TRUE(RunCli({"folders", "add", "Receipts"}));
    ASSERT_TRUE(WaitUntil([&] { return ChooserHas("Receipts"); }));
    EXPECT_TRUE(MenuFolders().contains("Receipts"));
    ASSERT_TRUE(WaitUntil([&] { return DialogFolders(dialog).contains("Receipts"); }));
    CSmsFolder* receipts = Doc().Folders().ByName(u"Receipts");
    ASSERT_NE(receipts, nullptr);
    const int32_t receipts_id = receipts->m_nId;
    ASSERT_TRUE(Doc().MoveToFolder(filed, receipts_id));
    QCoreApplication::processEvents();
    UserIsStillWorking();

    ASSERT_TRUE(RunCli({"folders", "rename", "Receipts", "Bills"}));
    ASSERT_TRUE(WaitUntil([&] { return ChooserHas("Bills") && !ChooserHas("Receipts"); }));
    EXPECT_TRUE(MenuFolders().contains("Bills"));
    ASSERT_TRUE(WaitUntil([&] { return DialogFolders(dialog) == QStringList{"Bills"}; }));
    EXPECT_EQ(Doc().Folders().ById(receipts_id)->m_strName, u"Bills");

    // Shown in the window when it goes: the window falls back to the Inbox.
    View()->ShowFolder(VIEW_USER_FOLDER, receipts_id);
    ASSERT_EQ(Model(VIEW_USER_FOLDER)->rowCount(), 1);
    ASSERT_TRUE(RunCli({"folders", "delete", "Bills"}));
    ASSERT_TRUE(WaitUntil([&] { return !ChooserHas("Bills"); }));
    EXPECT_EQ(Doc().Folders().ById(receipts_id), nullptr);
    EXPECT_EQ(View()->CurrentCode(), VIEW_INBOX);
    EXPECT_FALSE(MenuFolders().contains("Bills"));
    ASSERT_TRUE(WaitUntil([&] { return DialogFolders(dialog).isEmpty(); }));
    EXPECT_EQ(Model(VIEW_USER_FOLDER)->rowCount(), 0);
    UserIsStillWorking();
}

// parlo-cli adds a folder and files a message in it; the window adds one
// before it has heard of that: the new folder gets an id of its own, and
// the other program's folder keeps its name and its message.
TEST_F(OthersChanges, AFolderAddedInTheWindowNeverTakesTheIdOfAnotherProgramsFolder) {
    ASSERT_TRUE(Start());
    CSmsMessage* kept = Add(STATE_READ, u"+4930", u"receipt");
    const std::string id = CMessageIds(Doc().Store().Snapshot()).IdOf(kept);
    ASSERT_TRUE(RunCli({"folders", "add", "Receipts"}));
    ASSERT_TRUE(RunCli({"move", "Receipts", id}));
    CSmsFolder* jokes = Doc().AddFolder(u"Jokes");  // no event was handled meanwhile
    ASSERT_NE(jokes, nullptr);
    CSmsFolder* receipts = Doc().Folders().ByName(u"Receipts");
    ASSERT_NE(receipts, nullptr);
    EXPECT_NE(jokes->m_nId, receipts->m_nId);

    CFolderTable on_disk;
    ASSERT_EQ(on_disk.Load(Doc().Registry(), strings::parlo()), FolderResult::kOk);
    ASSERT_NE(on_disk.ByName(u"Receipts"), nullptr);
    ASSERT_NE(on_disk.ByName(u"Jokes"), nullptr);
    EXPECT_EQ(on_disk.ByName(u"Receipts")->m_nId, receipts->m_nId);
    Doc().TakeInChanges();
    EXPECT_EQ(Doc().FolderRecords(receipts->m_nId).size(), 1u);
    EXPECT_TRUE(Doc().FolderRecords(jokes->m_nId).empty());
    // A name that another program took meanwhile is refused, not doubled.
    ASSERT_TRUE(RunCli({"folders", "add", "Ideas"}));
    prompt.Clear();
    EXPECT_EQ(Doc().AddFolder(u"ideas"), nullptr);
    EXPECT_EQ(prompt.texts().size(), 1u);
}

TEST_F(OthersChanges, NamesFollowTheContactsAndThePhonebookCopy) {
    const std::filesystem::path book = dir / "contacts" / "default";
    std::filesystem::create_directories(book);
    setenv("SKYVANE_CONTACTS", (dir / "contacts").c_str(), 1);
    ASSERT_TRUE(Start());
    UserIsWorking();
    const int row_a = Model(VIEW_INBOX)->RowOf(a_);  // +4930
    const int row_b = Model(VIEW_INBOX)->RowOf(b_);  // +4910
    ASSERT_EQ(NameShown(VIEW_INBOX, row_a), "+4930");

    // An address book tool writes a card.
    std::ofstream(book / "anna.vcf") << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:anna\r\nFN:Anna "
                                        "Berg\r\nN:Berg;Anna;;;\r\nTEL;TYPE=CELL:+4930\r\n"
                                        "END:VCARD\r\n";
    ASSERT_TRUE(WaitUntil([&] { return NameShown(VIEW_INBOX, row_a) != "+4930"; }));
    EXPECT_TRUE(NameShown(VIEW_INBOX, row_a).contains("Anna"));

    // Another program saves the phonebook copy: its names come first.
    CPhonebook pb;
    pb.m_entries.push_back(
        std::make_unique<CPhonebookEntry>(STORAGE_FLAG_SIM | 1, u"Bodo", u"+4910"));
    ASSERT_TRUE(pb.Save(Doc().PhonebookFile()));
    ASSERT_TRUE(WaitUntil([&] { return NameShown(VIEW_INBOX, row_b) == "Bodo"; }));

    // While a dialog is open the entries stay as they are (the dialog may
    // hold them); the change is taken in once it is closed.
    {
        QDialog modal(app->Frame());
        modal.setModal(true);
        modal.show();
        QCoreApplication::processEvents();
        pb.m_entries[0]->m_strName = u"Bodo Berg";
        ASSERT_TRUE(pb.Save(Doc().PhonebookFile()));
        QTest::qWait(1000);
        EXPECT_EQ(NameShown(VIEW_INBOX, row_b), "Bodo");
    }
    ASSERT_TRUE(WaitUntil([&] { return NameShown(VIEW_INBOX, row_b) == "Bodo Berg"; }));
    UserIsStillWorking();
}

// With the simulated phone: parlo-cli synchronises the phonebook and edits
// it, and sends a message with a synchronisation of its own, while the
// window is open.
TEST_F(OthersChanges, ParloCliSynchronisesAndEditsThePhonebookWhileTheWindowIsOpen) {
    StartPhone();
    ASSERT_TRUE(Start({}, true));
    Add(STATE_READ, u"+4917099", u"later");
    CSmsMessage* earlier = Add(STATE_READ, u"+4917088", u"earlier", 44000.0);
    // The window's own run identifies the phone.
    ASSERT_TRUE(app->Frame()->RunCommand(ID_SYNCHRONIZE));
    ASSERT_TRUE(WaitUntil([&] { return !Doc().Settings().m_strPhoneIdentity.empty(); }, 60000))
        << platform::ToUtf8(Doc().Errors().Text());
    ASSERT_TRUE(WaitUntil([&] { return !Doc().IsSyncBusy(); }, 60000));
    View()->OnHeaderClicked(VIEW_INBOX, 2);
    const int inbox_rows = Model(VIEW_INBOX)->rowCount();
    CSmsMessage* first = Model(VIEW_INBOX)->KeyAt(0);
    ASSERT_EQ(first, earlier);  // sorted by time
    const std::u16string number = u"+4917088";
    Doc().ToggleMark(first);
    QCoreApplication::processEvents();

    ASSERT_TRUE(RunCli({"phonebook", "sync"}));
    ASSERT_TRUE(RunCli({"phonebook", "add", "Carla", platform::ToUtf8(number)}));
    ASSERT_TRUE(WaitUntil(
        [&] { return NameShown(VIEW_INBOX, Model(VIEW_INBOX)->RowOf(first)) == "Carla"; }));

    ASSERT_TRUE(RunCli({"send", "+4930123456", "from the command line", "--sync"}));
    ASSERT_TRUE(WaitUntil(
        [&] {
            MessageListModel* sent = Model(VIEW_SENT);
            for (int r = 0; r < sent->rowCount(); ++r) {
                if (sent->CopyAt(r)->m_strText == u"from the command line")
                    return true;
            }
            return false;
        },
        60000));
    EXPECT_EQ(Model(VIEW_OUTBOX)->rowCount(), 0);
    EXPECT_GE(Model(VIEW_INBOX)->rowCount(), inbox_rows);
    EXPECT_EQ(Model(VIEW_INBOX)->CopyAt(Model(VIEW_INBOX)->RowOf(first))->m_bMarked, 1);
    EXPECT_EQ(View()->SortColumn(), 2);
}

}  // namespace
}  // namespace parlo
