#include "parlo/app/qt/contact_lists.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTreeView>

#include "parlo_strings.h"

namespace parlo {

QString Text(unsigned id) {
    return Q(strings::parlo().Load(id));
}

std::u16string U(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()),
                          static_cast<size_t>(s.size()));
}

QTreeView* MakeList(QWidget* parent, const char* object_name, const QStringList& headers,
                    const QList<int>& widths, bool multi_select) {
    auto* list = new QTreeView(parent);
    list->setObjectName(object_name);
    auto* model = new QStandardItemModel(0, static_cast<int>(headers.size()), list);
    model->setHorizontalHeaderLabels(headers);
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(multi_select ? QAbstractItemView::ExtendedSelection
                                        : QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setSectionsMovable(false);
    list->header()->setStretchLastSection(true);
    // The handheld's widths were pixels at an 8-point font; keep the ratio.
    const int unit = QFontMetrics(list->font()).averageCharWidth();
    for (int i = 0; i < widths.size(); ++i)
        list->setColumnWidth(i, widths[i] * unit / 5);
    return list;
}

QStandardItemModel* ModelOf(QTreeView* list) {
    return static_cast<QStandardItemModel*>(list->model());
}

void SearchList(QTreeView* list, int column, const QString& text, bool deselect_others) {
    if (text.isEmpty())
        return;
    QAbstractItemModel* model = list->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        QModelIndex index = model->index(row, column);
        if (!model->data(index).toString().startsWith(text, Qt::CaseInsensitive))
            continue;
        QItemSelectionModel* selection = list->selectionModel();
        auto flags = QItemSelectionModel::Select | QItemSelectionModel::Rows;
        if (deselect_others)
            flags |= QItemSelectionModel::Clear;
        selection->select(index, flags);
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        list->scrollTo(index, QAbstractItemView::PositionAtTop);
        return;
    }
}

namespace {

class KeyFilter : public QObject {
  public:
    KeyFilter(QObject* parent, int key, std::function<void()> action)
        : QObject(parent), key_(key), action_(std::move(action)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
            const bool hit = key_ == Qt::Key_Return
                                 ? key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter
                                 : key->key() == key_;
            if (hit && mods == Qt::NoModifier) {
                action_();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    int key_;
    std::function<void()> action_;
};

}  // namespace

void OnKey(QWidget* widget, int key, std::function<void()> action) {
    widget->installEventFilter(new KeyFilter(widget, key, std::move(action)));
}

void OnReturn(QWidget* widget, std::function<void()> action) {
    OnKey(widget, Qt::Key_Return, std::move(action));
}

void ReturnGoesToList(QLineEdit* search, std::function<QTreeView*()> list) {
    OnReturn(search, [list = std::move(list)] { list()->setFocus(Qt::OtherFocusReason); });
}

}  // namespace parlo
