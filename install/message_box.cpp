#include "install/message_box.h"

#include <QMessageBox>

namespace install {

namespace {
QString Q(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

platform::Answer MessageBoxPrompt::MessageBox(const std::u16string& text, platform::Buttons buttons,
                                              platform::Icon icon, const std::u16string& caption) {
    QMessageBox box;
    box.setWindowTitle(Q(caption));
    box.setText(Q(text));
    switch (icon) {
        case platform::Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case platform::Icon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case platform::Icon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case platform::Icon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case platform::Icon::None:
            break;
    }
    switch (buttons) {
        case platform::Buttons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case platform::Buttons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case platform::Buttons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return platform::Answer::Cancel;
        case QMessageBox::Yes:
            return platform::Answer::Yes;
        case QMessageBox::No:
            return platform::Answer::No;
        default:
            return platform::Answer::Ok;
    }
}

}  // namespace install
