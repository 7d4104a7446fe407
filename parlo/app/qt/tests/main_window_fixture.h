// What the tests of the main window share: a recorder of the dialogs it
// asks for, and a fixture that starts the client in a scratch installation
// (with the simulated phone when a test needs one).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>

#include "parlo/app/qt/application.h"
#include "parlo/app/qt/compose_dialog.h"
#include "parlo/app/qt/dialogs.h"
#include "parlo/app/qt/main_frame.h"
#include "parlo/app/qt/main_view.h"
#include "parlo/app/qt/message_list_model.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/contacts/handoff_file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/testing/temp_dir.h"
#include "qtsupport/layout_check.h"
#include "qtsupport/message_prompt.h"
#include "qtsupport/screenshot.h"
#include "qtsupport/testing/qt_test_util.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo {
namespace window_testing {

using qtsupport::testing::App;
using qtsupport::testing::WaitUntil;

// Records what the main window asks of its dialogs.
class RecordingDialogs : public IParloDialogs {
  public:
    struct Compose {
        int mode;
        CSmsMessage* record;
        std::u16string number, text;
    };
    std::vector<Compose> composed;
    std::vector<std::string> opened;
    int32_t destination = -1;  // -1: Cancel

    void Compose(const DialogContext&, int mode, CSmsMessage* record, const std::u16string& number,
                 const std::u16string& text) override {
        composed.push_back({mode, record, number, text});
    }
    void Folders(const DialogContext&) override { opened.push_back("folders"); }
    bool DestinationFolder(const DialogContext&, int32_t* id) override {
        opened.push_back("destination");
        *id = destination;
        return destination >= 0;
    }
    void Options(const DialogContext&) override { opened.push_back("options"); }
    void Phonebook(const DialogContext&) override { opened.push_back("phonebook"); }
    void Groups(const DialogContext&) override { opened.push_back("groups"); }
    bool PickRecipients(const DialogContext&, std::u16string*) override { return false; }
};

class MainWindow : public ::testing::Test {
  protected:
    skyvane::testing::TempDir dir;
    platform::ScriptedPrompt prompt;
    RecordingDialogs dialogs;
    IParloDialogs* chosen_dialogs = nullptr;  // the recording ones when null
    std::unique_ptr<ParloApplication> app;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone;

    void SetUp() override {
        // The desktop the window is made for: 1280 x 900.
        qtsupport::testing::UseOffscreenScreen(1280, 900);
        App();
        setenv("SKYVANE_HOME", dir.path().c_str(), 1);
        setenv("SKYVANE_ROOT", dir.path().c_str(), 1);
        qtsupport::ScriptPromptsForTesting(&prompt);
    }
    void TearDown() override {
        app.reset();
        phone.reset();
        qtsupport::ScriptPromptsForTesting(nullptr);
    }

    // `change` adjusts the phone's state before it starts (messages on it).
    void StartPhone(const std::vector<std::string>& extra = {},
                    const std::function<void(nlohmann::json&)>& change = {}) {
        nlohmann::json state = phonesim::testing::DefaultState();
        state["operator"]["name"] = "T-Mobile D";
        if (change)
            change(state);
        ASSERT_TRUE(phonesim::testing::WriteState(dir / "phone.json", state));
        phone = std::make_unique<phonesim::testing::PhonesimProcess>();
        std::vector<std::string> args = {"--register", "Phonesim",  "--alias",
                                         "COM3:",      "--send-ms", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(phone->Start(dir / "phone.json", args));
    }

    // Starts the client; without a phone the port list is not required.
    bool Start(const QString& number = {}, bool need_phone = false) {
        app = std::make_unique<ParloApplication>(chosen_dialogs ? chosen_dialogs : &dialogs);
        StartOptions options;
        options.require_ports = need_phone;
        if (!app->Start(number, options))
            return false;
        prompt.Clear();  // no vok.dat in a scratch installation
        return WaitUntil([&] { return app->Frame()->isVisible(); });
    }

    CParloDoc& Doc() { return app->Doc(); }
    MainView* View() { return app->Frame()->View(); }
    MessageListModel* Model(int code) { return View()->Model(code); }
    CSmsMessage* Add(int32_t state, const std::u16string& number, const std::u16string& text,
                     double day = 45000.0) {
        auto time = platform::OleDate{day, platform::OleDate::kValid};
        CSmsMessage* rec = Doc().AddReceived(state, number, text, time, STORAGE_POCKETPC, -1).rec;
        QCoreApplication::processEvents();
        return rec;
    }
    std::vector<std::u16string> Numbers(int code) {
        std::vector<std::u16string> out;
        for (int r = 0; r < Model(code)->rowCount(); ++r)
            out.push_back(Model(code)->CopyAt(r)->m_strNumber);
        return out;
    }
};

}  // namespace window_testing
}  // namespace parlo
