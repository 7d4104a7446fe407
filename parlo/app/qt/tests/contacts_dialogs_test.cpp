// The phonebook, recipient and group dialogs on the offscreen platform: what
// each list offers, what each returns, the storage rules of the entry dialog,
// a phonebook synchronisation off the GUI thread against the simulated phone,
// and the layout of every dialog at the default and a 1.5 times font.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <atomic>
#include <fstream>

#include "cordis/cordis.h"
#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/contact_lists.h"
#include "parlo/app/qt/contacts_select_dialog.h"
#include "parlo/app/qt/group_define_dialog.h"
#include "parlo/app/qt/groups_dialog.h"
#include "parlo/app/qt/phonebook_dialog.h"
#include "parlo/app/qt/phonebook_entry_dialog.h"
#include "parlo/app/qt/recipients_dialog.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "qtsupport/layout_check.h"
#include "qtsupport/screenshot.h"
#include "qtsupport/testing/qt_test_util.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo {
namespace {

using qtsupport::testing::App;
using qtsupport::testing::WaitUntil;

template <typename T>
T* Find(QWidget* root, const char* name) {
    T* w = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QStringList Column(QTreeView* list, int column) {
    QStringList out;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        out << list->model()->index(row, column).data().toString();
    return out;
}

void Check(QTreeView* list, int row) {
    list->model()->setData(list->model()->index(row, 0), Qt::Checked, Qt::CheckStateRole);
}

// Looks at a dialog as a user would: a picture (in SKYVANE_SCREENSHOT_DIR)
// at the default font and at 1.5 times, and the layout at both.
void LookAt(const std::function<QDialog*()>& open, const QString& name) {
    for (double scale : {1.0, 1.5}) {
        qtsupport::FontScale font(scale);
        std::unique_ptr<QDialog> dialog(open());
        dialog->show();
        QTest::qWait(20);
        const QStringList problems = qtsupport::LayoutProblems(dialog.get());
        EXPECT_TRUE(problems.isEmpty())
            << name.toStdString() << " at " << scale << ": " << problems.join("; ").toStdString();
        qtsupport::SaveScreenshot(dialog.get(), name + (scale > 1 ? "-large" : ""));
        // Resizable: a desktop window may grow.
        EXPECT_GT(dialog->maximumWidth(), dialog->width()) << name.toStdString();
    }
}

class ContactsDialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        qtsupport::testing::UseOffscreenScreen(1280, 900);
        App();
        dir_ = std::filesystem::temp_directory_path() /
               ("contacts_dialogs_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "contacts" / "book");
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
        setenv("SKYVANE_CONTACTS", (dir_ / "contacts").c_str(), 1);
        Card("a", "Zander", "Zoe", "TEL;TYPE=CELL:0170 111");
        Card("b", "Home", "Only", "TEL;TYPE=HOME:030 222");
        Card("c", "Adler", "Anna", "TEL;TYPE=CELL:0171 333\nTEL;TYPE=HOME:030 444");
        link_ = std::make_unique<CCordis>(dir_ / "comm.log");
        doc_ = std::make_unique<CParloDoc>(nullptr, &prompt_, link_.get());
        Inside(*doc_).m_dataDir = dir_;
        Inside(*doc_).m_settings.m_nPhonebookFlags = STORAGE_FLAG_BOTH;
    }
    void TearDown() override {
        doc_.reset();
        link_.reset();
        phone_.reset();
        if (!HasFailure())
            std::filesystem::remove_all(dir_);
    }
    void Card(const std::string& uid, const std::string& last, const std::string& first,
              const std::string& tels) {
        std::ofstream(dir_ / "contacts" / "book" / (uid + ".vcf"))
            << "BEGIN:VCARD\nVERSION:3.0\nUID:" << uid << "\nN:" << last << ";" << first
            << ";;;\nFN:" << first << " " << last << "\n"
            << tels << "\nEND:VCARD\n";
    }
    void PhonebookEntries() {
        auto& list = Inside(*doc_).m_phonebook.m_entries;
        list.push_back(std::make_unique<CPhonebookEntry>(STORAGE_FLAG_SIM | 1, u"Bea", u"0172"));
        list.push_back(std::make_unique<CPhonebookEntry>(STORAGE_FLAG_SIM | 2, u"Carl", u"0173"));
        Inside(*doc_).m_phonebook.m_descriptors[0] = {static_cast<int32_t>(STORAGE_FLAG_SIM), 1, 20,
                                                      14, 20};
        Inside(*doc_).m_phonebook.m_descriptors[1] = {static_cast<int32_t>(STORAGE_FLAG_PHONE), 1,
                                                      100, 20, 20};
        Inside(*doc_).m_phonebook.m_nStoragesRead = 2;
    }

    std::filesystem::path dir_;
    platform::ScriptedPrompt prompt_;
    std::unique_ptr<CCordis> link_;
    std::unique_ptr<CParloDoc> doc_;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone_;
};

TEST_F(ContactsDialogs, SelectThePhoneNumber) {
    PhonebookEntries();
    CContactEntry anna(u"Adler Anna", u"0171 333", u"", u"", u"", 0);
    ASSERT_EQ(CreateGroup(&Inside(*doc_).m_groups, dir_, u"Team", prompt_, strings::parlo()),
              CreateGroupResult::kCreated);
    {
        // The group holds Carl of the phonebook and Anna of the contacts.
        doc_->ReadContacts();
        GroupMemberList members;
        AddMember(&members, *Inside(*doc_).m_phonebook.m_entries[1],
                  Inside(*doc_).m_settings.m_strPhoneIdentity, prompt_, strings::parlo());
        for (const auto& c : Inside(*doc_).m_contacts)
            if (c->m_strName == u"Adler Anna")
                AddMember(&members, *c, kContactsSource, prompt_, strings::parlo());
        ASSERT_TRUE(SaveGroup(members, GroupPath(dir_, u"Team")));
    }
    RecipientsDialog dialog(*doc_);
    auto* contacts = Find<QTreeView>(&dialog, ctl::kRecipientsContacts);
    auto* phonebook = Find<QTreeView>(&dialog, ctl::kRecipientsPhonebook);
    // Mobile numbers only: the contact with just a home number is not offered.
    EXPECT_EQ(Column(contacts, 0), QStringList({"Adler Anna", "Zander Zoe"}));
    EXPECT_EQ(Column(contacts, 1), QStringList({"0171 333", "0170 111"}));
    EXPECT_EQ(Column(phonebook, 0), QStringList({"Bea", "Carl"}));
    EXPECT_TRUE(contacts->isVisible() || !dialog.isVisible());
    auto* group = Find<QComboBox>(&dialog, ctl::kRecipientsGroup);
    EXPECT_EQ(group->currentText(), "None");
    group->setCurrentIndex(group->findText("Team"));
    // The checked rows of both lists count, whichever tab shows.
    Check(contacts, 1);
    Check(phonebook, 0);
    Find<QTabBar>(&dialog, ctl::kRecipientsTabs)->setCurrentIndex(1);
    dialog.accept();
    EXPECT_EQ(dialog.Result(), u"0173;0171333;0170 111;0172");

    // Cancel gives nothing.
    QTimer::singleShot(0, [] {
        if (QWidget* w = QApplication::activeModalWidget())
            static_cast<QDialog*>(w)->reject();
    });
    EXPECT_EQ(SelectPhoneNumbers(*doc_, nullptr), u"");
}

TEST_F(ContactsDialogs, SelectContactsForTheImport) {
    ContactsSelectDialog dialog(*doc_, STORAGE_FLAG_SIM);
    auto* list = Find<QTreeView>(&dialog, ctl::kSelectList);
    // Everyone with a name or a number, with the kinds of numbers.
    EXPECT_EQ(Column(list, 1), QStringList({"Adler Anna", "Home Only", "Zander Zoe"}));
    EXPECT_EQ(Column(list, 2), QStringList({"M H", "H", "M"}));
    // One storage: "Import to:" shows it and cannot be changed.
    auto* target = Find<QComboBox>(&dialog, ctl::kSelectImportTo);
    EXPECT_EQ(target->currentText(), "SIM");
    EXPECT_FALSE(target->isEnabled());
    Check(list, 1);
    Check(list, 2);
    dialog.accept();
    std::vector<CContactEntry> marked = dialog.Marked();
    ASSERT_EQ(marked.size(), 2u);
    EXPECT_EQ(marked[0].m_strHome, u"030222");  // cleaned
    EXPECT_EQ(marked[1].m_strName, u"Zander Zoe");
    EXPECT_EQ(dialog.TargetFlag(), STORAGE_FLAG_SIM);

    ContactsSelectDialog both(*doc_, STORAGE_FLAG_BOTH);
    EXPECT_EQ(Find<QComboBox>(&both, ctl::kSelectImportTo)->currentText(), "Phone");
    EXPECT_TRUE(Find<QComboBox>(&both, ctl::kSelectImportTo)->isEnabled());
}

TEST_F(ContactsDialogs, PhonebookEditingAndImport) {
    PhonebookEntries();
    PhonebookDialog dialog(*doc_, prompt_, nullptr);
    auto* list = Find<QTreeView>(&dialog, ctl::kPhonebookList);
    EXPECT_EQ(Column(list, 1), QStringList({"Bea", "Carl"}));
    EXPECT_EQ(Column(list, 3), QStringList({"1", "2"}));
    // Edit without a selection.
    dialog.Edit();
    EXPECT_EQ(prompt_.texts().back(), u"Failed, you have to select an entry first.");
    // New: the entry dialog is replaced by its answer.
    dialog.edit_entry = [](uint32_t* id, std::u16string* name, std::u16string* number, bool) {
        *name = u"Dora";
        *number = u"0174";
        return *id != 0;
    };
    dialog.New();
    EXPECT_EQ(Column(list, 1), QStringList({"Bea", "Carl", "Dora"}));
    EXPECT_EQ(Column(list, 3).last(), "3");
    CPhonebook saved;
    ASSERT_TRUE(saved.Load(doc_->PhonebookFile()));
    EXPECT_EQ(saved.m_entries.size(), 3u);
    // Import: each number of each contact, named by its kind.
    dialog.pick_contacts = [](std::vector<CContactEntry>* picked, uint32_t* target) {
        picked->push_back(CContactEntry(u"Adler Anna", u"0171333", u"", u"030444", u"", 7));
        *target = STORAGE_FLAG_SIM;
        return true;
    };
    dialog.Import();
    EXPECT_EQ(Column(list, 1),
              QStringList({"Adler Anna/H", "Adler Anna/M", "Bea", "Carl", "Dora"}));
    // Delete the marked ones.
    Check(list, 0);
    prompt_.Push(platform::Answer::Yes);
    dialog.Delete();
    EXPECT_EQ(Column(list, 1), QStringList({"Adler Anna/M", "Bea", "Carl", "Dora"}));
}

TEST_F(ContactsDialogs, TheEntryDialogKeepsTheStorageRules) {
    PhonebookEntries();
    PhonebookEntryDialog dialog(Inside(*doc_).m_phonebook, STORAGE_FLAG_BOTH, STORAGE_FLAG_SIM | 3,
                                u"", u"", true, prompt_);
    auto* name = Find<QLineEdit>(&dialog, ctl::kEntryName);
    auto* number = Find<QLineEdit>(&dialog, ctl::kEntryNumber);
    auto* storage = Find<QComboBox>(&dialog, ctl::kEntryStorage);
    EXPECT_EQ(storage->currentText(), "SIM");
    EXPECT_TRUE(storage->isEnabled());
    // The field does not cut a long name while it is typed: OK says what
    // is too long, and nothing typed is lost.
    EXPECT_GT(name->maxLength(), 14);
    EXPECT_TRUE(name->toolTip().contains("14")) << name->toolTip().toStdString();
    QPushButton* ok = nullptr;
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text().remove('&') == "OK")
            ok = b;
    ASSERT_NE(ok, nullptr);
    EXPECT_FALSE(ok->isEnabled());
    number->setText("0170 1");
    EXPECT_FALSE(ok->isEnabled());
    number->setText("+49170");
    EXPECT_TRUE(ok->isEnabled());
    dialog.accept();
    EXPECT_EQ(prompt_.texts().back(), u"Please enter name.");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    number->setText("+49170");
    name->setText("A name far too long for the SIM");
    dialog.accept();
    EXPECT_NE(prompt_.texts().back().find(u"too long"), std::u16string::npos);
    EXPECT_EQ(name->text(), "A name far too long for the SIM");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    // A name that fits the field but not the SIM in another script.
    name->setText(QString::fromUtf16(u"\u041f\u0451\u0442\u0440 \u0418\u0432"));
    dialog.accept();
    EXPECT_NE(prompt_.texts().back().find(u"too long"), std::u16string::npos);
    name->setText("Eva");
    // The phone storage gives its own first free index.
    storage->setCurrentIndex(1);
    emit storage->activated(1);
    EXPECT_EQ(dialog.id(), STORAGE_FLAG_PHONE | 1);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ContactsDialogs, KeysAndWordsOfTheGroupsAndPhonebookDialogs) {
    PhonebookEntries();
    Inside(*doc_).m_phonebook.m_entries.push_back(
        std::make_unique<CPhonebookEntry>(STORAGE_FLAG_PHONE | 1, u"Dora", u"+4930123456789012"));
    // Groups: the focus starts in the name, a name of blanks is refused.
    GroupsDialog groups(*doc_, prompt_);
    groups.show();
    QApplication::setActiveWindow(&groups);
    auto* name = Find<QLineEdit>(&groups, ctl::kGroupsName);
    EXPECT_TRUE(name->hasFocus());
    name->setText("   ");
    groups.Add();
    EXPECT_EQ(prompt_.texts().back(), u"You have to assign a name to your group.");
    EXPECT_TRUE(Inside(*doc_).m_groups.empty());
    EXPECT_TRUE(Find<QPushButton>(&groups, ctl::kGroupsDelete)->toolTip().contains("select"));
    name->setText("Club");
    groups.Add();
    ASSERT_EQ(Inside(*doc_).m_groups.size(), 1u);
    auto* list = Find<QTreeView>(&groups, ctl::kGroupsList);
    list->setCurrentIndex(list->model()->index(0, 0));
    list->selectionModel()->select(list->currentIndex(),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    prompt_.Push(platform::Answer::Yes);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_TRUE(Inside(*doc_).m_groups.empty());

    // Phonebook: the whole number shows; the name takes the spare width.
    PhonebookDialog book(*doc_, prompt_, nullptr);
    book.show();
    auto* entries = Find<QTreeView>(&book, ctl::kPhonebookList);
    const QFontMetrics fm(entries->font());
    EXPECT_GE(entries->header()->sectionSize(2), fm.horizontalAdvance("+4930123456789012"));
    EXPECT_GT(entries->header()->sectionSize(1), entries->header()->sectionSize(3));
    // Space marks the current entry, Delete deletes the marked one.
    entries->setCurrentIndex(entries->model()->index(2, 1));
    QTest::keyClick(entries, Qt::Key_Space);
    EXPECT_EQ(Inside(*doc_).m_phonebook.m_entries[2]->m_bMarked, 1);
    // The command bar: Tab reaches it, the tooltips show the keys.
    for (QToolButton* b : book.findChildren<QToolButton*>()) {
        if (b->defaultAction() && !b->defaultAction()->isSeparator()) {
            EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus) << b->text().toStdString();
        }
    }
    EXPECT_TRUE(book.findChild<QAction*>(ctl::kPhonebookSync)->toolTip().contains("F5"));
}

TEST_F(ContactsDialogs, GroupsAndTheirMembers) {
    PhonebookEntries();
    GroupsDialog groups(*doc_, prompt_);
    auto* name = Find<QLineEdit>(&groups, ctl::kGroupsName);
    auto* list = Find<QTreeView>(&groups, ctl::kGroupsList);
    EXPECT_FALSE(Find<QPushButton>(&groups, ctl::kGroupsDelete)->isEnabled());
    groups.Add();
    EXPECT_EQ(prompt_.texts().back(), u"You have to assign a name to your group.");
    name->setText("Family");
    groups.Add();
    EXPECT_EQ(Column(list, 0), QStringList({"Family (0)"}));
    EXPECT_TRUE(Find<QPushButton>(&groups, ctl::kGroupsAddContact)->isEnabled());

    // Define Group: two contacts and one phonebook entry by the arrow.
    groups.define_group = [this](const std::u16string& group) {
        GroupDefineDialog define(*doc_, prompt_, group);
        auto* contacts = Find<QTreeView>(&define, ctl::kDefineContacts);
        contacts->selectAll();
        define.AddSelected();  // "Home Only" has no mobile number
        EXPECT_EQ(prompt_.texts().back(),
                  u"Can not add contact Home Only. The Phone number is missing.");
        Find<QTabBar>(&define, ctl::kDefineTabs)->setCurrentIndex(1);
        Find<QTreeView>(&define, ctl::kDefinePhonebook)->selectAll();
        define.AddSelected();
        auto* members = Find<QTreeView>(&define, ctl::kDefineMembers);
        EXPECT_EQ(Column(members, 0), QStringList({"Adler Anna", "Bea", "Carl", "Zander Zoe"}));
        EXPECT_EQ(Column(members, 1), QStringList({"0171333", "0172", "0173", "0170111"}));
        members->selectionModel()->clear();
        members->selectionModel()->select(members->model()->index(1, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        define.RemoveSelected();
        EXPECT_EQ(define.members().size(), 3u);
        define.reject();  // closing saves
    };
    groups.AddContact();
    EXPECT_EQ(Column(list, 0), QStringList({"Family (3)"}));
    EXPECT_EQ(doc_->ExpandGroup(u"Family"), u";0171333;0170111;0173");
    list->selectionModel()->select(list->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    prompt_.Push(platform::Answer::Yes);
    groups.DeleteSelected();
    EXPECT_TRUE(Column(list, 0).isEmpty());
    EXPECT_FALSE(std::filesystem::exists(GroupPath(dir_, u"Family")));
}

// The keyboard as on a desktop: Return presses the default button, except
// in a search field (it goes to the list) and on rows that have their own
// action; Escape cancels.
TEST_F(ContactsDialogs, ReturnAndEscape) {
    PhonebookEntries();
    auto press = [](QWidget* w, Qt::Key key) { QTest::keyClick(w, key); };
    {
        PhonebookEntryDialog entry(Inside(*doc_).m_phonebook, STORAGE_FLAG_BOTH,
                                   STORAGE_FLAG_SIM | 3, u"", u"", true, prompt_);
        entry.show();
        auto* name = Find<QLineEdit>(&entry, ctl::kEntryName);
        name->setText("Eva");
        press(name, Qt::Key_Return);  // OK is off until there is a number
        EXPECT_TRUE(entry.isVisible());
        Find<QLineEdit>(&entry, ctl::kEntryNumber)->setText("0170");
        press(name, Qt::Key_Return);
        EXPECT_FALSE(entry.isVisible());
        EXPECT_EQ(entry.result(), QDialog::Accepted);
        entry.show();
        press(name, Qt::Key_Escape);
        EXPECT_FALSE(entry.isVisible());
        EXPECT_EQ(entry.result(), QDialog::Rejected);
    }
    {
        RecipientsDialog recipients(*doc_);
        recipients.show();
        auto* search = Find<QLineEdit>(&recipients, ctl::kRecipientsSearch);
        auto* contacts = Find<QTreeView>(&recipients, ctl::kRecipientsContacts);
        QTest::keyClicks(search, "zan");
        press(search, Qt::Key_Return);
        EXPECT_TRUE(recipients.isVisible());
        EXPECT_EQ(recipients.focusWidget(), contacts);
        Check(contacts, 1);
        press(contacts, Qt::Key_Return);
        EXPECT_FALSE(recipients.isVisible());
        EXPECT_EQ(recipients.result(), QDialog::Accepted);
        EXPECT_EQ(recipients.Result(), u"0170 111");
    }
    {
        RecipientsDialog recipients(*doc_);
        recipients.show();
        auto* contacts = Find<QTreeView>(&recipients, ctl::kRecipientsContacts);
        Check(contacts, 0);
        press(contacts, Qt::Key_Escape);
        EXPECT_FALSE(recipients.isVisible());
        EXPECT_EQ(recipients.result(), QDialog::Rejected);
    }
    {
        ContactsSelectDialog select(*doc_, STORAGE_FLAG_SIM);
        select.show();
        auto* search = Find<QLineEdit>(&select, ctl::kSelectSearch);
        auto* list = Find<QTreeView>(&select, ctl::kSelectList);
        QTest::keyClicks(search, "ho");
        press(search, Qt::Key_Return);
        EXPECT_TRUE(select.isVisible());
        EXPECT_EQ(select.focusWidget(), list);
        Check(list, 1);
        press(list, Qt::Key_Enter);
        EXPECT_EQ(select.result(), QDialog::Accepted);
        ASSERT_EQ(select.Marked().size(), 1u);
        EXPECT_EQ(select.Marked()[0].m_strName, u"Home Only");
        select.show();
        press(search, Qt::Key_Escape);
        EXPECT_EQ(select.result(), QDialog::Rejected);
    }
    {
        PhonebookDialog phonebook(*doc_, prompt_, nullptr);
        phonebook.show();
        std::u16string edited;
        phonebook.edit_entry = [&](uint32_t*, std::u16string* name, std::u16string*, bool) {
            edited = *name;
            return false;
        };
        auto* search = Find<QLineEdit>(&phonebook, ctl::kPhonebookSearch);
        auto* list = Find<QTreeView>(&phonebook, ctl::kPhonebookList);
        QTest::keyClicks(search, "ca");
        press(search, Qt::Key_Return);
        EXPECT_TRUE(phonebook.isVisible());
        EXPECT_EQ(phonebook.focusWidget(), list);
        press(list, Qt::Key_Return);  // edits the row found
        EXPECT_EQ(edited, u"Carl");
        EXPECT_TRUE(phonebook.isVisible());
        press(list, Qt::Key_Escape);
        EXPECT_FALSE(phonebook.isVisible());
    }
    {
        GroupsDialog groups(*doc_, prompt_);
        groups.show();
        auto* name = Find<QLineEdit>(&groups, ctl::kGroupsName);
        auto* list = Find<QTreeView>(&groups, ctl::kGroupsList);
        QTest::keyClicks(name, "Crew");
        press(name, Qt::Key_Return);  // creates the group, stays open
        EXPECT_TRUE(groups.isVisible());
        EXPECT_EQ(Column(list, 0), QStringList({"Crew (0)"}));
        std::u16string opened;
        groups.define_group = [&](const std::u16string& group) { opened = group; };
        list->selectionModel()->select(list->model()->index(0, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        press(list, Qt::Key_Return);
        EXPECT_EQ(opened, u"Crew");
        EXPECT_TRUE(groups.isVisible());
        press(list, Qt::Key_Escape);
        EXPECT_FALSE(groups.isVisible());
    }
    {
        GroupDefineDialog define(*doc_, prompt_, u"Crew");
        define.show();
        auto* contacts = Find<QTreeView>(&define, ctl::kDefineContacts);
        auto* members = Find<QTreeView>(&define, ctl::kDefineMembers);
        contacts->selectionModel()->select(contacts->model()->index(0, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        press(contacts, Qt::Key_Return);  // adds, as the arrow does
        EXPECT_TRUE(define.isVisible());
        EXPECT_EQ(Column(members, 0), QStringList({"Adler Anna"}));
        std::filesystem::remove(GroupPath(dir_, u"Crew"));
        press(members, Qt::Key_Return);  // saves, stays open
        EXPECT_TRUE(define.isVisible());
        EXPECT_TRUE(std::filesystem::exists(GroupPath(dir_, u"Crew")));
        press(members, Qt::Key_Escape);
        EXPECT_FALSE(define.isVisible());
    }
}

// The interface is not idle while the phonebook uses the phone, so the
// automatic message run waits; the window stays usable meanwhile.
class IdleRecordingPrompt : public platform::ScriptedPrompt {
  public:
    platform::Answer MessageBox(const std::u16string& text, platform::Buttons buttons,
                                platform::Icon icon, const std::u16string& caption) override {
        if (idle)
            idle_seen = idle->load();
        return ScriptedPrompt::MessageBox(text, buttons, icon, caption);
    }
    const std::atomic<int>* idle = nullptr;
    std::atomic<int> idle_seen{-1};
};

TEST_F(ContactsDialogs, SynchronisingRunsOffTheGuiThread) {
    nlohmann::json state = phonesim::testing::DefaultState();
    // The phone must be identified before its phonebook is read, and that
    // needs an operator of the device database.
    state["operator"]["name"] = "T-Mobile D";
    state["phonebook"]["storages"]["SM"] = {
        {"first", 1},
        {"last", 250},
        {"number_length", 40},
        {"text_length", 14},
        {"entries",
         {{{"index", 1}, {"number", "0301"}, {"type", 129}, {"text", "On the SIM"}},
          {{"index", 2}, {"number", "0302"}, {"type", 129}, {"text", "Also there"}}}}};
    ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", state));
    phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
    ASSERT_TRUE(phone_->Start(dir_ / "phone.json",
                              {"--register", "Phonesim", "--alias", "COM3:", "--send-ms", "0"}));
    IdleRecordingPrompt watching;
    doc_ = std::make_unique<CParloDoc>(nullptr, &watching, link_.get());
    StartOptions options;
    options.auto_sync = false;
    ASSERT_TRUE(doc_->OnNewDocument(nullptr, options));
    watching.idle = &Inside(*doc_).Engine().m_sync.m_bSyncIdle;
    Inside(*doc_).m_settings.m_nPhonebookFlags = STORAGE_FLAG_SIM;
    // A new entry at an index the SIM uses: it moves, it is not lost.
    Inside(*doc_).m_phonebook.m_entries.push_back(
        std::make_unique<CPhonebookEntry>(STORAGE_FLAG_SIM | 1, u"Imported/M", u"0170"));

    PhonebookDialog dialog(*doc_, watching, nullptr);
    dialog.show();
    dialog.Synchronise();
    EXPECT_TRUE(dialog.busy());
    EXPECT_FALSE(Find<QTreeView>(&dialog, ctl::kPhonebookList)->isEnabled());
    dialog.reject();  // not while the phone is in use
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_TRUE(WaitUntil([&] { return !dialog.busy(); }));
    EXPECT_EQ(watching.idle_seen.load(), 0);
    EXPECT_EQ(Inside(*doc_).Engine().m_sync.m_bSyncIdle.load(), 1);
    std::string shown;
    for (const std::u16string& text : watching.texts())
        shown += platform::ToUtf8(text) + " | ";
    EXPECT_EQ(watching.texts().back(), u"Synchronization completed successfully") << shown;
    auto* list = Find<QTreeView>(&dialog, ctl::kPhonebookList);
    EXPECT_EQ(Column(list, 1), QStringList({"Also there", "Imported/M", "On the SIM"}));
    EXPECT_EQ(Column(list, 3), QStringList({"2", "3", "1"}));
    EXPECT_TRUE(list->isEnabled());
    dialog.reject();
    EXPECT_FALSE(dialog.isVisible());
    doc_.reset();  // before the prompt goes
}

TEST_F(ContactsDialogs, EveryDialogLooksRight) {
    PhonebookEntries();
    CreateGroup(&Inside(*doc_).m_groups, dir_, u"Team", prompt_, strings::parlo());
    LookAt([&] { return new PhonebookDialog(*doc_, prompt_, nullptr); }, "phonebook");
    LookAt(
        [&] {
            return new PhonebookEntryDialog(Inside(*doc_).m_phonebook, STORAGE_FLAG_BOTH,
                                            STORAGE_FLAG_SIM | 3, u"Eva", u"0170", true, prompt_);
        },
        "phonebook-entry");
    LookAt([&] { return new RecipientsDialog(*doc_); }, "select-phone-number");
    LookAt([&] { return new ContactsSelectDialog(*doc_, STORAGE_FLAG_BOTH); }, "select-contacts");
    LookAt([&] { return new GroupsDialog(*doc_, prompt_); }, "groups");
    LookAt([&] { return new GroupDefineDialog(*doc_, prompt_, u"Team"); }, "define-group");
}

}  // namespace
}  // namespace parlo
