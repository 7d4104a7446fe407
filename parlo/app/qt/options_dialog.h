// The Options dialog: automatic synchronisation and its interval, a manual
// SMS centre, deleting from the phone after a synchronisation, the registered
// modem to use, a fixed port and where phonebook entries are saved. "Set" hands the values to the
// document, which writes the configuration and starts, stops or re-times the
// automatic synchronisation.
#pragma once

#include <QDialog>
#include <string>

#include "parlo/store/settings.h"

namespace platform {
class Prompt;
}

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace parlo {

class CParloDoc;

inline constexpr int kMinInterval = 2;
inline constexpr int kMaxInterval = 99999;

class OptionsDialog : public QDialog {
  public:
    OptionsDialog(CParloDoc& doc, platform::Prompt& prompt, QWidget* parent = nullptr);

    // The settings as the dialog holds them (valid after "Set").
    const CSettings& Values() const { return values_; }

    // "Set": validates; on success the dialog closes with the values.
    void accept() override;

  private:
    void FillPorts();
    void FillConnections();
    void UpdateEnabling();
    // The interval as typed; nothing when it is not a number.
    std::optional<int> Interval() const;
    // The port resolves to a device that is there.
    bool PortExists(const std::u16string& port) const;

    CParloDoc& doc_;
    platform::Prompt& prompt_;
    CSettings values_;
    bool centre_locked_ = false;

    QCheckBox* auto_ = nullptr;
    QLineEdit* interval_ = nullptr;
    QCheckBox* own_centre_ = nullptr;
    QLineEdit* centre_ = nullptr;
    QComboBox* connection_ = nullptr;  // which registered modem; "" = the automatic rule
    QCheckBox* use_port_ = nullptr;
    QComboBox* port_ = nullptr;
    QCheckBox* delete_after_ = nullptr;
    QCheckBox* concatenated_ = nullptr;  // long texts as standard concatenated SMS
    QComboBox* place_ = nullptr;
    QPushButton* set_ = nullptr;
};

// Runs the Options command: the dialog, and on "Set" the document applies
// the values. True when they were applied.
bool RunOptions(CParloDoc& doc, platform::Prompt& prompt, QWidget* parent);

}  // namespace parlo
