// Held Outbox messages in the window (they may have gone out: shown as
// held, released or sent again from their context menu and their reader),
// and press and hold opening a list's context menu.
#include <QMenu>

#include "parlo/app/qt/tests/main_window_fixture.h"
#include "parlo/sms/sms_operations.h"
#include "platform/text.h"

namespace parlo {
namespace {

using qtsupport::testing::WaitUntil;
using window_testing::MainWindow;

class HeldMessages : public MainWindow {
  protected:
    CSmsMessage* Held(const std::u16string& number) {
        return Add(STATE_OUTBOX, number, u"may have gone out", 45000.0);
    }
    void Hold(CSmsMessage* rec) {
        ASSERT_EQ(Inside(Doc()).m_store.Change(
                      rec, [](CSmsMessage& m) { m.m_nPhoneIndex = kFateUnknownIndex; }),
                  StoreResult::kOk);
        Doc().TakeInChanges();
        Doc().View().MessageUpdated(rec);
        QCoreApplication::processEvents();
    }
    QAction* MenuAction(std::unique_ptr<QMenu>& menu, const char* name) {
        return menu ? menu->findChild<QAction*>(name) : nullptr;
    }
    std::unique_ptr<QMenu> MenuAt(CSmsMessage* rec) {
        QTreeView* list = View()->List(VIEW_OUTBOX);
        const QRect at =
            list->visualRect(Model(VIEW_OUTBOX)->index(Model(VIEW_OUTBOX)->RowOf(rec), 1));
        return std::unique_ptr<QMenu>(View()->BuildContextMenu(VIEW_OUTBOX, at.center()));
    }
};

TEST_F(HeldMessages, AreShownAsHeldAndReleasedFromTheirMenuWhichStopsTheBlinking) {
    ASSERT_TRUE(Start());
    CSmsMessage* queued = Add(STATE_OUTBOX, u"+4930", u"queued");
    CSmsMessage* held = Held(u"+4940");
    Hold(held);
    View()->ShowFolder(VIEW_OUTBOX);
    View()->List(VIEW_OUTBOX)->resize(600, 300);
    MessageListModel* outbox = Model(VIEW_OUTBOX);
    const QModelIndex held_row = outbox->index(outbox->RowOf(held), 1);
    const QModelIndex queued_row = outbox->index(outbox->RowOf(queued), 1);
    EXPECT_EQ(outbox->data(held_row, Qt::ToolTipRole).toString(), MessageListModel::HeldText());
    EXPECT_NE(outbox->data(queued_row, Qt::ToolTipRole).toString(), MessageListModel::HeldText());
    EXPECT_EQ(outbox->data(outbox->index(outbox->RowOf(held), 0), Qt::AccessibleTextRole), "held");

    // Only a held message offers Send again and Release.
    auto menu = MenuAt(queued);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuAction(menu, "Release"), nullptr);
    EXPECT_EQ(MenuAction(menu, "SendAgain"), nullptr);
    menu = MenuAt(held);
    ASSERT_NE(MenuAction(menu, "SendAgain"), nullptr);
    ASSERT_NE(MenuAction(menu, "Release"), nullptr);

    // The last run reported it: the indicator blinks until it is released.
    Doc().Errors().AddFormatted(IDS_HELD_IN_OUTBOX, {u"+4940"});
    QCoreApplication::processEvents();
    ASSERT_NE(View()->ErrorPhase(), 0);
    MenuAction(menu, "Release")->trigger();
    QCoreApplication::processEvents();
    CSmsMessage copy;
    ASSERT_TRUE(Doc().Store().Read(held, &copy));
    EXPECT_FALSE(CParloDoc::IsHeld(copy));
    EXPECT_EQ(copy.m_nState, STATE_OUTBOX);  // still queued, for the next run
    EXPECT_EQ(View()->ErrorPhase(), 0);
    EXPECT_NE(outbox->data(outbox->index(outbox->RowOf(held), 1), Qt::ToolTipRole).toString(),
              MessageListModel::HeldText());
}

TEST_F(HeldMessages, TheOutboxReaderReleasesAHeldMessage) {
    ASSERT_TRUE(Start());
    CSmsMessage* held = Held(u"+4940");
    Hold(held);
    CSmsMessage* queued = Add(STATE_OUTBOX, u"+4930", u"queued");
    {
        ComposeDialog reader(Doc(), prompt, VIEW_OUTBOX, queued, u"+4930", u"queued", false);
        EXPECT_TRUE(reader.findChild<QPushButton*>("Release")->isHidden());
        EXPECT_TRUE(reader.findChild<QPushButton*>("SendAgain")->isHidden());
    }
    ComposeDialog reader(Doc(), prompt, VIEW_OUTBOX, held, u"+4940", u"may have gone out", false);
    reader.show();
    auto* release = reader.findChild<QPushButton*>("Release");
    ASSERT_TRUE(release->isVisible());
    EXPECT_TRUE(reader.findChild<QPushButton*>("SendAgain")->isVisible());
    release->click();
    EXPECT_EQ(reader.result(), QDialog::Accepted);
    CSmsMessage copy;
    ASSERT_TRUE(Doc().Store().Read(held, &copy));
    EXPECT_FALSE(CParloDoc::IsHeld(copy));
}

// A press held on a row opens its context menu; a short click does not.
TEST_F(HeldMessages, PressAndHoldOpensTheContextMenu) {
    ASSERT_TRUE(Start());
    CSmsMessage* rec = Add(STATE_READ, u"+4930", u"hold me");
    QTreeView* list = View()->List(VIEW_INBOX);
    list->resize(600, 300);
    const QPoint at =
        list->visualRect(Model(VIEW_INBOX)->index(Model(VIEW_INBOX)->RowOf(rec), 2)).center();
    int menus = 0;
    QObject::connect(list, &QWidget::customContextMenuRequested, [&] { ++menus; });
    // The menu runs its own loop: it is closed as soon as it shows.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    closer.start(50);

    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at, 100);
    QTest::qWait(1000);
    EXPECT_EQ(menus, 0);

    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    ASSERT_TRUE(WaitUntil([&] { return menus == 1; }, 5000));
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(View()->SelectedRecord(), rec);  // the menu is for the row held
}

}  // namespace
}  // namespace parlo
