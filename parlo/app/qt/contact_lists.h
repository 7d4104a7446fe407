// What the phonebook, recipient and group dialogs share: report-style lists
// of people (columns "Name" and "Tel. Number"), the prefix search of their
// search fields, and the ids of their controls (the object names).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QLineEdit;
class QStandardItemModel;
class QTreeView;
class QWidget;

namespace parlo {

// Control ids of the dialogs (object names).
namespace ctl {
inline constexpr char kPhonebookList[] = "1101";
inline constexpr char kPhonebookSearch[] = "1102";
inline constexpr char kPhonebookStatus[] = "1103";
inline constexpr char kPhonebookProgress[] = "1104";
inline constexpr char kPhonebookNew[] = "32840";
inline constexpr char kPhonebookEdit[] = "32841";
inline constexpr char kPhonebookDelete[] = "32842";
inline constexpr char kPhonebookSync[] = "32843";
inline constexpr char kPhonebookExport[] = "32844";
inline constexpr char kPhonebookImport[] = "32845";
inline constexpr char kPhonebookCall[] = "32846";
inline constexpr char kPhonebookSendSms[] = "32847";
inline constexpr char kEntryName[] = "1111";
inline constexpr char kEntryNumber[] = "1112";
inline constexpr char kEntryStorage[] = "1113";
inline constexpr char kRecipientsTabs[] = "1121";
inline constexpr char kRecipientsContacts[] = "1122";
inline constexpr char kRecipientsPhonebook[] = "1123";
inline constexpr char kRecipientsSearch[] = "1124";
inline constexpr char kRecipientsGroup[] = "1125";
inline constexpr char kSelectList[] = "1131";
inline constexpr char kSelectSearch[] = "1132";
inline constexpr char kSelectImportTo[] = "1133";
inline constexpr char kGroupsList[] = "1141";
inline constexpr char kGroupsName[] = "1142";
inline constexpr char kGroupsAdd[] = "1143";
inline constexpr char kGroupsDelete[] = "1144";
inline constexpr char kGroupsAddContact[] = "1145";
inline constexpr char kDefineTitle[] = "1151";
inline constexpr char kDefineTabs[] = "1152";
inline constexpr char kDefineContacts[] = "1153";
inline constexpr char kDefinePhonebook[] = "1154";
inline constexpr char kDefineMembers[] = "1155";
inline constexpr char kDefineAdd[] = "1156";
inline constexpr char kDefineRemove[] = "1157";
inline constexpr char kDefineSave[] = "1158";
}  // namespace ctl

// A string of the client's string table.
QString Text(unsigned id);
inline QString Q(const std::u16string& s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}
std::u16string U(const QString& s);

// A report-style list: full-row selection, no editing, uniform rows, the
// given column headers and widths (scaled to the font), on a new model.
QTreeView* MakeList(QWidget* parent, const char* object_name, const QStringList& headers,
                    const QList<int>& widths, bool multi_select = true);
QStandardItemModel* ModelOf(QTreeView* list);

// The search field rule: the first row whose first text column begins with
// `text` (case-insensitive) is selected, scrolled to the top and made
// visible; with `deselect_others` the other rows lose their selection.
void SearchList(QTreeView* list, int column, const QString& text, bool deselect_others);

// Return (or Enter) on `widget` runs `action` and goes no further: the
// dialog's default button is not pressed.
void OnReturn(QWidget* widget, std::function<void()> action);
// The same for another key without modifiers (Delete, Space, Menu).
void OnKey(QWidget* widget, int key, std::function<void()> action);
// Return in a search field does not close the dialog: it takes the user to
// the row that the search found in `list()`.
void ReturnGoesToList(QLineEdit* search, std::function<QTreeView*()> list);

}  // namespace parlo
