#include "parlo/app/qt/message_list_model.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

#include "parlo/app/parlo_doc.h"
#include "qtsupport/qt_text.h"

namespace parlo {

namespace {

QIcon g_images[4];
// More changed rows than this in one batch are announced as a new layout.
constexpr int kManyChanged = 2000;

QString FormatTime(const platform::OleDate& date) {
    struct tm t {};
    if (!date.ToLocal(&t))
        return {};
    QDateTime when(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                   QTime(t.tm_hour, t.tm_min, t.tm_sec));
    return QLocale().toString(when, QLocale::ShortFormat);
}

// Every field a row shows or a command uses (a record's place in the file
// is neither: a compaction moves most records).
bool SameCopy(const CSmsMessage& a, const CSmsMessage& b) {
    return a.m_nState == b.m_nState && a.m_bMarked == b.m_bMarked && a.m_nStorage == b.m_nStorage &&
           a.m_nPhoneIndex == b.m_nPhoneIndex && a.m_nFolderId == b.m_nFolderId &&
           a.m_time.m_dt == b.m_time.m_dt && a.m_time.m_status == b.m_time.m_status &&
           a.m_strNumber == b.m_strNumber && a.m_strText == b.m_strText;
}

}  // namespace

MessageListModel::MessageListModel(int view_code,
                                   std::function<QString(const std::u16string&)> name_of,
                                   QObject* parent)
    : QAbstractTableModel(parent), view_code_(view_code), name_of_(std::move(name_of)) {}

void MessageListModel::SetImages(const QIcon& normal, const QIcon& marked, const QIcon& unread,
                                 const QIcon& held) {
    g_images[0] = normal;
    g_images[1] = marked;
    g_images[2] = unread;
    g_images[3] = held;
}

QString MessageListModel::HeldText() {
    return QStringLiteral(
        "Held: it may have gone out already. \"Send again\" or \"Release\" in its context menu "
        "has it sent.");
}

bool MessageListModel::Accepts(const CSmsMessage& copy) const {
    return CParloDoc::InList(copy, view_code_, folder_id_);
}

int MessageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MessageListModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return view_code_ == VIEW_TEMPLATES ? 3 : 4;
}

void MessageListModel::Format(const Row& row) const {
    if (row.formatted)
        return;
    row.name =
        name_of_ ? name_of_(row.copy.m_strNumber) : qtsupport::ToQString(row.copy.m_strNumber);
    row.time = FormatTime(row.copy.m_time);
    row.incomplete = incomplete_of_ && incomplete_of_(row.copy);
    row.formatted = true;
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    const Row& row = rows_[static_cast<size_t>(index.row())];
    // Templates lack the number column: their columns 1 and 2 show fields 2 and 3.
    const int field =
        view_code_ == VIEW_TEMPLATES && index.column() > 0 ? index.column() + 1 : index.column();
    const bool held = CParloDoc::IsHeld(row.copy);
    if (role == Qt::DecorationRole && field == 0) {
        int image = row.copy.m_bMarked ? 1 : row.copy.m_nState == STATE_UNREAD ? 2 : held ? 3 : 0;
        return g_images[image];
    }
    if (held && role == Qt::ToolTipRole)
        return HeldText();
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        if (field == 0)
            return {};
        Format(row);
        switch (field) {
            case 1:
                return row.name;
            case 2:
                return row.time;
            default: {
                QString text = qtsupport::ToQString(row.copy.m_strText);
                if (role == Qt::DisplayRole)
                    text.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace('\n', ' ');
                if (row.incomplete)
                    text.prepend(QStringLiteral("(incomplete) "));
                return text;
            }
        }
    }
    if (role == Qt::AccessibleTextRole && field == 0)
        return row.copy.m_bMarked                  ? QStringLiteral("marked")
               : row.copy.m_nState == STATE_UNREAD ? QStringLiteral("unread")
               : held                              ? QStringLiteral("held")
                                                   : QString();
    return {};
}

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kTemplates[] = {"", "Time", "Message"};
    if (view_code_ == VIEW_TEMPLATES)
        return section >= 0 && section < 3 ? QString(kTemplates[section]) : QVariant();
    const char* first = view_code_ == VIEW_INBOX                                       ? "From"
                        : view_code_ == VIEW_USER_FOLDER || view_code_ == VIEW_RECYCLE ? "Number"
                                                                                       : "To";
    const char* const names[] = {"", first, "Time", "Message"};
    return section >= 0 && section < 4 ? QString(names[section]) : QVariant();
}

void MessageListModel::Reindex(int from) {
    for (size_t i = static_cast<size_t>(from); i < rows_.size(); ++i)
        index_[rows_[i].key] = static_cast<int>(i);
}

void MessageListModel::Reset(std::vector<std::pair<CSmsMessage*, CSmsMessage>> rows) {
    beginResetModel();
    rows_.clear();
    index_.clear();
    index_.reserve(rows.size() + rows.size() / 4);  // room for what comes next
    for (auto& [key, copy] : rows) {
        if (!Accepts(copy) || index_.count(key))
            continue;
        index_[key] = static_cast<int>(rows_.size());
        rows_.emplace_back(key, std::move(copy));
    }
    endResetModel();
}

int MessageListModel::Upsert(CSmsMessage* key, const CSmsMessage& copy) {
    auto it = index_.find(key);
    if (!Accepts(copy)) {
        if (it != index_.end())
            Remove(key);
        return -1;
    }
    if (it != index_.end()) {
        Row& row = rows_[static_cast<size_t>(it->second)];
        row.copy = copy;
        row.formatted = false;
        emit dataChanged(index(it->second, 0), index(it->second, columnCount() - 1));
        return it->second;
    }
    const int at = static_cast<int>(rows_.size());
    beginInsertRows({}, at, at);
    rows_.emplace_back(key, copy);
    index_[key] = at;
    endInsertRows();
    return at;
}

void MessageListModel::Remove(const CSmsMessage* key) {
    auto it = index_.find(key);
    if (it == index_.end())
        return;
    const int at = it->second;
    beginRemoveRows({}, at, at);
    index_.erase(it);
    rows_.erase(rows_.begin() + at);
    Reindex(at);
    endRemoveRows();
}

void MessageListModel::RemoveMany(const std::unordered_set<const CSmsMessage*>& keys) {
    std::vector<int> rows;
    for (const CSmsMessage* key : keys) {
        auto it = index_.find(key);
        if (it != index_.end())
            rows.push_back(it->second);
    }
    if (rows.empty())
        return;
    std::sort(rows.begin(), rows.end());
    // Runs of neighbouring rows, last first so the earlier rows keep their
    // numbers while the later ones go.
    std::vector<std::pair<int, int>> runs;
    for (int r : rows) {
        if (!runs.empty() && runs.back().second + 1 == r)
            runs.back().second = r;
        else
            runs.emplace_back(r, r);
    }
    constexpr size_t kMaxRuns = 64;
    for (int r : rows)
        index_.erase(rows_[static_cast<size_t>(r)].key);
    if (runs.size() > kMaxRuns) {
        beginResetModel();
        rows_.erase(std::remove_if(rows_.begin(), rows_.end(),
                                   [&](const Row& r) { return keys.count(r.key) != 0; }),
                    rows_.end());
        Reindex(runs.front().first);
        endResetModel();
        return;
    }
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        beginRemoveRows({}, it->first, it->second);
        rows_.erase(rows_.begin() + it->first, rows_.begin() + it->second + 1);
        endRemoveRows();
    }
    Reindex(runs.front().first);
}

int MessageListModel::UpsertMany(const std::vector<std::pair<CSmsMessage*, CSmsMessage>*>& rows) {
    int first = -1, last = -1, changed = 0;
    std::vector<std::pair<CSmsMessage*, CSmsMessage>*> added;
    for (auto* r : rows) {
        auto it = index_.find(r->first);
        if (it == index_.end()) {
            added.push_back(r);
            continue;
        }
        Row& row = rows_[static_cast<size_t>(it->second)];
        if (SameCopy(row.copy, r->second)) {
            // a refill after another program's change: most rows are as they were
            row.copy.m_nFileOffset = r->second.m_nFileOffset;
            continue;
        }
        row.copy = std::move(r->second);
        row.formatted = false;
        first = first < 0 ? it->second : std::min(first, it->second);
        last = std::max(last, it->second);
        ++changed;
    }
    if (changed > kManyChanged) {
        // A view works through a changed range row by row; this many rows
        // are laid out and painted anew at less cost.
        emit layoutAboutToBeChanged();
        emit layoutChanged();
    } else if (first >= 0) {
        emit dataChanged(index(first, 0), index(last, columnCount() - 1));
    }
    if (added.empty())
        return 0;
    const int at = static_cast<int>(rows_.size());
    beginInsertRows({}, at, at + static_cast<int>(added.size()) - 1);
    for (auto* r : added) {
        index_[r->first] = static_cast<int>(rows_.size());
        rows_.emplace_back(r->first, std::move(r->second));
    }
    endInsertRows();
    return static_cast<int>(added.size());
}

void MessageListModel::GiveTexts(int row, CSmsMessage* copy, bool keep) {
    CSmsMessage& from = rows_[static_cast<size_t>(row)].copy;
    if (keep) {
        copy->m_strNumber = from.m_strNumber;
        copy->m_strText = from.m_strText;
    } else {
        copy->m_strNumber = std::move(from.m_strNumber);
        copy->m_strText = std::move(from.m_strText);
    }
}

void MessageListModel::SetMarked(const std::vector<CSmsMessage*>& keys, bool marked) {
    int first = -1, last = -1;
    for (const CSmsMessage* key : keys) {
        auto it = index_.find(key);
        if (it == index_.end())
            continue;
        Row& row = rows_[static_cast<size_t>(it->second)];
        if (static_cast<bool>(row.copy.m_bMarked) == marked)
            continue;
        row.copy.m_bMarked = marked ? 1 : 0;
        first = first < 0 ? it->second : std::min(first, it->second);
        last = std::max(last, it->second);
    }
    if (first >= 0)
        emit dataChanged(index(first, 0), index(last, 0));
}

void MessageListModel::Refill(std::vector<std::pair<CSmsMessage*, CSmsMessage>> rows) {
    if (rows_.empty()) {
        Reset(std::move(rows));
        return;
    }
    KeepOnly(rows);
    std::vector<std::pair<CSmsMessage*, CSmsMessage>*> all;
    all.reserve(rows.size());
    for (auto& r : rows)
        all.push_back(&r);
    UpsertMany(all);
}

void MessageListModel::KeepOnly(const std::vector<std::pair<CSmsMessage*, CSmsMessage>>& rows) {
    std::vector<bool> stays(rows_.size(), false);
    for (const auto& r : rows) {
        auto it = index_.find(r.first);
        if (it != index_.end())
            stays[static_cast<size_t>(it->second)] = true;
    }
    std::unordered_set<const CSmsMessage*> gone;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!stays[i])
            gone.insert(rows_[i].key);
    }
    RemoveMany(gone);
}

void MessageListModel::Clear() {
    if (rows_.empty())
        return;
    beginResetModel();
    rows_.clear();
    index_.clear();
    endResetModel();
}

void MessageListModel::RefreshNames() {
    for (Row& row : rows_)
        row.formatted = false;
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int MessageListModel::RowOf(const CSmsMessage* key) const {
    auto it = index_.find(key);
    return it == index_.end() ? -1 : it->second;
}

CSmsMessage* MessageListModel::KeyAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<size_t>(row)].key
                                                            : nullptr;
}

const CSmsMessage* MessageListModel::CopyAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? &rows_[static_cast<size_t>(row)].copy
                                                            : nullptr;
}

std::vector<CSmsMessage*> MessageListModel::Keys() const {
    std::vector<CSmsMessage*> out;
    out.reserve(rows_.size());
    for (const Row& row : rows_)
        out.push_back(row.key);
    return out;
}

int MessageListModel::MarkedCount() const {
    return static_cast<int>(
        std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.copy.m_bMarked; }));
}

void MessageListModel::SortRows(int column, bool descending) {
    const size_t n = rows_.size();
    auto field_of = [column](const Row& r) {
        return r.copy.m_nState == STATE_TEMPLATE ? column + 1 : column;
    };
    // Texts and numbers compare by UTF-16 code unit. Their big-endian bytes
    // compare the same way with memcmp, which is several times faster than
    // comparing char16_t strings unit by unit.
    std::vector<std::string> keys(n);
    for (size_t i = 0; i < n; ++i) {
        const int field = field_of(rows_[i]);
        if (field == 2)
            continue;
        const std::u16string& text =
            field == 1 ? rows_[i].copy.m_strNumber : rows_[i].copy.m_strText;
        std::string& key = keys[i];
        key.resize(text.size() * 2);
        for (size_t k = 0; k < text.size(); ++k) {
            key[2 * k] = static_cast<char>(text[k] >> 8);
            key[2 * k + 1] = static_cast<char>(text[k] & 0xFF);
        }
    }
    std::vector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = static_cast<uint32_t>(i);
    // Equal rows keep their order: the index decides last.
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        int c;
        if (field_of(rows_[a]) == 2) {
            const double ta = rows_[a].copy.m_time.m_dt, tb = rows_[b].copy.m_time.m_dt;
            c = ta < tb ? -1 : ta > tb;
        } else {
            c = keys[a].compare(keys[b]);
        }
        if (c != 0)
            return descending ? c > 0 : c < 0;
        return a < b;
    });
    std::deque<Row> sorted;
    for (uint32_t i : order)
        sorted.push_back(std::move(rows_[i]));
    rows_.swap(sorted);
}

void MessageListModel::SortBy(int column, bool descending) {
    if (column < 1 || column > 3)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<CSmsMessage*> keys_before;
    keys_before.reserve(static_cast<size_t>(before.size()));
    for (const QModelIndex& i : before)
        keys_before.push_back(KeyAt(i.row()));
    SortRows(column, descending);
    Reindex(0);
    QModelIndexList after;
    after.reserve(before.size());
    for (int i = 0; i < before.size(); ++i)
        after.append(index(RowOf(keys_before[static_cast<size_t>(i)]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace parlo
