// install: the installer wizard. It takes no arguments; the package programs
// lie beside it.
#include <QApplication>

#include "install/package.h"
#include "install/wizard.h"
#include "install_strings.h"
#include "qtsupport/message_prompt.h"

int main(int argc, char** argv) {
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
