#include "parlo/app/qt/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>
#include <filesystem>

#include "parlo/app/parlo_doc.h"
#include "parlo/contacts/contact_entry.h"
#include "parlo/store/port_choices.h"
#include "parlo_strings.h"
#include "platform/ports.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

namespace {

constexpr unsigned IDS_NUMBER_RANGE = 61714;

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// "COM3:" is written in upper case as the handheld did; a device path is
// kept as it is, since the file system tells letter cases apart.
std::u16string PortForStorage(const QString& typed) {
    QString port = typed.trimmed();
    if (!port.startsWith(QLatin1Char('/')))
        port = port.toUpper();
    return port.toStdU16String();
}

}  // namespace

OptionsDialog::OptionsDialog(CParloDoc& doc, platform::Prompt& prompt, QWidget* parent)
    : QDialog(parent), doc_(doc), prompt_(prompt), values_(doc.Settings()) {
    setObjectName("145");
    setWindowTitle("Options");

    auto_ = new QCheckBox("Automatic synchronization");
    auto_->setObjectName("1015");
    interval_ = new QLineEdit;
    interval_->setObjectName("1016");
    interval_->setMaxLength(6);
    own_centre_ = new QCheckBox("set SMS centre number");
    own_centre_->setObjectName("1017");
    centre_ = new QLineEdit;
    centre_->setObjectName("1018");
    connection_ = new QComboBox;
    connection_->setObjectName("connection");
    use_port_ = new QCheckBox("Use port");
    use_port_->setObjectName("1019");
    port_ = new QComboBox;
    port_->setObjectName("1074");
    port_->setEditable(true);
    port_->setInsertPolicy(QComboBox::NoInsert);
    port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    port_->setMinimumContentsLength(12);
    delete_after_ = new QCheckBox("Delete the SMS from Mobile Phone after synchronisation");
    delete_after_->setObjectName("1036");
    concatenated_ = new QCheckBox("Send long texts as one concatenated message");
    concatenated_->setObjectName("concatenated");
    place_ = new QComboBox;
    place_->setObjectName("1068");
    place_->addItems({"SIM", "Phone", "SIM+Phone"});

    auto* buttons = new QDialogButtonBox;
    set_ = buttons->addButton("Set", QDialogButtonBox::AcceptRole);
    set_->setObjectName("1");
    set_->setDefault(true);
    QPushButton* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    cancel->setObjectName("2");
    cancel->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(auto_, 0, 0, 1, 4);
    grid->addWidget(new QLabel("All"), 1, 1);
    grid->addWidget(interval_, 1, 2);
    grid->addWidget(new QLabel("minutes"), 1, 3);
    grid->addWidget(own_centre_, 2, 0, 1, 4);
    grid->addWidget(centre_, 3, 1, 1, 3);
    auto* connection_label = new QLabel("Connection");
    connection_label->setBuddy(connection_);
    grid->addWidget(connection_label, 4, 0, 1, 2);
    grid->addWidget(connection_, 4, 2, 1, 2);
    grid->addWidget(use_port_, 5, 0, 1, 4);
    auto* port_label = new QLabel("Port");
    port_label->setBuddy(port_);
    grid->addWidget(port_label, 6, 1);
    grid->addWidget(port_, 6, 2, 1, 2);
    grid->addWidget(delete_after_, 7, 0, 1, 4);
    grid->addWidget(concatenated_, 8, 0, 1, 4);
    grid->setColumnMinimumWidth(0, 16);
    grid->setColumnStretch(2, 1);

    auto* phonebook = new QGroupBox("Phonebook");
    auto* pb = new QHBoxLayout(phonebook);
    auto* place_label = new QLabel("Save");
    place_label->setBuddy(place_);
    pb->addWidget(place_label);
    pb->addWidget(place_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(phonebook);
    layout->addStretch(1);
    layout->addWidget(buttons);

    // Opening: a stored interval below 2 shows as 60.
    int interval = values_.m_nAutoSyncInterval;
    if (interval < kMinInterval)
        interval = 60;
    auto_->setChecked(values_.m_bAutoSync != 0);
    interval_->setText(QString::number(interval));
    own_centre_->setChecked(values_.m_bOwnSmsCentre != 0);
    centre_->setText(Q(values_.m_strSmsCentre));
    use_port_->setChecked(values_.m_bUsePort != 0);
    delete_after_->setChecked(values_.m_bDeleteAfterSync != 0);
    concatenated_->setChecked(values_.m_bConcatenated != 0);
    FillConnections();
    FillPorts();
    port_->setEditText(Q(values_.m_strUserPort));
    const int place = static_cast<int>(values_.m_nPhonebookFlags >> 28) - 1;
    place_->setCurrentIndex(place >= 0 && place < place_->count() ? place : -1);

    for (QCheckBox* box : {auto_, own_centre_, use_port_})
        connect(box, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    for (QLineEdit* edit : {interval_, centre_})
        connect(edit, &QLineEdit::textChanged, this, [this] { UpdateEnabling(); });
    UpdateEnabling();
    qtsupport::FitPushButtons(this);
    resize(sizeHint().expandedTo(QSize(440, 0)));
}

void OptionsDialog::FillPorts() {
    // Column 0 is the name that is stored and shown in the edit; column 1
    // tells the user which device it is.
    auto* model = new QStandardItemModel(0, 2, port_);
    for (const PortChoice& p : DescribePorts(doc_.OfferedPorts(), doc_.Ports(), doc_.Registry())) {
        auto* name = new QStandardItem(Q(p.name));
        auto* what = new QStandardItem(Q(p.description));
        name->setToolTip(Q(p.description));
        model->appendRow({name, what});
    }
    model->sort(0);
    auto* view = new QTreeView;
    view->setHeaderHidden(true);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setAllColumnsShowFocus(true);
    port_->setModel(model);
    port_->setView(view);
    port_->setModelColumn(0);
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->header()->setStretchLastSection(true);
    view->setMinimumWidth(360);
}

void OptionsDialog::FillConnections() {
    // The item data is the name that is stored; "Automatic" stores none.
    connection_->addItem("Automatic", QString());
    connection_->setItemData(
        0, "The one registered modem, or the one whose port is COM3:", Qt::ToolTipRole);
    for (const ModemEntry& m : doc_.Ports())
        connection_->addItem(Q(m.m_strName + u" (" + m.m_strPort + u")"), Q(m.m_strName));
    const QString current = Q(values_.m_strConnection);
    int index = connection_->findData(current);
    if (index < 0) {
        // A stored name that no registered modem has is kept, and shown.
        connection_->addItem(current + " (not registered)", current);
        index = connection_->count() - 1;
    }
    connection_->setCurrentIndex(index);
}

std::optional<int> OptionsDialog::Interval() const {
    bool ok = false;
    int value = interval_->text().trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

void OptionsDialog::UpdateEnabling() {
    const bool on = auto_->isChecked();
    interval_->setEnabled(on);
    if (centre_locked_) {
        centre_->setEnabled(false);
        own_centre_->setEnabled(false);
    } else {
        centre_->setEnabled(own_centre_->isChecked());
    }
    const std::optional<int> interval = Interval();
    const bool interval_ok = !on || (interval && *interval > 1);
    const bool centre_ok =
        !own_centre_->isChecked() || IsValidNumber(centre_->text().toStdU16String());
    set_->setEnabled(interval_ok && centre_ok);
    port_->setEnabled(use_port_->isChecked());
}

void OptionsDialog::accept() {
    if (!set_->isEnabled())
        return;
    const std::optional<int> interval = Interval();
    if (!interval || *interval < kMinInterval || *interval > kMaxInterval) {
        std::u16string text = strings::parlo().Load(IDS_NUMBER_RANGE);
        const std::u16string a = u"%1", b = u"%2";
        if (size_t i = text.find(a); i != std::u16string::npos)
            text.replace(i, a.size(), u"2");
        if (size_t i = text.find(b); i != std::u16string::npos)
            text.replace(i, b.size(), u"99999");
        prompt_.MessageBox(text, platform::Buttons::Ok, platform::Icon::Warning);
        interval_->setFocus();
        interval_->selectAll();
        return;
    }
    // A port that leads nowhere is named now, not at the next synchronisation.
    const std::u16string port = PortForStorage(port_->currentText());
    if (use_port_->isChecked() && !PortExists(port)) {
        prompt_.MessageBox(u"The port \"" + port +
                               u"\" does not exist on this computer. Choose one of the list, "
                               u"or register the phone's port with 'parlo-cli modem add NAME "
                               u"PORT' or 'parlo-cli modem detect'.",
                           platform::Buttons::Ok, platform::Icon::Warning);
        port_->setFocus();
        port_->lineEdit()->selectAll();
        return;
    }
    values_.m_bAutoSync = auto_->isChecked() ? 1 : 0;
    values_.m_nAutoSyncInterval = *interval;
    values_.m_bOwnSmsCentre = own_centre_->isChecked() ? 1 : 0;
    values_.m_strSmsCentre = centre_->text().toStdU16String();
    values_.m_strConnection = connection_->currentData().toString().toStdU16String();
    values_.m_bUsePort = use_port_->isChecked() ? 1 : 0;
    values_.m_strUserPort = PortForStorage(port_->currentText());
    values_.m_bDeleteAfterSync = delete_after_->isChecked() ? 1 : 0;
    values_.m_bConcatenated = concatenated_->isChecked() ? 1 : 0;
    if (place_->currentIndex() >= 0)
        values_.m_nPhonebookFlags = static_cast<uint32_t>(place_->currentIndex() + 1) << 28;
    // The rules that parlo-cli applies too ("Use port" needs a port).
    if (const std::u16string why = CParloDoc::CheckOptions(values_); !why.empty()) {
        prompt_.MessageBox(why, platform::Buttons::Ok, platform::Icon::Warning);
        return;
    }
    QDialog::accept();
}

bool OptionsDialog::PortExists(const std::u16string& port) const {
    if (port.empty())
        return false;
    const std::optional<std::string> device =
        platform::ResolvePort(doc_.Registry(), platform::ToUtf8(port));
    std::error_code ec;
    return device && std::filesystem::exists(*device, ec);
}

bool RunOptions(CParloDoc& doc, platform::Prompt& prompt, QWidget* parent) {
    OptionsDialog dialog(doc, prompt, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    doc.ApplyOptions(dialog.Values());
    return true;
}

}  // namespace parlo
