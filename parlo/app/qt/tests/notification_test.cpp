// Desktop notifications against a small notification server on a private
// session bus (the test runs under dbus-run-session): what a message that
// came while the window was not active says, and that clicking it opens the
// message. Without a server nothing is shown and nothing fails.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include "parlo/app/qt/desktop_notifier.h"
#include "parlo/app/qt/tests/main_window_fixture.h"

namespace parlo {
namespace {

using qtsupport::testing::WaitUntil;
using window_testing::MainWindow;

const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";

// The server side of the notification service: records what it is asked
// to show.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    struct Shown {
        QString app, summary, body;
        QStringList actions;
    };
    std::vector<Shown> shown;

  public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        (void)replaces, (void)icon, (void)hints, (void)timeout;
        shown.push_back({app, summary, body, actions});
        return static_cast<uint>(shown.size()) + 100;
    }
    QStringList GetCapabilities() { return {"body", "actions"}; }
};

class Notifications : public MainWindow {
  protected:
    void SetUp() override {
        MainWindow::SetUp();
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    }
    void TearDown() override {
        other_.reset();
        if (server_bus_) {
            server_bus_->unregisterObject(kPath);
            server_bus_->unregisterService(kService);
            QDBusConnection::disconnectFromBus("fake-notifications");
        }
        MainWindow::TearDown();
    }
    void StartServer() {
        server_bus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-notifications"));
        ASSERT_TRUE(server_bus_->registerObject(kPath, &server, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(server_bus_->registerService(kService));
    }
    void Click(uint id) {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, "ActionInvoked");
        signal << id << QString("default");
        server_bus_->send(signal);
    }
    // Another window takes the focus: the main window is not active.
    void LookElsewhere() {
        other_ = std::make_unique<QWidget>();
        other_->show();
        other_->activateWindow();
        QApplication::setActiveWindow(other_.get());
        QCoreApplication::processEvents();
    }

    FakeNotificationServer server;
    std::unique_ptr<QDBusConnection> server_bus_;
    std::unique_ptr<QWidget> other_;
};

TEST_F(Notifications, WithoutAServerNothingIsShownAndNothingFails) {
    DesktopNotifier notifier;
    bool clicked = false;
    notifier.Notify("Someone", "Hello", [&] { clicked = true; });
    QTest::qWait(500);
    EXPECT_EQ(notifier.Shown(), 0);
    EXPECT_FALSE(clicked);
}

TEST_F(Notifications, NewMessagesWhileTheWindowIsInactiveAreAnnouncedAndClickingOpensThem) {
    StartServer();
    ASSERT_TRUE(Start());
    // While the window is active nothing is announced.
    app->Frame()->activateWindow();
    QApplication::setActiveWindow(app->Frame());
    Add(STATE_UNREAD, u"+491700", u"seen in the window");
    QTest::qWait(2000);
    EXPECT_TRUE(server.shown.empty());

    LookElsewhere();
    ASSERT_FALSE(app->Frame()->isActiveWindow());
    const std::u16string long_text =
        u"Dinner at eight tonight at the usual place, and bring the book you promised "
        u"last week because everyone wants to read it";
    CSmsMessage* key = Add(STATE_UNREAD, u"+491701", long_text);
    ASSERT_TRUE(WaitUntil([&] { return server.shown.size() == 1; }, 30000));
    EXPECT_EQ(server.shown[0].app, "Parlo");
    EXPECT_EQ(server.shown[0].summary, "+491701");
    EXPECT_TRUE(server.shown[0].body.startsWith("Dinner at eight tonight"));
    EXPECT_TRUE(server.shown[0].body.endsWith("..."));
    EXPECT_LE(server.shown[0].body.size(), 80);
    EXPECT_TRUE(server.shown[0].actions.contains("default"));

    // Several at once share one notification.
    Add(STATE_UNREAD, u"+491702", u"one");
    Add(STATE_UNREAD, u"+491703", u"two");
    ASSERT_TRUE(WaitUntil([&] { return server.shown.size() == 2; }, 30000));
    EXPECT_EQ(server.shown[1].summary, "2 new messages");

    // Clicking the first brings the window with that message open.
    Click(101);
    ASSERT_TRUE(WaitUntil([&] { return !dialogs.composed.empty(); }, 30000));
    EXPECT_EQ(dialogs.composed[0].record, key);
    EXPECT_EQ(dialogs.composed[0].mode, VIEW_INBOX);
}

}  // namespace
}  // namespace parlo

#include "notification_test.moc"
