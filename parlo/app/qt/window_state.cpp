#include "parlo/app/qt/window_state.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QSettings>
#include <QTreeView>

#include "parlo/app/qt/main_view.h"
#include "parlo/store/sms_message.h"
#include "platform/paths.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

namespace {

QString ListKey(int code) {
    return QString("lists/%1").arg(code);
}

}  // namespace

QString WindowStateFile() {
    return QString::fromStdString((platform::InstallDir() / "parlo-window.ini").string());
}

void SaveWindowState(const QMainWindow& window, const MainView& view) {
    QSettings s(WindowStateFile(), QSettings::IniFormat);
    s.setValue("window/geometry", window.saveGeometry());
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
        if (QTreeView* list = view.List(code))
            s.setValue(ListKey(code), list->header()->saveState());
    }
    s.setValue("sort/column", view.SortColumn());
    s.setValue("sort/descending", view.SortDescending());
    s.sync();
}

bool RestoreWindowState(QMainWindow& window, MainView& view) {
    QSettings s(WindowStateFile(), QSettings::IniFormat);
    const bool kept = s.contains("window/geometry");
    if (kept)
        window.restoreGeometry(s.value("window/geometry").toByteArray());
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
        QTreeView* list = view.List(code);
        const QByteArray state = s.value(ListKey(code)).toByteArray();
        if (list && !state.isEmpty())
            list->header()->restoreState(state);
    }
    const int column = s.value("sort/column", 0).toInt();
    if (column > 0)
        view.SetSort(column, s.value("sort/descending", false).toBool());
    qtsupport::FitToScreen(&window);
    return kept;
}

}  // namespace parlo
