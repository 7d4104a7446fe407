// What the main window keeps between runs: its size and place, the column
// widths of every list and the sort, in "parlo-window.ini" of the
// installation directory (a per-user QSettings file).
#pragma once

#include <QString>

class QMainWindow;

namespace parlo {

class MainView;

QString WindowStateFile();
void SaveWindowState(const QMainWindow& window, const MainView& view);
// False when nothing was kept (the first start): the window keeps its size.
// Either way the window ends up inside the available screen.
bool RestoreWindowState(QMainWindow& window, MainView& view);

}  // namespace parlo
