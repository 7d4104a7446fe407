// The updater's window driven on the offscreen platform: the views switch as
// the check ends, the check boxes choose the files again, "Update" needs a
// checked row. With SKYVANE_SCREENSHOT_DIR set every view and dialog is saved
// there as a PNG.
#include "updater/window.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <thread>

#include "platform/process.h"
#include "updater/tests/fixture.h"

namespace updater_test {
namespace {

using updater::UpdaterWindow;

void Shot(QWidget* widget, const char* name) {
    const char* dir = std::getenv("SKYVANE_SCREENSHOT_DIR");
    if (!dir || !*dir || !widget)
        return;
    widget->grab().save(QString::fromStdString((fs::path(dir) / name).string() + ".png"));
}

class WindowTest : public UpdaterFixture {
  protected:
    void SetUp() override {
        UpdaterFixture::SetUp();
        WriteFile(app_dir_ / "version.info",
                  "<VER>0.01\r\n<FILE>b.exe\t1.0\r\n<FILE>c.db\t1.0\r\n");
        engine_ = std::make_unique<updater::Engine>(MakeConfig());
        engine_->StartUp(command_line_);
        window_ = std::make_unique<UpdaterWindow>(engine_.get());
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        engine_.reset();
        UpdaterFixture::TearDown();
    }

    // The standard server: Programs (b.exe 3 kb, x.exe 2 kb) and Data
    // (c.db 5 kb, which needs b.exe 2.0).
    void ServeTwoGroups(const std::string& first_line = "") {
        server_.SetFile("/auto_update/demo/update.info",
                        first_line +
                            "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n<bin>x.exe 1.0\r\n"
                            "<group_db>\r\n<label>Data\r\n<cfg>c.db 2.0 b.exe 2.0\r\n");
        Serve("b.exe", std::string(3 * 1024, 'b'));
        Serve("x.exe", std::string(2 * 1024, 'x'));
        Serve("c.db", std::string(5 * 1024, 'c'));
    }

    template <typename T = QWidget>
    T* Find(const char* view, const char* name) {
        QWidget* page = window_->findChild<QWidget*>(view);
        return page ? page->findChild<T*>(name) : nullptr;
    }
    QPushButton* ButtonText(const char* view, const QString& text) {
        QWidget* page = window_->findChild<QWidget*>(view);
        for (QPushButton* b : page->findChildren<QPushButton*>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    void Click(QPushButton* button) {
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void CheckUpdates() { Click(Find<QPushButton>(updater::kMainView, "1006")); }

    std::unique_ptr<updater::Engine> engine_;
    std::unique_ptr<UpdaterWindow> window_;
};

TEST_F(WindowTest, FilesViewChoosesAgainOnEveryCheckBox) {
    ServeTwoGroups();
    EXPECT_EQ(window_->CurrentView(), updater::kMainView);
    Shot(window_.get(), "101-main");
    CheckUpdates();
    ASSERT_EQ(window_->CurrentView(), updater::kFilesView);
    auto* list = Find<QTreeWidget>(updater::kFilesView, "1005");
    auto* total = Find<QLabel>(updater::kFilesView, "total");
    auto* update = Find<QPushButton>(updater::kFilesView, "1009");
    ASSERT_TRUE(list && total && update);
    ASSERT_EQ(list->topLevelItemCount(), 2);
    QTreeWidgetItem* programs = list->topLevelItem(0);
    QTreeWidgetItem* data = list->topLevelItem(1);
    EXPECT_EQ(programs->text(0), "programs");
    EXPECT_EQ(programs->text(1), "5 kb");
    EXPECT_EQ(data->text(1), "5 kb");
    EXPECT_EQ(programs->checkState(0), Qt::Checked);
    EXPECT_EQ(total->text(), "10 kb");
    EXPECT_TRUE(update->isEnabled());
    Shot(window_.get(), "132-files");

    programs->setCheckState(0, Qt::Unchecked);  // b.exe stays: c.db needs it
    EXPECT_EQ(programs->text(1), "3 kb");
    EXPECT_EQ(total->text(), "8 kb");
    EXPECT_TRUE(update->isEnabled());
    Shot(window_.get(), "132-files-unchecked");

    data->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(programs->text(1), "0 kb");
    EXPECT_EQ(total->text(), "0 kb");
    EXPECT_FALSE(update->isEnabled());

    data->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(update->isEnabled());
    Click(update);
    ASSERT_EQ(window_->CurrentView(), updater::kDoneView);
    // No trusted key: the done view says that nothing was verified.
    EXPECT_EQ(Find<QLabel>(updater::kDoneView, "result_text")->text(),
              "Application was successfully  updated.\n\n"
              "The update was not verified: no trusted key.");
    EXPECT_FALSE(ButtonText(updater::kDoneView, "Quit")->isHidden());
    EXPECT_TRUE(Find<QPushButton>(updater::kDoneView, "1004")->isHidden());
    Shot(window_.get(), "134-done");
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe").size(), 3u * 1024);
    EXPECT_EQ(ReadFile(app_dir_ / "c.db").size(), 5u * 1024);
    EXPECT_FALSE(fs::exists(app_dir_ / "x.exe"));

    // "Cancel" on the files view goes back to the main view.
    CheckUpdates();
    EXPECT_EQ(window_->CurrentView(), updater::kFilesView);  // x.exe is still new
    Click(ButtonText(updater::kFilesView, "Cancel"));
    EXPECT_EQ(window_->CurrentView(), updater::kMainView);
}

TEST_F(WindowTest, ErrorViewAndRetry) {
    server_.SetFile("/auto_update/demo/update.info", "<!DOCTYPE html>\n<html></html>\n");
    CheckUpdates();
    ASSERT_EQ(window_->CurrentView(), updater::kErrorView);
    EXPECT_EQ(Find<QLabel>(updater::kErrorView, "error_text")->text(),
              "Error, can not connect to server.");
    Shot(window_.get(), "131-error");
    Click(Find<QPushButton>(updater::kErrorView, "1015"));
    EXPECT_EQ(window_->CurrentView(), updater::kMainView);

    // A failed download: Retry goes back to the files view.
    ServeTwoGroups();
    Answer cut{200, std::string(5 * 1024, 'c')};
    cut.cut_at = 100;
    server_.Set("/auto_update/demo/c.db", cut);
    CheckUpdates();
    ASSERT_EQ(window_->CurrentView(), updater::kFilesView);
    Click(Find<QPushButton>(updater::kFilesView, "1009"));
    ASSERT_EQ(window_->CurrentView(), updater::kErrorView);
    EXPECT_EQ(Find<QLabel>(updater::kErrorView, "error_text")->text(),
              "Error, the download of c.db broke off before its end.");
    Click(Find<QPushButton>(updater::kErrorView, "1015"));
    EXPECT_EQ(window_->CurrentView(), updater::kFilesView);
}

TEST_F(WindowTest, NoUpdatesAndRunningApplicationViews) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 1.0\r\n");
    CheckUpdates();
    EXPECT_EQ(window_->CurrentView(), updater::kNoUpdatesView);
    Shot(window_.get(), "140-no-updates");

    std::string self = fs::read_symlink("/proc/self/exe").filename().string();
    WriteFile(app_dir_ / "version.info", "<FILE>" + self + "\t1.0\r\n");
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 1.0\r\n");
    window_ = std::make_unique<UpdaterWindow>(engine_.get());
    window_->show();
    CheckUpdates();
    ASSERT_EQ(window_->CurrentView(), updater::kRunningView);
    Shot(window_.get(), "133-running");
    Click(Find<QPushButton>(updater::kRunningView, "1015"));
    EXPECT_EQ(window_->CurrentView(), updater::kMainView);
}

TEST_F(WindowTest, ResetModeOffersReset) {
    ServeTwoGroups("<postresetcopy>\r\n");
    fs::path marker = base_ / "rebooted";
    setenv("SKYVANE_REBOOT_CMD", ("touch '" + marker.string() + "'").c_str(), 1);
    CheckUpdates();
    ASSERT_EQ(window_->CurrentView(), updater::kFilesView);
    Click(Find<QPushButton>(updater::kFilesView, "1009"));
    ASSERT_EQ(window_->CurrentView(), updater::kDoneView);
    EXPECT_EQ(Find<QLabel>(updater::kDoneView, "result_text")->text(),
              "Application was successfully updated.\nPlease press the Reset button to "
              "activate the changes.\n\nThe update was not verified: no trusted key.");
    EXPECT_TRUE(ButtonText(updater::kDoneView, "Quit")->isHidden());
    EXPECT_FALSE(Find<QPushButton>(updater::kDoneView, "1004")->isHidden());
    Shot(window_.get(), "134-done-reset");
    EXPECT_TRUE(fs::exists(Temp() / "postresetcopy.ini"));
    Click(Find<QPushButton>(updater::kDoneView, "1004"));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(fs::exists(marker));
    unsetenv("SKYVANE_REBOOT_CMD");
}

TEST_F(WindowTest, DialogsShowWhileTheWorkRuns) {
    ServeTwoGroups();
    // Slow answers keep the dialogs open long enough to look at them.
    server_.Set("/auto_update/updaterEng/update.info",
                Answer{200, "<ver>0.01\r\n" + std::string(2048, ' ') + "\r\n", true,
                       std::string::npos, 1500});
    Answer slow{200, std::string(5 * 1024, 'c')};
    slow.chunk_delay_ms = 400;
    server_.Set("/auto_update/demo/c.db", slow);

    // Looks at the modal dialog whenever one is open.
    QStringList seen;
    QStringList status_texts;
    QString product_text;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (!seen.contains(modal->objectName()))
            seen << modal->objectName();
        Shot(modal, modal->objectName() == "135" ? "135-waiting" : "139-progress");
        if (auto* status = modal->findChild<QLabel*>("status"))
            status_texts << status->text();
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            if (label->text().startsWith("Updating:"))
                product_text = label->text();
        }
    });
    look.start(100);
    CheckUpdates();
    ASSERT_EQ(window_->CurrentView(), updater::kFilesView);
    Click(Find<QPushButton>(updater::kFilesView, "1009"));
    look.stop();
    EXPECT_EQ(window_->CurrentView(), updater::kDoneView);
    EXPECT_EQ(seen, (QStringList{"135", "139"}));
    EXPECT_TRUE(status_texts.contains("Checking for new updaterEng version."));
    EXPECT_EQ(product_text, "Updating: demo");
}

TEST_F(WindowTest, CancelInTheProgressDialogStaysOnTheFilesView) {
    ServeTwoGroups();
    Answer slow{200, std::string(200 * 1024, 'c')};
    slow.chunk_delay_ms = 50;
    server_.Set("/auto_update/demo/c.db", slow);
    CheckUpdates();
    ASSERT_EQ(window_->CurrentView(), updater::kFilesView);
    QTimer::singleShot(800, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            for (QPushButton* b : modal->findChildren<QPushButton*>()) {
                if (b->text() == "Cancel")
                    b->click();
            }
        }
    });
    Click(Find<QPushButton>(updater::kFilesView, "1009"));
    EXPECT_EQ(window_->CurrentView(), updater::kFilesView);
    EXPECT_TRUE(fs::is_empty(Temp()));
    EXPECT_NE(Log().find(": cancel \n"), std::string::npos);
}

TEST_F(WindowTest, MainViewSaysWhenAnUpdateWaitsForTheRestart) {
    EXPECT_FALSE(Find<QLabel>(updater::kMainView, "pending")->isVisible());
    WriteFile(Temp() / "b.exe", "new b");
    WriteFile(Temp() / "postresetcopy.ini", "b.exe\n\\app\\\n");
    window_.reset();
    engine_ = std::make_unique<updater::Engine>(MakeConfig());
    engine_->StartUp(command_line_);
    window_ = std::make_unique<UpdaterWindow>(engine_.get());
    window_->show();
    auto* pending = Find<QLabel>(updater::kMainView, "pending");
    ASSERT_NE(pending, nullptr);
    EXPECT_TRUE(pending->isVisible());
    EXPECT_EQ(pending->text(),
              "An earlier update waits for the restart: its files are put in place at the next "
              "log-in.");
    EXPECT_EQ(ReadFile(Temp() / "b.exe"), "new b");
    Shot(window_.get(), "101-main-pending");
}

TEST_F(WindowTest, RefusedListShowsItsOwnMessage) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>P\r\n<bin>..\\x.exe 1.0\r\n");
    CheckUpdates();
    ASSERT_EQ(window_->CurrentView(), updater::kErrorView);
    EXPECT_EQ(Find<QLabel>(updater::kErrorView, "error_text")->text(),
              "Error, the update list names an unsafe file path.");
    Shot(window_.get(), "131-error-unsafe");
}

TEST_F(WindowTest, NewerUpdaterIsFetchedAndHandedToSelfUpdate) {
    server_.SetFile("/auto_update/updaterEng/update.info",
                    "<group_bin>\r\n<label>Updater\r\n<bin>helper.dat 2.0\r\n");
    server_.SetFile("/auto_update/updaterEng/helper.dat", "helper 2");
    std::vector<fs::path> started;
    platform::SetProgramStarterForTesting(
        [&](const fs::path& program, const std::vector<std::string>&) {
            started.push_back(program);
            return true;
        });
    CheckUpdates();
    platform::SetProgramStarterForTesting(nullptr);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].filename(), "SelfUpdate");
    EXPECT_TRUE(window_->isHidden());
    EXPECT_EQ(ReadFile(updater_dir_ / "self.tmp"), "demo\n\\app\n");
    EXPECT_EQ(ReadFile(Temp() / "helper.dat"), "helper 2");
}

}  // namespace
}  // namespace updater_test

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
