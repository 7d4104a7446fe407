// The Today item: its window, the tap regions, the height protocol, the
// banner over the host's watermark, and the library's entries by name.
#include "morrow/morrow.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "morrow/window.h"
#include "morrow_strings.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/prompt.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

QApplication* App() {
    static int argc = 1;
    static char name[] = "morrow_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

struct Start {
    fs::path program;
    std::vector<std::string> args;
};

void MakeExecutable(const fs::path& file) {
    std::ofstream(file) << "#!/bin/sh\nexit 0\n";
    fs::permissions(file, fs::perms::owner_all);
}

// The watermark the test's Today screen draws: one flat colour.
const QColor kWatermark(10, 200, 30);

intptr_t ParentProc(TodayWindow window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (message == TODAYM_DRAWWATERMARK) {
        auto* info = reinterpret_cast<TODAYDRAWWATERMARKINFO*>(lparam);
        static_cast<QPainter*>(info->hdc)->fillRect(
            QRect(info->rc.left, info->rc.top, info->rc.right - info->rc.left,
                  info->rc.bottom - info->rc.top),
            kWatermark);
        return 1;
    }
    return today::DefWindowProc(window, message, wparam, lparam);
}

class MorrowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        std::string tmpl = (fs::temp_directory_path() / "morrow-test-XXXXXX").string();
        home_ = mkdtemp(tmpl.data());
        setenv("SKYVANE_HOME", home_.c_str(), 1);
        setenv("SKYVANE_ROOT", home_.c_str(), 1);
        // Stand-ins for the desktop's opener, found first on the path.
        fs::create_directories(home_ / "path");
        MakeExecutable(home_ / "path" / "xdg-open");
        old_path_ = getenv("PATH") ? getenv("PATH") : "";
        // Only the test's stand-ins: the machine's own browser must not count.
        setenv("PATH", (home_ / "path").string().c_str(), 1);
        unsetenv("SKYVANE_START_PAGE");
        MakeExecutable(home_ / "connect.exe");
        MakeExecutable(home_ / "Parlo.exe");
        platform::SetProgramStarterForTesting(
            [this](const fs::path& program, const std::vector<std::string>& args) {
                std::lock_guard<std::mutex> lock(mutex_);
                starts_.push_back({program, args});
                return true;
            });
        morrow::SetPromptForTesting(&prompt_);
        parent_ = new today::Window(nullptr, "DesktopExplorerWindow", "Today", &ParentProc);
        parent_->resize(240, 36);
        item_.fEnabled = 1;
    }
    void TearDown() override {
        delete parent_;
        platform::SetProgramStarterForTesting(nullptr);
        morrow::SetPromptForTesting(nullptr);
        setenv("PATH", old_path_.c_str(), 1);
        unsetenv("SKYVANE_HOME");
        unsetenv("SKYVANE_ROOT");
        std::error_code ec;
        fs::remove_all(home_, ec);
    }

    QWidget* Create() {
        auto* window = static_cast<QWidget*>(InitializeCustomItem(&item_, parent_));
        if (window != nullptr)
            window->resize(240, 36);
        return window;
    }
    std::vector<Start> Starts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return starts_;
    }
    void SetUserProgram(const std::string& value) {
        ASSERT_TRUE(platform::Registry::Device().SetString(platform::Hive::LocalMachine,
                                                           platform::kInstallKey, "myapp", value));
    }

    fs::path home_;
    std::string old_path_;
    std::mutex mutex_;
    std::vector<Start> starts_;
    platform::ScriptedPrompt prompt_;
    today::Window* parent_ = nullptr;
    TODAYLISTITEM item_{};
};

TEST_F(MorrowTest, CreatesItsWindowAsAChildOfTheTodayScreen) {
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->parentWidget(), parent_);
    EXPECT_EQ(window->windowTitle(), "MorrowScreen");
    EXPECT_EQ(static_cast<today::Window*>(window)->class_name(), std::string("Morrow"));
    EXPECT_FALSE(window->isHidden());
    EXPECT_EQ(CustomItemOptionsDlgProc(window, 0x0110, 0, 0), 0);
}

TEST_F(MorrowTest, DisabledItemCreatesNoWindow) {
    item_.fEnabled = 0;
    EXPECT_EQ(InitializeCustomItem(&item_, parent_), nullptr);
    EXPECT_TRUE(parent_->findChildren<QWidget*>().isEmpty());
    EXPECT_EQ(InitializeCustomItem(nullptr, parent_), nullptr);
}

TEST_F(MorrowTest, ReportsItsHeightOncePerWindow) {
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    const auto item = reinterpret_cast<uintptr_t>(&item_);
    EXPECT_EQ(today::SendMessage(window, WM_TODAYCUSTOM_QUERYREFRESHCACHE, item, 0), 1);
    EXPECT_EQ(item_.cyp, 36u);
    item_.cyp = 0;
    EXPECT_EQ(today::SendMessage(window, WM_TODAYCUSTOM_QUERYREFRESHCACHE, item, 0), 0);
    EXPECT_EQ(item_.cyp, 0u);
    EXPECT_EQ(today::SendMessage(window, WM_TODAYCUSTOM_CLEARCACHE, 0, 0), 0);
    EXPECT_EQ(today::SendMessage(window, WM_TODAYCUSTOM_QUERYREFRESHCACHE, item, 0), 0);

    // The Today screen rebuilt its list: a new window reports again.
    QWidget* again = Create();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(today::SendMessage(again, WM_TODAYCUSTOM_QUERYREFRESHCACHE, item, 0), 1);
    EXPECT_EQ(item_.cyp, 36u);
}

TEST_F(MorrowTest, TapRegionsStartTheirProgramsAtTheEdges) {
    const fs::path user_program = home_ / "elsewhere" / "notes";
    fs::create_directories(user_program.parent_path());
    MakeExecutable(user_program);
    SetUserProgram(user_program.string());
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    const fs::path opener = home_ / "path" / "xdg-open";
    struct Case {
        int x;
        fs::path program;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases = {
        {0, home_ / "connect.exe", {"c"}},
        {48, home_ / "connect.exe", {"c"}},
        {49, opener, {platform::kDefaultStartPage}},
        {82, opener, {platform::kDefaultStartPage}},
        {83, opener, {"mailto:"}},
        {121, opener, {"mailto:"}},
        {122, home_ / "Parlo.exe", {}},
        {156, home_ / "Parlo.exe", {}},
        {157, user_program, {}},
        {202, user_program, {}},
        {203, home_ / "connect.exe", {"s"}},
        {239, home_ / "connect.exe", {"s"}},
    };
    for (const Case& c : cases) {
        starts_.clear();
        EXPECT_EQ(today::SendMessage(window, TODAY_WM_LBUTTONUP, 0, today::MakeLParam(c.x, 10)), 1);
        auto starts = Starts();
        ASSERT_EQ(starts.size(), 1u) << "x = " << c.x;
        EXPECT_EQ(starts[0].program, c.program) << "x = " << c.x;
        EXPECT_EQ(starts[0].args, c.args) << "x = " << c.x;
    }
    EXPECT_TRUE(prompt_.shown().empty());
}

TEST_F(MorrowTest, WebAndMailStartTheDesktopsBrowserAndMailClient) {
    MakeExecutable(home_ / "path" / "x-www-browser");
    MakeExecutable(home_ / "path" / "xdg-email");
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    today::SendMessage(window, TODAY_WM_LBUTTONUP, 0, today::MakeLParam(60, 10));
    today::SendMessage(window, TODAY_WM_LBUTTONUP, 0, today::MakeLParam(100, 10));
    auto starts = Starts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].program, home_ / "path" / "x-www-browser");
    EXPECT_TRUE(starts[0].args.empty());
    EXPECT_EQ(starts[1].program, home_ / "path" / "xdg-email");
    EXPECT_TRUE(starts[1].args.empty());
}

TEST_F(MorrowTest, ClicksOnTheWindowAreTaps) {
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(48, 20));
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(203, 20));
    QTest::mouseClick(window, Qt::RightButton, {}, QPoint(130, 20));
    auto starts = Starts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].args, std::vector<std::string>{"c"});
    EXPECT_EQ(starts[1].args, std::vector<std::string>{"s"});
}

TEST_F(MorrowTest, MissingUserProgramShowsTheMessageAndStartsNothing) {
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        if (value != nullptr)
            SetUserProgram(value);
        prompt_.Clear();
        today::SendMessage(window, TODAY_WM_LBUTTONUP, 0, today::MakeLParam(180, 5));
        EXPECT_TRUE(Starts().empty());
        auto shown = prompt_.shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, strings::morrow().Load(morrow::kIdNoUserProgram));
        EXPECT_EQ(shown[0].caption, u"Tarnwell Skyvane pro");
        EXPECT_EQ(shown[0].icon, platform::Icon::Information);
        EXPECT_EQ(shown[0].buttons, platform::Buttons::Ok);
    }
    EXPECT_EQ(strings::morrow().Load(morrow::kIdNoUserProgram).substr(0, 20),
              u"'APP' non definito. ");
}

TEST_F(MorrowTest, UserProgramByHandheldPathIsLookedUpBelowTheDevice) {
    fs::create_directories(home_ / "Program Files" / "Notes");
    MakeExecutable(home_ / "Program Files" / "Notes" / "notes.exe");
    SetUserProgram("\\Program Files\\Notes\\notes.exe");
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    today::SendMessage(window, TODAY_WM_LBUTTONUP, 0, today::MakeLParam(160, 5));
    auto starts = Starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].program, home_ / "Program Files" / "Notes" / "notes.exe");
}

TEST_F(MorrowTest, PaintsTheBannerOverTheWatermark) {
    const char* source = getenv("SKYVANE_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    fs::copy_file(fs::path(source) / "resources" / "morrow" / "connect.png", home_ / "connect.tdy");
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    const QImage banner(QString::fromStdString((home_ / "connect.tdy").string()));
    ASSERT_EQ(banner.size(), QSize(240, 36));
    const QImage shot = window->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(240, 36));
    int transparent = 0;
    for (int y = 0; y < 36; ++y) {
        for (int x = 0; x < 240; ++x) {
            const QRgb b = banner.pixel(x, y) & 0xFFFFFF;
            const QRgb s = shot.pixel(x, y) & 0xFFFFFF;
            if (b == (qRgb(252, 2, 132) & 0xFFFFFF)) {
                ++transparent;
                ASSERT_EQ(s, kWatermark.rgb() & 0xFFFFFF) << x << "," << y;
            } else {
                ASSERT_EQ(s, b) << x << "," << y;
            }
        }
    }
    EXPECT_GT(transparent, 0);
    if (const char* out = getenv("SKYVANE_SCREENSHOT_DIR")) {
        shot.save(QString::fromStdString(std::string(out) + "/morrow-item.png"));
    }
}

TEST_F(MorrowTest, WithoutTheBannerOnlyTheWatermarkShows) {
    QWidget* window = Create();
    ASSERT_NE(window, nullptr);
    const QImage shot = window->grab().toImage();
    EXPECT_EQ(shot.pixel(0, 0) & 0xFFFFFF, kWatermark.rgb() & 0xFFFFFF);
    EXPECT_EQ(shot.pixel(130, 20) & 0xFFFFFF, kWatermark.rgb() & 0xFFFFFF);
}

// The library as the Today screen sees it: two entries found by name.
TEST(MorrowLibrary, ExportsTheTwoEntriesByName) {
    App();
    void* library = dlopen(MORROW_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto init = reinterpret_cast<TodayInitializeFn>(dlsym(library, TODAY_INIT_ENTRY));
    auto options = reinterpret_cast<TodayOptionsDlgProcFn>(dlsym(library, TODAY_OPTIONS_ENTRY));
    ASSERT_NE(init, nullptr);
    ASSERT_NE(options, nullptr);
    // Nothing else: not the suite's own code linked into it.
    EXPECT_EQ(dlsym(library, "_ZN8platform10InstallDirB5cxx11Ev"), nullptr);
    EXPECT_EQ(options(nullptr, 0, 0, 0), 0);

    QWidget parent;
    TODAYLISTITEM item{};
    item.fEnabled = 0;
    EXPECT_EQ(init(&item, &parent), nullptr);
    item.fEnabled = 1;
    auto* window = static_cast<QWidget*>(init(&item, &parent));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "MorrowScreen");
    EXPECT_EQ(today::SendMessage(window, WM_TODAYCUSTOM_QUERYREFRESHCACHE,
                                 reinterpret_cast<uintptr_t>(&item), 0),
              1);
    EXPECT_EQ(item.cyp, 36u);
    delete window;  // before the library's code goes away
    dlclose(library);
}

// The host end to end: it installs the banner and shows the strip.
TEST(TodayHost, ShowsTheStripWithTheBanner) {
    std::string tmpl = (fs::temp_directory_path() / "today-test-XXXXXX").string();
    const fs::path home = mkdtemp(tmpl.data());
    const fs::path shot = home / "strip.png";
    const std::string command = "SKYVANE_HOME='" + home.string() + "' SKYVANE_ROOT='" +
                                home.string() + "' QT_QPA_PLATFORM=offscreen '" + TODAY_PROGRAM +
                                "' --library '" + MORROW_LIBRARY + "' --screenshot '" +
                                shot.string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::exists(home / "connect.tdy"));
    const QImage image(QString::fromStdString(shot.string()));
    EXPECT_EQ(image.size(), QSize(240, 36));
    if (const char* out = getenv("SKYVANE_SCREENSHOT_DIR")) {
        image.save(QString::fromStdString(std::string(out) + "/today-strip.png"));
    }
    std::error_code ec;
    fs::remove_all(home, ec);
}

}  // namespace
