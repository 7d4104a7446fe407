// The installer wizard driven like a user would, on the offscreen platform.
#include "install/wizard.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "install/tests/test_support.h"
#include "install_strings.h"
#include "platform/prompt.h"

namespace install {
namespace {

using install_test::ReadFile;
using install_test::TempDir;
using install_test::WaitUntil;
using Step = InstallWizard::Step;

QString Q(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
QString S(unsigned id) {
    return Q(strings::install().Load(id));
}

// Records each message together with the package log as it stood when the
// message was shown.
class RecordingPrompt : public platform::Prompt {
  public:
    explicit RecordingPrompt(std::filesystem::path log) : log_(std::move(log)) {}
    platform::Answer MessageBox(const std::u16string& text, platform::Buttons, platform::Icon,
                                const std::u16string&) override {
        texts.push_back(Q(text));
        logs.push_back(ReadFile(log_));
        return platform::Answer::Ok;
    }
    std::vector<QString> texts;
    std::vector<std::string> logs;

  private:
    std::filesystem::path log_;
};

class WizardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        install_test::App();
        log_ = dir_.path() / "packages.log";
        prompt_ = std::make_unique<RecordingPrompt>(log_);
    }
    void TearDown() override { install_test::KillSleepers(log_); }

    std::unique_ptr<InstallWizard> Make(int first_ms = 60000, int second_ms = 60000) {
        InstallWizard::Options options;
        options.package_dir = dir_.path();
        options.first_timeout_ms = first_ms;
        options.second_timeout_ms = second_ms;
        options.prompt = prompt_.get();
        auto wizard = std::make_unique<InstallWizard>(strings::install(), options);
        wizard->show();
        return wizard;
    }
    template <typename T>
    static T* Control(InstallWizard& w, Step step, const char* id) {
        QWidget* page = w.page(step);
        EXPECT_NE(page, nullptr);
        T* control = page ? page->findChild<T*>(id) : nullptr;
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    static void Click(InstallWizard& w, Step step, const char* id) {
        QTest::mouseClick(Control<QPushButton>(w, step, id), Qt::LeftButton);
    }
    // Clicks a radio button on its indicator (the button spans the page).
    static void Choose(InstallWizard& w, const char* id) {
        auto* radio = Control<QRadioButton>(w, Step::Agreement, id);
        QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
    }
    // Welcome -> language -> agreement (accepted) -> instructions.
    static void ToInstructions(InstallWizard& w, int language_index = -1) {
        Click(w, Step::Welcome, "1000");
        if (language_index >= 0) {
            Control<QComboBox>(w, Step::Language, "1006")->setCurrentIndex(language_index);
        }
        Click(w, Step::Language, "1007");
        Choose(w, "1003");
        Click(w, Step::Agreement, "1002");
        ASSERT_EQ(w.step(), Step::Instructions);
    }
    void Package(const char* name, int seconds) {
        install_test::WritePackage(dir_.path() / name, log_, seconds);
    }

    TempDir dir_;
    std::filesystem::path log_;
    std::unique_ptr<RecordingPrompt> prompt_;
};

TEST_F(WizardTest, StartsOnTheWelcomePageInEnglish) {
    auto w = Make();
    EXPECT_EQ(w->step(), Step::Welcome);
    EXPECT_EQ(w->language(), Language::English);
    EXPECT_EQ(w->variant(), u"tw");
    EXPECT_EQ(w->windowTitle(), "Skyvane pro 2.5");
    EXPECT_EQ(Control<QPushButton>(*w, Step::Welcome, "1000")->text(), "Next");
    EXPECT_EQ(Control<QPushButton>(*w, Step::Welcome, "1001")->text(), "Cancel");
    EXPECT_FALSE(Control<QLabel>(*w, Step::Welcome, "131")->pixmap().isNull());
}

TEST_F(WizardTest, LanguageChangeShowsAtOnceAndOnLaterPages) {
    auto w = Make();
    Click(*w, Step::Welcome, "1000");
    ASSERT_EQ(w->step(), Step::Language);
    auto* combo = Control<QComboBox>(*w, Step::Language, "1006");
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(0), "English");
    EXPECT_EQ(combo->itemText(3), "Italian");
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(w->windowTitle(), "Language");

    combo->setCurrentIndex(1);
    EXPECT_EQ(w->language(), Language::German);
    EXPECT_EQ(w->windowTitle(), "Sprachauswahl");
    EXPECT_EQ(Control<QLabel>(*w, Step::Language, "1010")->text(),
              QString::fromUtf8("Bitte wählen Sie die zu installierende Sprache:"));
    EXPECT_EQ(Control<QPushButton>(*w, Step::Language, "1007")->text(), "Weiter");
    EXPECT_EQ(Control<QPushButton>(*w, Step::Language, "1008")->text(), "Abbrechen");

    Click(*w, Step::Language, "1007");
    ASSERT_EQ(w->step(), Step::Agreement);
    EXPECT_EQ(w->windowTitle(), "Lizenzbestimmung");
    EXPECT_EQ(Control<QRadioButton>(*w, Step::Agreement, "1003")->text(),
              "Ich stimme dem Vertrag zu:");
    EXPECT_EQ(Control<QRadioButton>(*w, Step::Agreement, "1004")->text(),
              "Ich lehne den Vertrag ab:");
    EXPECT_EQ(Control<QPlainTextEdit>(*w, Step::Agreement, "1005")->toPlainText(),
              Q(GermanAgreement()));
    EXPECT_TRUE(Control<QPlainTextEdit>(*w, Step::Agreement, "1005")->isReadOnly());
    EXPECT_EQ(Control<QPushButton>(*w, Step::Agreement, "1000")->text(), "Abbrechen");

    Choose(*w, "1003");
    Click(*w, Step::Agreement, "1002");
    ASSERT_EQ(w->step(), Step::Instructions);
    EXPECT_EQ(w->windowTitle(), "Information");
    EXPECT_EQ(Control<QLabel>(*w, Step::Instructions, "1016")->text(), S(10));
    EXPECT_EQ(Control<QGroupBox>(*w, Step::Instructions, "1013")->title(), "Info");
    EXPECT_EQ(Control<QPushButton>(*w, Step::Instructions, "1014")->text(), "Weiter");
}

TEST_F(WizardTest, NextOnTheAgreementOnlyAfterAccept) {
    auto w = Make();
    Click(*w, Step::Welcome, "1000");
    Click(*w, Step::Language, "1007");
    ASSERT_EQ(w->step(), Step::Agreement);
    auto* decline = Control<QRadioButton>(*w, Step::Agreement, "1004");
    auto* next = Control<QPushButton>(*w, Step::Agreement, "1002");
    EXPECT_TRUE(decline->isChecked());
    EXPECT_FALSE(next->isEnabled());
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(w->step(), Step::Agreement);

    Choose(*w, "1003");
    EXPECT_TRUE(next->isEnabled());
    Choose(*w, "1004");
    EXPECT_FALSE(next->isEnabled());
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(w->step(), Step::Agreement);
    Choose(*w, "1003");
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(w->step(), Step::Instructions);
}

TEST_F(WizardTest, ItalianStartsTheItalianPackagesWithEnglishTexts) {
    Package("updater_ita.bin", 0);
    Package("app_ita.bin", 0);
    auto w = Make();
    ToInstructions(*w, 3);
    EXPECT_EQ(w->language(), Language::Italian);
    EXPECT_EQ(w->PackagePath(0), dir_.path() / "updater_ita.bin");
    EXPECT_EQ(w->PackagePath(1), dir_.path() / "app_ita.bin");
    EXPECT_EQ(Control<QPushButton>(*w, Step::Instructions, "1014")->text(), "Next");
    EXPECT_EQ(Control<QLabel>(*w, Step::Instructions, "1016")->text(), S(11));

    Click(*w, Step::Instructions, "1014");
    ASSERT_TRUE(WaitUntil([&] { return w->step() == Step::End; }));
    ASSERT_EQ(prompt_->texts.size(), 1u);
    EXPECT_EQ(prompt_->texts[0], S(16));
    const std::string log = prompt_->logs[0];
    EXPECT_LT(log.find("updater_ita.bin end"), log.find("app_ita.bin start"));
    EXPECT_NE(log.find("app_ita.bin end"), std::string::npos);
    EXPECT_FALSE(w->cancelled());
    EXPECT_FALSE(w->isVisible());
}

TEST_F(WizardTest, MissingFirstPackageShowsTheFailure) {
    Package("app_eng.bin", 0);
    auto w = Make();
    ToInstructions(*w);
    Click(*w, Step::Instructions, "1014");
    ASSERT_TRUE(WaitUntil([&] { return w->step() == Step::End; }));
    ASSERT_EQ(prompt_->texts.size(), 1u);
    EXPECT_EQ(prompt_->texts[0], "Error - Installation failed!");
    EXPECT_EQ(ReadFile(log_), "");  // the second package is not started
}

TEST_F(WizardTest, MissingSecondPackageShowsTheFailureAfterTheFirstEnded) {
    Package("updater_ger.bin", 1);
    auto w = Make();
    ToInstructions(*w, 1);
    Click(*w, Step::Instructions, "1014");
    EXPECT_EQ(w->step(), Step::Installing);
    EXPECT_FALSE(Control<QPushButton>(*w, Step::Instructions, "1015")->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return w->step() == Step::End; }));
    ASSERT_EQ(prompt_->texts.size(), 1u);
    EXPECT_EQ(prompt_->texts[0], "Fehler bei der Installation!");
    EXPECT_NE(prompt_->logs[0].find("updater_ger.bin end"), std::string::npos);
}

TEST_F(WizardTest, ATimeOutCountsAsFinished) {
    Package("updater_eng.bin", 120);
    Package("app_eng.bin", 0);
    auto w = Make(300, 60000);
    ToInstructions(*w);
    Click(*w, Step::Instructions, "1014");
    ASSERT_TRUE(WaitUntil([&] { return w->step() == Step::End; }));
    ASSERT_EQ(prompt_->texts.size(), 1u);
    EXPECT_EQ(prompt_->texts[0], S(16));
    const std::string log = prompt_->logs[0];
    EXPECT_NE(log.find("updater_eng.bin start"), std::string::npos);
    EXPECT_EQ(log.find("updater_eng.bin end"), std::string::npos);
    EXPECT_NE(log.find("app_eng.bin end"), std::string::npos);
}

TEST_F(WizardTest, SecondPackageTimeOutStillReportsSuccess) {
    Package("updater_eng.bin", 0);
    Package("app_eng.bin", 120);
    auto w = Make(60000, 300);
    ToInstructions(*w);
    Click(*w, Step::Instructions, "1014");
    ASSERT_TRUE(WaitUntil([&] { return w->step() == Step::End; }));
    ASSERT_EQ(prompt_->texts.size(), 1u);
    EXPECT_EQ(prompt_->texts[0], S(16));
    EXPECT_EQ(prompt_->logs[0].find("app_eng.bin end"), std::string::npos);
}

TEST_F(WizardTest, ShowsWhichPackageRunsWithABusyBar) {
    Package("updater_eng.bin", 1);
    Package("app_eng.bin", 1);
    auto w = Make();
    ToInstructions(*w);
    auto* installing = Control<QLabel>(*w, Step::Instructions, "installing");
    auto* busy = Control<QProgressBar>(*w, Step::Instructions, "busy");
    EXPECT_FALSE(installing->isVisible());
    EXPECT_FALSE(busy->isVisible());
    Click(*w, Step::Instructions, "1014");
    EXPECT_EQ(installing->text(), "Installing updater_eng.bin ...");
    EXPECT_TRUE(installing->isVisible());
    EXPECT_TRUE(busy->isVisible());
    EXPECT_EQ(busy->maximum(), 0);  // an indicator without an end
    // The window keeps handling events while the packages run.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(20);
    ASSERT_TRUE(WaitUntil([&] { return installing->text() == "Installing app_eng.bin ..."; }));
    EXPECT_GT(ticks, 0);
    EXPECT_EQ(w->step(), Step::Installing);
    ASSERT_TRUE(WaitUntil([&] { return w->step() == Step::End; }));
    EXPECT_FALSE(busy->isVisible());
}

TEST_F(WizardTest, CancelOnAnyPageEndsWithoutInstalling) {
    Package("updater_eng.bin", 0);
    Package("app_eng.bin", 0);
    const std::pair<int, const char*> cancels[] = {
        {0, "1001"}, {1, "1008"}, {2, "1000"}, {3, "1015"}};
    for (auto [pages_forward, cancel_id] : cancels) {
        auto w = Make();
        const Step steps[] = {Step::Welcome, Step::Language, Step::Agreement, Step::Instructions};
        if (pages_forward >= 1)
            Click(*w, Step::Welcome, "1000");
        if (pages_forward >= 2)
            Click(*w, Step::Language, "1007");
        if (pages_forward >= 3) {
            Choose(*w, "1003");
            Click(*w, Step::Agreement, "1002");
        }
        ASSERT_EQ(w->step(), steps[pages_forward]);
        Click(*w, steps[pages_forward], cancel_id);
        EXPECT_TRUE(w->cancelled()) << cancel_id;
        EXPECT_EQ(w->step(), Step::End);
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(w->result(), QDialog::Rejected);
    }
    QTest::qWait(50);
    EXPECT_TRUE(prompt_->texts.empty());
    EXPECT_EQ(ReadFile(log_), "");
}

TEST_F(WizardTest, GermanRunWithTheShippedStandInPackages) {
    const char* bin = std::getenv("SKYVANE_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    for (const char* name : {"updater_ger.bin", "app_ger.bin"}) {
        std::filesystem::copy_file(std::filesystem::path(bin) / name, dir_.path() / name);
    }
    setenv("SKYVANE_PACKAGE_LOG", log_.c_str(), 1);
    setenv("SKYVANE_PACKAGE_SECONDS", "0", 1);
    auto w = Make();
    ToInstructions(*w, 1);
    Click(*w, Step::Instructions, "1014");
    ASSERT_TRUE(WaitUntil([&] { return w->step() == Step::End; }));
    unsetenv("SKYVANE_PACKAGE_LOG");
    unsetenv("SKYVANE_PACKAGE_SECONDS");
    ASSERT_EQ(prompt_->texts.size(), 1u);
    EXPECT_EQ(prompt_->texts[0], S(5));
    EXPECT_NE(prompt_->logs[0].find("updater_ger.bin end"), std::string::npos);
    EXPECT_NE(prompt_->logs[0].find("app_ger.bin end"), std::string::npos);
}

// Pictures of the pages for a person to look at: set SKYVANE_SCREENSHOT_DIR.
TEST_F(WizardTest, Screenshots) {
    const char* out = std::getenv("SKYVANE_SCREENSHOT_DIR");
    if (out == nullptr || *out == '\0')
        GTEST_SKIP() << "SKYVANE_SCREENSHOT_DIR not set";
    auto save = [&](InstallWizard& w, const std::string& name) {
        EXPECT_TRUE(w.grab().save(QString::fromStdString(std::string(out) + "/" + name)));
    };
    for (int language : {0, 1}) {
        auto w = Make();
        const std::string suffix = language == 0 ? "-en.png" : "-de.png";
        Click(*w, Step::Welcome, "1000");
        Control<QComboBox>(*w, Step::Language, "1006")->setCurrentIndex(language);
        save(*w, "install-2-language" + suffix);
        Click(*w, Step::Language, "1007");
        save(*w, "install-3-agreement" + suffix);
        Choose(*w, "1003");
        Click(*w, Step::Agreement, "1002");
        save(*w, "install-4-instructions" + suffix);
    }
    auto w = Make();
    save(*w, "install-1-welcome.png");
}

}  // namespace
}  // namespace install
