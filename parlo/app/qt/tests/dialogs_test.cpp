// The compose, folder and options dialogs driven offscreen over a document
// of a scratch installation. With SKYVANE_SCREENSHOT_DIR set, every dialog in
// every mode is saved there, at the default font and at 1.5x.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/compose_dialog.h"
#include "parlo/app/qt/folder_choice_dialog.h"
#include "parlo/app/qt/folders_dialog.h"
#include "parlo/app/qt/options_dialog.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/store/modems.h"
#include "parlo/store/tests/test_util.h"
#include "parlo_strings.h"
#include "platform/ports.h"
#include "platform/prompt.h"
#include "qtsupport/layout_check.h"
#include "qtsupport/screenshot.h"
#include "qtsupport/testing/qt_test_util.h"

namespace parlo {
namespace {

using qtsupport::testing::App;

using platform::Answer;

template <typename T = QWidget>
T* Find(QWidget* root, const char* id) {
    T* w = root->findChild<T*>(id);
    EXPECT_NE(w, nullptr) << id;
    return w;
}

class DialogsTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    platform::ScriptedPrompt prompt;
    std::unique_ptr<CParloDoc> doc;

    void SetUp() override {
        qtsupport::testing::UseOffscreenScreen(1280, 900);
        App();
        setenv("SKYVANE_HOME", dir.path().c_str(), 1);
        setenv("SKYVANE_ROOT", dir.path().c_str(), 1);
        doc = std::make_unique<CParloDoc>(nullptr, &prompt);
        StartOptions opt;
        opt.require_ports = false;
        opt.auto_sync = false;
        ASSERT_TRUE(doc->Start(nullptr, opt));
        prompt.Clear();
    }
    void TearDown() override { doc.reset(); }

    std::vector<CSmsMessage*> InState(int32_t state) {
        std::vector<CSmsMessage*> out;
        Inside(*doc).m_store.ForEach([&](CSmsMessage& m) {
            if (m.m_nState == state)
                out.push_back(&m);
        });
        return out;
    }
    size_t Count() { return Inside(*doc).m_store.Count(); }

    std::unique_ptr<ComposeDialog> Compose(int mode, CSmsMessage* rec = nullptr,
                                           const std::u16string& phone = u"",
                                           const std::u16string& text = u"") {
        auto d = std::make_unique<ComposeDialog>(
            *doc, prompt, mode, rec, rec ? rec->m_strNumber : phone, rec ? rec->m_strText : text,
            rec && rec->m_nState == STATE_OUTBOX_PUSH);
        d->show();
        return d;
    }
    static void Type(QWidget* d, const char* id, const QString& text) {
        if (auto* line = qobject_cast<QLineEdit*>(d->findChild<QWidget*>(id))) {
            line->setText(text);
        } else if (auto* edit = qobject_cast<QPlainTextEdit*>(d->findChild<QWidget*>(id))) {
            edit->setPlainText(text);
        } else {
            ADD_FAILURE() << "no edit " << id;
        }
    }
    static void Click(QWidget* d, const char* id) {
        auto* b = d->findChild<QAbstractButton*>(id);
        ASSERT_NE(b, nullptr) << id;
        ASSERT_TRUE(b->isVisible() && b->isEnabled()) << id;
        b->click();
    }
    static bool Shown(QWidget* d, const char* id) {
        QWidget* w = d->findChild<QWidget*>(id);
        return w && w->isVisible();
    }
    static bool Enabled(QWidget* d, const char* id) {
        QWidget* w = d->findChild<QWidget*>(id);
        return w && w->isEnabled();
    }
    static void ExpectGoodLayout(QWidget* d, const QString& name) {
        d->adjustSize();
        d->resize(d->size().expandedTo(d->sizeHint()));
        QApplication::processEvents();
        EXPECT_TRUE(qtsupport::LayoutProblems(d).isEmpty())
            << name.toStdString() << ": " << qtsupport::LayoutProblems(d).join("\n").toStdString();
        qtsupport::SaveScreenshot(d, name);
    }
};

// --- compose and read ------------------------------------------------------------

TEST_F(DialogsTest, EachModeOpensWithItsLayout) {
    CSmsMessage* rec =
        doc->AddReceived(STATE_READ, u"+4917", u"hello", platform::OleDate::Now(), STORAGE_SIM, 3)
            .rec;
    struct Row {
        int mode;
        bool send, draft, templ, reply, forward, push, pick;
        const char* draft_text;
    };
    const Row rows[] = {
        {VIEW_INBOX, false, false, false, true, true, false, false, "as Draft"},
        {VIEW_OUTBOX, false, true, true, false, true, true, true, "Save"},
        {VIEW_SENT, true, true, true, false, true, false, true, "as Draft"},
        {VIEW_DRAFT, true, true, true, false, true, false, true, "Save"},
        {VIEW_TEMPLATES, true, true, true, false, false, false, true, "as Draft"},
        {VIEW_USER_FOLDER, true, true, true, true, true, false, true, "as Draft"},
        {VIEW_RECYCLE, true, true, true, true, true, false, true, "as Draft"},
        {VIEW_NEW, true, true, true, false, false, true, true, "as Draft"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mode);
        auto d = Compose(r.mode, r.mode == VIEW_NEW ? nullptr : rec);
        EXPECT_EQ(Shown(d.get(), "1005"), r.send);
        EXPECT_EQ(Shown(d.get(), "1006"), r.draft);
        EXPECT_EQ(Shown(d.get(), "1007"), r.templ);
        EXPECT_EQ(Shown(d.get(), "1037"), r.reply);
        EXPECT_EQ(Shown(d.get(), "1038"), r.forward);
        EXPECT_EQ(Shown(d.get(), "1070"), r.push);
        EXPECT_EQ(Shown(d.get(), "1003"), r.pick);
        EXPECT_FALSE(Shown(d.get(), "1"));
        EXPECT_EQ(Find<QPushButton>(d.get(), "1006")->text(), QString(r.draft_text));
        EXPECT_EQ(Find<QLineEdit>(d.get(), "1002")->isReadOnly(), r.mode == VIEW_INBOX);
        EXPECT_EQ(Find<QPlainTextEdit>(d.get(), "1004")->isReadOnly(), r.mode == VIEW_INBOX);
        if (r.push) {
            EXPECT_EQ(Enabled(d.get(), "1070"), r.mode == VIEW_NEW);
        }
        const QString name = QString("compose_mode%1").arg(r.mode);
        ExpectGoodLayout(d.get(), name);
        {
            qtsupport::FontScale large(1.5);
            auto big = Compose(r.mode, r.mode == VIEW_NEW ? nullptr : rec);
            ExpectGoodLayout(big.get(), name + "_large");
        }
    }
}

TEST_F(DialogsTest, EnablingFollowsTextAndNumberOnEveryChange) {
    auto d = Compose(VIEW_NEW);
    EXPECT_FALSE(Enabled(d.get(), "1005"));
    EXPECT_FALSE(Enabled(d.get(), "1006"));
    EXPECT_FALSE(Enabled(d.get(), "1007"));
    Type(d.get(), "1004", "Hi");
    EXPECT_TRUE(Enabled(d.get(), "1007"));  // a template needs no number
    EXPECT_FALSE(Enabled(d.get(), "1005"));
    Type(d.get(), "1002", "+49 170");  // a blank makes the number invalid
    EXPECT_FALSE(Enabled(d.get(), "1005"));
    EXPECT_FALSE(Enabled(d.get(), "1006"));
    Type(d.get(), "1002", "+49170;0171");
    EXPECT_TRUE(Enabled(d.get(), "1005"));
    EXPECT_TRUE(Enabled(d.get(), "1006"));
    Type(d.get(), "1004", "");
    EXPECT_FALSE(Enabled(d.get(), "1005"));
    EXPECT_FALSE(Enabled(d.get(), "1007"));

    // In a user folder, Reply needs only a valid number.
    CSmsMessage* rec = doc->AddDraft(u"0170", u"").rec;
    auto f = Compose(VIEW_USER_FOLDER, rec);
    EXPECT_TRUE(Enabled(f.get(), "1037"));
    EXPECT_FALSE(Enabled(f.get(), "1005"));
    Type(f.get(), "1002", "x");
    EXPECT_FALSE(Enabled(f.get(), "1037"));
}

TEST_F(DialogsTest, CountersFollowTheSendersSplitting) {
    auto d = Compose(VIEW_NEW);
    EXPECT_EQ(d->CharCountText(), "0");
    EXPECT_EQ(d->SmsCountText(), "1");
    Type(d.get(), "1004", QString(154, 'a'));
    EXPECT_EQ(d->CharCountText(), "154");
    EXPECT_EQ(d->SmsCountText(), "1");
    Type(d.get(), "1004", QString(155, 'a'));
    EXPECT_EQ(d->CharCountText(), "155");
    EXPECT_EQ(d->SmsCountText(), "2");
    // A line break is sent as two characters and counted so.
    Type(d.get(), "1004", QString(152, 'a') + "\nb");
    EXPECT_EQ(d->CharCountText(), "155");
    EXPECT_EQ(d->SmsCountText(), "2");
    Type(d.get(), "1004", QString(309, 'a'));
    EXPECT_EQ(d->SmsCountText(), "3");
}

TEST_F(DialogsTest, SendQueuesOneMessagePerNumberInOrder) {
    auto d = Compose(VIEW_NEW);
    Type(d.get(), "1002", "0170111;;0170222;");
    Type(d.get(), "1004", "line one\nline two");
    Click(d.get(), "1005");
    EXPECT_EQ(d->result(), QDialog::Accepted);
    std::vector<CSmsMessage*> out = InState(STATE_OUTBOX);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0]->m_strNumber, u"0170111");
    EXPECT_EQ(out[1]->m_strNumber, u"0170222");
    EXPECT_EQ(out[0]->m_strText, u"line one\r\nline two");

    auto push = Compose(VIEW_NEW, nullptr, u"0170333", u"pushed");
    Find<QCheckBox>(push.get(), "1070")->setChecked(true);
    Click(push.get(), "1005");
    ASSERT_EQ(InState(STATE_OUTBOX_PUSH).size(), 1u);
}

TEST_F(DialogsTest, SendingADraftMovesItToTheRecycleBin) {
    CSmsMessage* draft = doc->AddDraft(u"0170", u"draft text").rec;
    auto d = Compose(VIEW_DRAFT, draft);
    Click(d.get(), "1005");
    EXPECT_EQ(draft->m_nState, STATE_DELETED);
    ASSERT_EQ(InState(STATE_OUTBOX).size(), 1u);
    EXPECT_EQ(InState(STATE_OUTBOX)[0]->m_strText, u"draft text");
}

TEST_F(DialogsTest, SaveInTheOutboxKeepsTheMessageQueued) {
    CSmsMessage* queued = doc->AddOutgoing(u"0170", u"old", true).rec;
    auto d = Compose(VIEW_OUTBOX, queued);
    EXPECT_TRUE(Find<QCheckBox>(d.get(), "1070")->isChecked());
    Type(d.get(), "1002", "0171");
    Type(d.get(), "1004", "new");
    Click(d.get(), "1006");
    EXPECT_EQ(queued->m_nState, STATE_OUTBOX_PUSH);
    EXPECT_EQ(queued->m_strNumber, u"0171");
    EXPECT_EQ(queued->m_strText, u"new");
    EXPECT_EQ(Count(), 1u);
    // And it is so in the file.
    CSmsMessage back;
    ASSERT_TRUE(doc->ReloadMessage(*queued, &back));
    EXPECT_EQ(back.m_strText, u"new");
}

TEST_F(DialogsTest, OkSavesOnlyWithNumberAndText) {
    auto empty = Compose(VIEW_NEW, nullptr, u"0170", u"");
    empty->reject();  // Escape and the close box act as OK
    EXPECT_EQ(Count(), 0u);
    EXPECT_FALSE(empty->isVisible());

    auto full = Compose(VIEW_NEW, nullptr, u"0170", u"keep me");
    full->reject();
    ASSERT_EQ(InState(STATE_DRAFT).size(), 1u);
    EXPECT_EQ(InState(STATE_DRAFT)[0]->m_strText, u"keep me");

    // A text without a number is not thrown away without a question.
    auto lost = Compose(VIEW_NEW);
    Type(lost.get(), "1004", "no number yet");
    prompt.Push(Answer::No);
    lost->reject();
    EXPECT_TRUE(lost->isVisible());
    ASSERT_EQ(prompt.texts().size(), 1u);
    prompt.Push(Answer::Yes);
    lost->reject();
    EXPECT_FALSE(lost->isVisible());
    EXPECT_EQ(Count(), 1u);
}

TEST_F(DialogsTest, ReadingAReceivedMessageLeavesItAsStored) {
    CSmsMessage* rec = doc->AddReceived(STATE_READ, u"+4917", u"two\nlines",
                                        platform::OleDate::Now(), STORAGE_PHONE, 1)
                           .rec;
    const int32_t offset = rec->m_nFileOffset;
    auto d = Compose(VIEW_INBOX, rec);
    d->reject();
    // The phone's bare line feed stays, so the next synchronisation still
    // knows the message.
    EXPECT_EQ(rec->m_strText, u"two\nlines");
    EXPECT_EQ(rec->m_nFileOffset, offset);
    EXPECT_EQ(Count(), 1u);

    // Sent Messages: OK edits the record where it lies.
    CSmsMessage* sent =
        doc->AddReceived(STATE_SENT, u"0170", u"a", platform::OleDate::Now(), STORAGE_POCKETPC, -1)
            .rec;
    auto s = Compose(VIEW_SENT, sent);
    Type(s.get(), "1004", "b");
    s->reject();
    EXPECT_EQ(sent->m_nState, STATE_SENT);
    EXPECT_EQ(sent->m_strText, u"b");
}

TEST_F(DialogsTest, DraftAndTemplateButtonsFileNewRecordsOrSave) {
    CSmsMessage* sent = doc->AddReceived(STATE_SENT, u"0170", u"sent text",
                                         platform::OleDate::Now(), STORAGE_POCKETPC, -1)
                            .rec;
    auto d = Compose(VIEW_SENT, sent);
    Click(d.get(), "1006");
    ASSERT_EQ(InState(STATE_DRAFT).size(), 1u);  // a new draft; the sent one stays
    EXPECT_EQ(sent->m_nState, STATE_SENT);

    auto t = Compose(VIEW_SENT, sent);
    Click(t.get(), "1007");
    ASSERT_EQ(InState(STATE_TEMPLATE).size(), 1u);
    CSmsMessage* tmpl = InState(STATE_TEMPLATE)[0];
    EXPECT_EQ(tmpl->m_strNumber, u"");
    EXPECT_EQ(tmpl->m_strText, u"sent text");

    // In Templates, "as Template" saves the template itself.
    auto e = Compose(VIEW_TEMPLATES, tmpl);
    EXPECT_TRUE(Enabled(e.get(), "1007"));
    Type(e.get(), "1004", "edited");
    Click(e.get(), "1007");
    EXPECT_EQ(InState(STATE_TEMPLATE).size(), 1u);
    EXPECT_EQ(tmpl->m_strText, u"edited");
}

TEST_F(DialogsTest, ReplyAndForwardCloseAndAskForTheNextDialog) {
    CSmsMessage* rec =
        doc->AddReceived(STATE_READ, u"+4917", u"hi", platform::OleDate::Now(), STORAGE_SIM, 2).rec;
    auto r = Compose(VIEW_INBOX, rec);
    Click(r.get(), "1037");
    EXPECT_EQ(r->NextAction(), ComposeDialog::Next::kReply);
    EXPECT_FALSE(r->isVisible());
    auto f = Compose(VIEW_INBOX, rec);
    Click(f.get(), "1038");
    EXPECT_EQ(f->NextAction(), ComposeDialog::Next::kForward);
    EXPECT_EQ(Count(), 1u);
}

TEST_F(DialogsTest, PickerFillsPhoneWithTheCleanedResult) {
    auto d = Compose(VIEW_NEW);
    Click(d.get(), "1003");
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_NE(prompt.texts()[0].find(u"not available yet"), std::u16string::npos);

    d->SetRecipientPicker(
        [](QWidget*) { return std::optional<std::u16string>(u"+49 (170) 1;x2"); });
    Click(d.get(), "1003");
    EXPECT_EQ(Find<QLineEdit>(d.get(), "1002")->text(), "+491701;2");
    d->SetRecipientPicker([](QWidget*) { return std::optional<std::u16string>(); });
    Click(d.get(), "1003");
    EXPECT_EQ(Find<QLineEdit>(d.get(), "1002")->text(), "+491701;2");
}

TEST_F(DialogsTest, ThePickerAddsToTheNumbersTyped) {
    auto d = Compose(VIEW_NEW);
    Type(d.get(), "1002", "0170");
    d->SetRecipientPicker(
        [](QWidget*) { return std::optional<std::u16string>(u"+49 (170) 1;0170"); });
    Click(d.get(), "1003");
    EXPECT_EQ(Find<QLineEdit>(d.get(), "1002")->text(), "0170;+491701");
    Type(d.get(), "1002", "0171;");
    Click(d.get(), "1003");
    EXPECT_EQ(Find<QLineEdit>(d.get(), "1002")->text(), "0171;+491701;0170");
}

TEST_F(DialogsTest, DisabledButtonsSayWhyAndNoNumberIsRefusedWithAWord) {
    auto d = Compose(VIEW_NEW);
    auto* send = Find<QPushButton>(d.get(), "1005");
    EXPECT_TRUE(send->toolTip().contains("text")) << send->toolTip().toStdString();
    Type(d.get(), "1004", "hello");
    EXPECT_TRUE(send->toolTip().contains("number")) << send->toolTip().toStdString();
    // ";;" names nobody: Send stays off and says why.
    Type(d.get(), "1002", ";;");
    EXPECT_FALSE(send->isEnabled());
    EXPECT_TRUE(send->toolTip().contains("\";;\"")) << send->toolTip().toStdString();
    Type(d.get(), "1002", "0170");
    EXPECT_TRUE(send->isEnabled());
    EXPECT_TRUE(send->toolTip().isEmpty());
}

TEST_F(DialogsTest, EscapeAsksBeforeSavingADraftWithAnInvalidNumber) {
    auto d = Compose(VIEW_NEW);
    Type(d.get(), "1002", "call me");
    Type(d.get(), "1004", "the text typed");
    prompt.Push(Answer::No);
    d->reject();
    EXPECT_TRUE(d->isVisible());  // back to the dialog, nothing lost
    EXPECT_EQ(Count(), 0u);
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_NE(prompt.texts()[0].find(u"not a valid phone number"), std::u16string::npos);
    EXPECT_EQ(Find<QPlainTextEdit>(d.get(), "1004")->toPlainText(), "the text typed");
    prompt.Push(Answer::Yes);
    d->reject();
    EXPECT_FALSE(d->isVisible());
    ASSERT_EQ(InState(STATE_DRAFT).size(), 1u);
    // A valid number saves without a question, as before.
    prompt.Clear();
    auto ok = Compose(VIEW_NEW, nullptr, u"0170", u"");
    Type(ok.get(), "1004", "fine");
    ok->reject();
    EXPECT_TRUE(prompt.texts().empty());
    EXPECT_EQ(InState(STATE_DRAFT).size(), 2u);
}

TEST_F(DialogsTest, CutCopyPasteWorkOnTheMessageText) {
    auto d = Compose(VIEW_NEW);
    auto* text = Find<QPlainTextEdit>(d.get(), "1004");
    text->setPlainText("abc");
    text->selectAll();
    Find<QAction>(d.get(), "57635")->trigger();
    EXPECT_EQ(text->toPlainText(), "");
    EXPECT_EQ(d->CharCountText(), "0");
    Find<QAction>(d.get(), "57637")->trigger();
    Find<QAction>(d.get(), "57637")->trigger();
    EXPECT_EQ(text->toPlainText(), "abcabc");
    text->selectAll();
    Find<QAction>(d.get(), "57634")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "abcabc");
}

TEST_F(DialogsTest, ReturnInTheTextIsALineBreak) {
    auto d = Compose(VIEW_NEW, nullptr, u"0170", u"");
    auto* text = Find<QPlainTextEdit>(d.get(), "1004");
    text->setFocus();
    QTest::keyClicks(text, "a");
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClicks(text, "b");
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(text->toPlainText(), "a\nb");
    EXPECT_EQ(Count(), 0u);
    QTest::keyClick(text, Qt::Key_Return, Qt::ControlModifier);  // sends
    EXPECT_FALSE(d->isVisible());
    ASSERT_EQ(InState(STATE_OUTBOX).size(), 1u);
}

// --- folders -----------------------------------------------------------------

TEST_F(DialogsTest, FolderDialogAddsRefusesRenamesAndDeletes) {
    FoldersDialog d(*doc);
    d.show();
    auto* name = Find<QLineEdit>(&d, "1029");
    auto* tree = Find<QTreeWidget>(&d, "1032");
    EXPECT_FALSE(Enabled(&d, "1030"));
    name->setText("   ");
    EXPECT_FALSE(Enabled(&d, "1030"));
    for (const char* n : {" Work ", "Home", "Club"}) {
        name->setText(n);
        Click(&d, "1030");
    }
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    ASSERT_NE(Inside(*doc).m_folders.ByName(u"Work"), nullptr);  // trimmed
    EXPECT_EQ(Inside(*doc).m_folders.ByName(u"Work")->m_nId, 1);
    EXPECT_EQ(name->text(), "");

    name->setText("Inbox");
    Click(&d, "1030");
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_EQ(prompt.texts()[0], u"The folder already exists.");
    EXPECT_EQ(tree->topLevelItemCount(), 3);

    // Deleting needs a selection, then a Yes.
    tree->setCurrentItem(nullptr);
    Click(&d, "1033");
    EXPECT_EQ(prompt.texts().back(), u"Select a folder please.");
    tree->setCurrentItem(tree->topLevelItem(0));
    prompt.Push(Answer::No);
    Click(&d, "1033");
    EXPECT_EQ(tree->topLevelItemCount(), 3);
    doc->MoveToFolder(doc->AddDraft(u"0170", u"filed").rec, 1);
    ASSERT_EQ(doc->FolderRecords(1).size(), 1u);
    tree->setCurrentItem(tree->topLevelItem(0));
    prompt.Push(Answer::Yes);
    Click(&d, "1033");
    EXPECT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(Inside(*doc).m_folders.ById(1), nullptr);
    EXPECT_EQ(Count(), 0u);  // its message was purged with it

    // A new folder gets an id above every one still in use.
    name->setText("Later");
    Click(&d, "1030");
    EXPECT_EQ(Inside(*doc).m_folders.ByName(u"Later")->m_nId, 4);

    // Renaming in place: to a name that another folder has, case aside
    // (fixed ones too), is refused with a word, as is nothing; the name
    // typed comes back in the editor.
    QTreeWidgetItem* item = tree->topLevelItem(0);
    const int32_t id = item->data(0, Qt::UserRole).toInt();
    const std::u16string old = Inside(*doc).m_folders.ById(id)->m_strName;
    prompt.Clear();
    for (const char* taken : {"Inbox", "INBOX", "later", "  "}) {
        item->setText(0, taken);
        EXPECT_EQ(Inside(*doc).m_folders.ById(id)->m_strName, old) << taken;
        EXPECT_EQ(item->text(0).toStdU16String(), old) << taken;
        QTest::qWait(20);
        if (auto* editor = tree->viewport()->findChild<QLineEdit*>(); editor && editor->isVisible())
            tree->closePersistentEditor(item);
    }
    ASSERT_EQ(prompt.texts().size(), 3u);
    EXPECT_EQ(prompt.texts()[0], u"The folder already exists.");
    item->setText(0, "Friends");
    EXPECT_EQ(Inside(*doc).m_folders.ById(id)->m_strName, u"Friends");
    // Adding is case-blind too.
    name->setText("friends");
    Click(&d, "1030");
    EXPECT_EQ(prompt.texts().back(), u"The folder already exists.");
    EXPECT_EQ(Inside(*doc).m_folders.UserFolders().size(), 3u);

    // What was saved is what a restart reads.
    CFolderTable back;
    ASSERT_EQ(back.Load(Inside(*doc).m_registry, strings::parlo()), FolderResult::kOk);
    EXPECT_EQ(back.UserFolders().size(), 3u);
    EXPECT_EQ(back.ById(id)->m_strName, u"Friends");
    ExpectGoodLayout(&d, "folders");
    qtsupport::FontScale large(1.5);
    FoldersDialog big(*doc);
    big.show();
    ExpectGoodLayout(&big, "folders_large");
}

TEST_F(DialogsTest, DestinationDialogOffersEveryFolderAndReturnsTheChoice) {
    doc->AddFolder(u"Archive");
    FolderChoiceDialog d(*doc);
    d.show();
    auto* list = Find<QListWidget>(&d, "1031");
    ASSERT_EQ(list->count(), 7);
    EXPECT_EQ(list->item(0)->text(), "Archive");  // sorted
    EXPECT_FALSE(Enabled(&d, "1"));
    QListWidgetItem* inbox = list->findItems("Inbox", Qt::MatchExactly).value(0);
    ASSERT_NE(inbox, nullptr);
    list->setCurrentItem(inbox);
    EXPECT_TRUE(Enabled(&d, "1"));
    ExpectGoodLayout(&d, "destination");
    emit list->itemDoubleClicked(inbox);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.ChosenFolder(), FOLDER_INBOX);
}

// --- options -----------------------------------------------------------------

class OptionsTest : public DialogsTest {
  protected:
    std::unique_ptr<OptionsDialog> Open() {
        auto d = std::make_unique<OptionsDialog>(*doc, prompt);
        d->show();
        return d;
    }
};

TEST_F(OptionsTest, StoredIntervalBelowTwoOpensAsSixty) {
    for (int stored : {0, 1}) {
        Inside(*doc).m_settings.m_nAutoSyncInterval = stored;
        auto d = Open();
        EXPECT_EQ(Find<QLineEdit>(d.get(), "1016")->text(), "60");
    }
}

TEST_F(OptionsTest, SetIsEnabledOnlyWithAUsableIntervalAndCentre) {
    auto d = Open();
    auto* on = Find<QCheckBox>(d.get(), "1015");
    auto* interval = Find<QLineEdit>(d.get(), "1016");
    auto* own = Find<QCheckBox>(d.get(), "1017");
    auto* centre = Find<QLineEdit>(d.get(), "1018");
    on->setChecked(false);
    EXPECT_FALSE(interval->isEnabled());
    interval->setText("1");
    EXPECT_TRUE(Enabled(d.get(), "1"));  // the interval does not matter while off
    on->setChecked(true);
    EXPECT_TRUE(interval->isEnabled());
    EXPECT_FALSE(Enabled(d.get(), "1"));
    interval->setText("2");
    EXPECT_TRUE(Enabled(d.get(), "1"));
    own->setChecked(true);
    EXPECT_TRUE(centre->isEnabled());
    centre->setText("");
    EXPECT_FALSE(Enabled(d.get(), "1"));
    centre->setText("+49 171");
    EXPECT_FALSE(Enabled(d.get(), "1"));
    centre->setText("+49171");
    EXPECT_TRUE(Enabled(d.get(), "1"));
    Find<QCheckBox>(d.get(), "1019")->setChecked(false);
    EXPECT_FALSE(Enabled(d.get(), "1074"));
    Find<QCheckBox>(d.get(), "1019")->setChecked(true);
    EXPECT_TRUE(Enabled(d.get(), "1074"));
}

TEST_F(OptionsTest, OutOfRangeIntervalIsRefusedAndTheDialogStays) {
    auto d = Open();
    Find<QCheckBox>(d.get(), "1015")->setChecked(true);
    Find<QLineEdit>(d.get(), "1016")->setText("100000");
    Click(d.get(), "1");
    EXPECT_TRUE(d->isVisible());
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_EQ(prompt.texts()[0], u"Please enter a number between 2 and 99999.");
}

TEST_F(OptionsTest, APortThatDoesNotExistIsNamedAndNothingTypedIsLost) {
    auto d = Open();
    Find<QCheckBox>(d.get(), "1019")->setChecked(true);
    auto* port = Find<QComboBox>(d.get(), "1074");
    port->setEditText("COM7:");
    Find<QLineEdit>(d.get(), "1016")->setText("15");
    Click(d.get(), "1");
    EXPECT_TRUE(d->isVisible());
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_NE(prompt.texts()[0].find(u"\"COM7:\" does not exist"), std::u16string::npos);
    EXPECT_EQ(port->currentText(), "COM7:");
    EXPECT_EQ(Find<QLineEdit>(d.get(), "1016")->text(), "15");
    // Registered, it is taken; unused, it is not checked.
    platform::AddPortAlias(Inside(*doc).m_registry, "/dev/null", "COM7:");
    Click(d.get(), "1");
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(d->Values().m_strUserPort, u"COM7:");
    auto off = Open();
    Find<QCheckBox>(off.get(), "1019")->setChecked(false);
    Find<QComboBox>(off.get(), "1074")->setEditText("COM8:");
    Click(off.get(), "1");
    EXPECT_EQ(off->result(), QDialog::Accepted);
}

TEST_F(OptionsTest, SetWritesTheEightSettings) {
    Inside(*doc).m_settings.m_nPhonebookFlags = PB_PHONE;
    platform::AddPortAlias(Inside(*doc).m_registry, "/dev/null", "COM4:");
    std::ofstream(dir / "usb-Phone_Ab") << "";
    auto d = Open();
    EXPECT_EQ(Find<QComboBox>(d.get(), "1068")->currentIndex(), 1);
    Find<QCheckBox>(d.get(), "1015")->setChecked(false);
    Find<QLineEdit>(d.get(), "1016")->setText("15");
    Find<QCheckBox>(d.get(), "1017")->setChecked(true);
    Find<QLineEdit>(d.get(), "1018")->setText("+49171");
    Find<QCheckBox>(d.get(), "1019")->setChecked(true);
    Find<QComboBox>(d.get(), "1074")->setEditText("com4:");
    Find<QCheckBox>(d.get(), "1036")->setChecked(true);
    Find<QComboBox>(d.get(), "1068")->setCurrentIndex(2);
    Find<QCheckBox>(d.get(), "concatenated")->setChecked(true);
    Click(d.get(), "1");
    ASSERT_EQ(d->result(), QDialog::Accepted);
    const CSettings& v = d->Values();
    EXPECT_EQ(v.m_bConcatenated, 1);
    EXPECT_EQ(v.m_bAutoSync, 0);
    EXPECT_EQ(v.m_nAutoSyncInterval, 15);
    EXPECT_EQ(v.m_bOwnSmsCentre, 1);
    EXPECT_EQ(v.m_strSmsCentre, u"+49171");
    EXPECT_EQ(v.m_bUsePort, 1);
    EXPECT_EQ(v.m_strUserPort, u"COM4:");
    EXPECT_EQ(v.m_bDeleteAfterSync, 1);
    EXPECT_EQ(v.m_nPhonebookFlags, PB_BOTH);
    ASSERT_TRUE(doc->ApplyOptions(v));

    CSettings back;
    ASSERT_TRUE(LoadSettings(dir.path(), Inside(*doc).m_registry, &back));
    LoadPhonebookSettings(dir.path(), &back);
    EXPECT_EQ(back.m_nAutoSyncInterval, 15);
    EXPECT_EQ(back.m_strSmsCentre, u"+49171");
    EXPECT_EQ(back.m_strUserPort, u"COM4:");
    EXPECT_EQ(back.m_nPhonebookFlags, PB_BOTH);
    EXPECT_EQ(back.m_bConcatenated, 1) << "kept in the profile beside vok.ini";
    EXPECT_EQ(doc->Settings().m_bConcatenated, 1) << "the sender plans with it at once";

    // A device path keeps its letter case.
    auto p = Open();
    const QString device = QString::fromStdString((dir / "usb-Phone_Ab").string());
    Find<QComboBox>(p.get(), "1074")->setEditText(device);
    Click(p.get(), "1");
    EXPECT_EQ(p->Values().m_strUserPort, device.toStdU16String());
}

TEST_F(OptionsTest, ConnectionChoosesAmongTheRegisteredModems) {
    ASSERT_FALSE(AddExtModem(doc->Registry(), "Nokia", "/dev/ttyUSB0").empty());
    ASSERT_FALSE(AddExtModem(doc->Registry(), "Siemens", "/dev/ttyACM0").empty());
    ASSERT_TRUE(doc->BuildPortList(true));
    auto d = Open();
    auto* connection = Find<QComboBox>(d.get(), "connection");
    ASSERT_EQ(connection->count(), 3);
    EXPECT_EQ(connection->currentIndex(), 0) << "no name stored: the automatic rule";
    connection->setCurrentIndex(connection->findData("Siemens"));
    Click(d.get(), "1");
    ASSERT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(d->Values().m_strConnection, u"Siemens");
    ASSERT_TRUE(doc->ApplyOptions(d->Values()));
    CSettings back;
    ASSERT_TRUE(LoadSettings(dir.path(), doc->Registry(), &back));
    EXPECT_EQ(back.m_strConnection, u"Siemens");

    // Back to automatic; a stored name of a modem removed since is kept, not
    // replaced by the first entry.
    auto again = Open();
    EXPECT_EQ(Find<QComboBox>(again.get(), "connection")->currentData().toString(), "Siemens");
    Inside(*doc).m_settings.m_strConnection = u"Gone";
    auto gone = Open();
    Click(gone.get(), "1");
    EXPECT_EQ(gone->Values().m_strConnection, u"Gone");
    auto automatic = Open();
    Find<QComboBox>(automatic.get(), "connection")->setCurrentIndex(0);
    Click(automatic.get(), "1");
    EXPECT_EQ(automatic->Values().m_strConnection, u"");
}

TEST_F(OptionsTest, SetThatCannotWriteSaysSoAndKeepsTheValues) {
    std::filesystem::create_directories(dir / "vok.ini");  // cannot be replaced
    auto d = Open();
    Find<QLineEdit>(d.get(), "1016")->setText("33");
    Click(d.get(), "1");
    ASSERT_EQ(d->result(), QDialog::Accepted);
    EXPECT_FALSE(doc->ApplyOptions(d->Values()));
    ASSERT_FALSE(prompt.texts().empty());
    EXPECT_EQ(prompt.texts().back(), u"Save failed.");
    EXPECT_EQ(Inside(*doc).m_settings.m_nAutoSyncInterval, 33);
}

TEST_F(OptionsTest, AutomaticRunStopsAndStartsAgain) {
    Inside(*doc).Engine().m_sync.SetTimingForTesting(std::chrono::hours(1),
                                                     std::chrono::milliseconds(20));
    auto run = [&](bool on) {
        auto d = Open();
        Find<QCheckBox>(d.get(), "1015")->setChecked(on);
        Find<QLineEdit>(d.get(), "1016")->setText("5");
        Click(d.get(), "1");
        ASSERT_EQ(d->result(), QDialog::Accepted);
        doc->ApplyOptions(d->Values());
    };
    run(true);
    EXPECT_TRUE(doc->IsAutoSyncActive());
    run(false);
    EXPECT_FALSE(doc->IsAutoSyncActive());
    run(true);
    EXPECT_TRUE(doc->IsAutoSyncActive());
    EXPECT_EQ(Inside(*doc).Engine().m_sync.m_nRuns.load(), 0);  // nothing synchronised
    doc->StopAutoSync();
}

TEST_F(OptionsTest, LayoutFitsAtBothFontSizes) {
    auto d = Open();
    ExpectGoodLayout(d.get(), "options");
    qtsupport::FontScale large(1.5);
    auto big = Open();
    ExpectGoodLayout(big.get(), "options_large");
}

}  // namespace
}  // namespace parlo
