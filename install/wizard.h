// The installer wizard: welcome, language, agreement and instructions pages,
// then the two package programs are started one after the other.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "install/installer.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace platform {
class Prompt;
class StringTable;
}  // namespace platform

namespace install {

class PackageProcess;

class InstallWizard : public QDialog {
  public:
    struct Options {
        std::filesystem::path package_dir;  // where the packages lie: the installer's directory
        int first_timeout_ms = kFirstPackageTimeoutMs;
        int second_timeout_ms = kSecondPackageTimeoutMs;
        platform::Prompt* prompt = nullptr;  // shows the success and failure messages
    };

    enum class Step { Welcome, Language, Agreement, Instructions, Installing, End };

    InstallWizard(const platform::StringTable& strings, Options options, QWidget* parent = nullptr);
    ~InstallWizard() override;

    Step step() const { return step_; }
    Language language() const { return language_; }
    const std::u16string& variant() const { return variant_; }
    bool cancelled() const { return cancelled_; }

    // The page widget of a step (named by its template id: "102", "139",
    // "129", "141"); controls inside are named by their control ids.
    QWidget* page(Step step) const;

    // Full path of the first (0) or second (1) package of the current language.
    std::filesystem::path PackagePath(int which) const;

    void reject() override;

  private:
    QString Text(unsigned id) const;
    void ApplyTexts();
    void ShowStep(Step step);
    void Cancel();
    void Install();
    void StartSecond();
    void WaitFor(PackageProcess* process, int timeout_ms, std::function<void()> then);
    void Finish(unsigned message_id);
    void ShowInstalling(int which);

    const platform::StringTable& strings_;
    Options options_;
    Language language_ = Language::English;
    std::u16string variant_;
    Step step_ = Step::Welcome;
    bool cancelled_ = false;
    std::unique_ptr<PackageProcess> first_;
    std::unique_ptr<PackageProcess> second_;

    QStackedWidget* stack_ = nullptr;
    QWidget* welcome_ = nullptr;
    QPushButton* welcome_next_ = nullptr;
    QPushButton* welcome_cancel_ = nullptr;
    QWidget* language_page_ = nullptr;
    QComboBox* language_combo_ = nullptr;
    QLabel* language_label_ = nullptr;
    QPushButton* language_next_ = nullptr;
    QPushButton* language_cancel_ = nullptr;
    QWidget* agreement_ = nullptr;
    QPlainTextEdit* agreement_text_ = nullptr;
    QRadioButton* accept_ = nullptr;
    QRadioButton* decline_ = nullptr;
    QPushButton* agreement_next_ = nullptr;
    QPushButton* agreement_cancel_ = nullptr;
    QWidget* instructions_ = nullptr;
    QLabel* instruction_text_ = nullptr;
    QGroupBox* info_frame_ = nullptr;
    QPushButton* instructions_next_ = nullptr;
    QPushButton* instructions_cancel_ = nullptr;
    QLabel* installing_ = nullptr;  // "Installing ...", while a package runs
    QProgressBar* busy_ = nullptr;  // a busy indicator beside it
};

}  // namespace install
