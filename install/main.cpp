// install: the installer wizard. It takes no arguments; the package programs
// lie beside it.
#include <QApplication>
#include <iostream>

#include "install/package.h"
#include "install/wizard.h"
#include "install_strings.h"
#include "platform/program_info.h"
#include "qtsupport/message_prompt.h"

namespace {

const char kHelp[] =
    "Usage: skyvane-install\n"
    "The Skyvane installer wizard: language, licence agreement and instructions,\n"
    "then it runs the package programs that lie beside it (the updater's and the\n"
    "suite's, in the chosen language) and reports how they ended.\n\n"
    "  --help     show this help\n"
    "  --version  show the version\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered without opening the wizard.
    if (platform::AnswerInfoOption(argc, argv, "skyvane-install", kHelp, std::cout))
        return 0;
    QApplication app(argc, argv);
    qtsupport::MessageBoxPrompt prompt;
    install::InstallWizard::Options options;
    options.package_dir = QCoreApplication::applicationDirPath().toStdString();
    options.first_timeout_ms = install::PackageTimeout(install::kFirstPackageTimeoutMs);
    options.second_timeout_ms = install::PackageTimeout(install::kSecondPackageTimeoutMs);
    options.prompt = &prompt;
    install::InstallWizard wizard(strings::install(), options);
    QObject::connect(&wizard, &QDialog::finished, &app, &QApplication::quit);
    wizard.show();
    return app.exec();
}
