#include "morrow/morrow.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <filesystem>
#include <optional>
#include <string>

#include "morrow/window.h"
#include "morrow_strings.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/prompt.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "qtsupport/message_prompt.h"

#define MORROW_EXPORT __attribute__((visibility("default")))

namespace morrow {

namespace {

// The banner's transparent colour.
constexpr QRgb kTransparent = qRgb(252, 2, 132);
// The registry value of the user's own program, limited like the handheld's
// 1000-byte buffer (UTF-16 with its terminating zero).
constexpr const char* kUserProgramValue = "myapp";
constexpr size_t kUserProgramMaxUnits = 1000 / 2 - 1;

void* g_instance = nullptr;     // the library handle given at initialisation
bool g_height_pending = false;  // set when a window is made, cleared once reported
platform::Prompt* g_test_prompt = nullptr;

platform::Prompt& CurrentPrompt() {
    static qtsupport::MessageBoxPrompt desktop;
    return g_test_prompt != nullptr ? *g_test_prompt : desktop;
}

std::string AppKey() {
    return "SOFTWARE\\Apps\\" + platform::ToUtf8(strings::morrow().Load(kIdAppName));
}

// Starts a program; a program that cannot be found or started fails quietly.
void Start(const std::filesystem::path& dir, const std::string& name,
           const std::string& command_line) {
    platform::Launch launch = platform::ResolveLaunch(dir, name, command_line);
    if (launch.program.empty())
        launch.program = dir / name;
    platform::StartDetached(launch.program, launch.args);
}

std::optional<std::string> UserProgram() {
    auto value = platform::Registry::Device().QueryString(platform::Hive::LocalMachine, AppKey(),
                                                          kUserProgramValue);
    if (!value || value->empty())
        return std::nullopt;
    if (platform::FromUtf8(*value).size() > kUserProgramMaxUnits)
        return std::nullopt;
    return value;
}

void Tap(const std::filesystem::path& dir, int x) {
    if (x < 0)
        return;
    if (x <= 48) {
        Start(dir, "connect.exe", "c");
    } else if (x <= 82) {
        Start(dir, "\\Windows\\iexplore.exe", "");
    } else if (x <= 121) {
        Start(dir, "\\Windows\\tmail.exe", "");
    } else if (x <= 156) {
        Start(dir, "Parlo.exe", "");
    } else if (x <= 202) {
        std::optional<std::string> program = UserProgram();
        if (!program) {
            const platform::StringTable& table = strings::morrow();
            CurrentPrompt().MessageBox(table.Load(kIdNoUserProgram), platform::Buttons::Ok,
                                       platform::Icon::Information, table.Load(kIdAppName));
            return;
        }
        // A desktop path is taken as it is; a handheld one is looked up.
        if ((*program)[0] == '/') {
            platform::StartDetached(*program, {});
        } else {
            Start(dir, *program, "");
        }
    } else {
        Start(dir, "connect.exe", "s");
    }
}

// Draws the banner at (0, 0) from its own (0, 0, 240, 36), leaving the
// pixels of the transparent colour out.
void PaintBanner(QPainter& painter, const std::filesystem::path& file) {
    QImage banner(QString::fromStdString(file.string()));
    if (banner.isNull())
        return;
    banner = banner.copy(0, 0, kBannerWidth, static_cast<int>(kItemHeight))
                 .convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < banner.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(banner.scanLine(y));
        for (int x = 0; x < banner.width(); ++x) {
            if ((line[x] & 0x00FFFFFF) == (kTransparent & 0x00FFFFFF))
                line[x] = 0;
        }
    }
    painter.drawImage(QPoint(0, 0), banner);
}

}  // namespace

intptr_t WindowProc(TodayWindow window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    // The installation directory is looked up afresh for every message.
    const std::filesystem::path dir = platform::InstallDir();
    switch (message) {
        case TODAY_WM_PAINT: {
            TodayRect rect;
            if (QPainter* painter = today::BeginPaint(window, &rect)) {
                PaintBanner(*painter, dir / kBannerFile);
            }
            today::EndPaint(window);
            return 0;
        }
        case TODAY_WM_ERASEBKGND: {
            TODAYDRAWWATERMARKINFO info{reinterpret_cast<void*>(wparam),
                                        today::GetClientRect(window), window};
            today::SendMessage(today::GetParent(window), TODAYM_DRAWWATERMARK, 0,
                               reinterpret_cast<intptr_t>(&info));
            return 1;
        }
        case TODAY_WM_LBUTTONUP:
            Tap(dir, today::XOfLParam(lparam));
            return 1;
        case WM_TODAYCUSTOM_CLEARCACHE:
            return 0;
        case WM_TODAYCUSTOM_QUERYREFRESHCACHE: {
            auto* item = reinterpret_cast<TODAYLISTITEM*>(wparam);
            if (!g_height_pending || item == nullptr)
                return 0;
            item->cyp = kItemHeight;
            g_height_pending = false;
            return 1;
        }
        default:
            return today::DefWindowProc(window, message, wparam, lparam);
    }
}

void SetPromptForTesting(platform::Prompt* prompt) {
    g_test_prompt = prompt;
}

}  // namespace morrow

extern "C" MORROW_EXPORT TodayWindow InitializeCustomItem(TODAYLISTITEM* item, TodayWindow parent) {
    if (item == nullptr || item->fEnabled == 0 || parent == nullptr)
        return nullptr;
    morrow::g_instance = item->hinstDLL;
    today::RegisterClass(morrow::kClassName, &morrow::WindowProc);
    today::Window* window = today::CreateWindow(morrow::kClassName, morrow::kWindowTitle,
                                                static_cast<QWidget*>(parent));
    if (window == nullptr)
        return nullptr;
    morrow::g_height_pending = true;
    return window;
}

extern "C" MORROW_EXPORT int CustomItemOptionsDlgProc(TodayWindow, uint32_t, uintptr_t, intptr_t) {
    return 0;
}
