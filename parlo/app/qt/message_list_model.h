// One message list of the main window (Inbox, Outbox, ..., Recycle Bin).
//
// Each row holds a copy of its record, taken under the store's lock by the
// caller, and the record's address as its key. The key identifies the row
// and is handed to the document's operations on the GUI thread; the model
// never reads through it. Display names and times are formatted when a row
// is first painted.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <deque>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "parlo/store/sms_message.h"

namespace parlo {

class MessageListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // `view_code` 1..7; `name_of` gives the display name of a number.
    MessageListModel(int view_code, std::function<QString(const std::u16string&)> name_of,
                     QObject* parent = nullptr);

    int ViewCode() const { return view_code_; }
    // For the user-folder list: the folder on show (-1: none).
    int32_t ShownFolder() const { return folder_id_; }
    void SetShownFolder(int32_t id) { folder_id_ = id; }
    // Whether a record in this state (and folder) belongs in this list.
    bool Accepts(const CSmsMessage& copy) const;

    // Tells whether a record is a long message with parts missing: its text
    // is then shown after "(incomplete) ".
    void SetIncompleteTest(std::function<bool(const CSmsMessage&)> test) {
        incomplete_of_ = std::move(test);
    }

    // Row images: 0 normal, 1 marked, 2 unread, 3 held in the Outbox (it
    // may have gone out).
    static void SetImages(const QIcon& normal, const QIcon& marked, const QIcon& unread,
                          const QIcon& held);
    // The tooltip of a held Outbox message's row.
    static QString HeldText();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Bulk fill: replaces every row (one reset).
    void Reset(std::vector<std::pair<CSmsMessage*, CSmsMessage>> rows);
    // A record entered or changed: inserted at the end when it belongs here
    // and is not listed, refreshed where it is listed, removed when it no
    // longer belongs. Returns the row or -1.
    int Upsert(CSmsMessage* key, const CSmsMessage& copy);
    void Remove(const CSmsMessage* key);
    // Many at once, in one pass: removed in runs of neighbouring rows (one
    // reset when the rows are scattered over many runs).
    void RemoveMany(const std::unordered_set<const CSmsMessage*>& keys);
    // Many at once: listed rows refreshed in place, the others appended in
    // one insertion (the caller checked that they belong here). The copies
    // are taken over: moved from. Returns the number of rows appended.
    int UpsertMany(const std::vector<std::pair<CSmsMessage*, CSmsMessage>*>& rows);
    // Row `row`'s number and text into `copy`: copied when `keep`, else
    // moved (the row is about to go).
    void GiveTexts(int row, CSmsMessage* copy, bool keep);
    // The listed rows of `keys` shown marked or not (others are ignored).
    void SetMarked(const std::vector<CSmsMessage*>& keys, bool marked);
    // The whole list anew, keeping the rows that stay where they are (their
    // order, so a sort stays sorted) and appending the new ones.
    void Refill(std::vector<std::pair<CSmsMessage*, CSmsMessage>> rows);
    // Its first half: the rows whose key `rows` does not hold go.
    void KeepOnly(const std::vector<std::pair<CSmsMessage*, CSmsMessage>>& rows);
    void Clear();
    // The names changed (contacts or phonebook read again).
    void RefreshNames();

    int RowOf(const CSmsMessage* key) const;
    CSmsMessage* KeyAt(int row) const;
    const CSmsMessage* CopyAt(int row) const;
    std::vector<CSmsMessage*> Keys() const;
    int MarkedCount() const;

    // Sorts by column 1..3 with the lists' comparison: numbers as stored
    // (not the names shown), times, texts by code unit; a template compares
    // the column after (it has no number column).
    void SortBy(int column, bool descending);

  private:
    struct Row {
        Row(CSmsMessage* k, CSmsMessage c) : key(k), copy(std::move(c)) {}
        CSmsMessage* key;
        CSmsMessage copy;
        mutable QString name;  // empty until painted
        mutable QString time;
        mutable bool incomplete = false;
        mutable bool formatted = false;
    };
    void Format(const Row& row) const;
    void SortRows(int column, bool descending);
    void Reindex(int from);

    int view_code_;
    int32_t folder_id_ = -1;
    std::function<QString(const std::u16string&)> name_of_;
    std::function<bool(const CSmsMessage&)> incomplete_of_;
    // A deque: appending a row never moves the others (a vector would move
    // every row of a 1,000,000-row list when it grows).
    std::deque<Row> rows_;
    std::unordered_map<const CSmsMessage*, int> index_;
};

}  // namespace parlo
