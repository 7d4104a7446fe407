// The updater's frame: six views switched in place, the waiting dialog and
// the progress dialog. Control ids are the widgets' object names ("1006").
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace updater {

class Engine;

// The views' object names, their template numbers.
inline constexpr const char* kMainView = "101";
inline constexpr const char* kErrorView = "131";
inline constexpr const char* kFilesView = "132";
inline constexpr const char* kRunningView = "133";
inline constexpr const char* kDoneView = "134";
inline constexpr const char* kNoUpdatesView = "140";

class UpdaterWindow : public QWidget {
  public:
    explicit UpdaterWindow(Engine* engine, QWidget* parent = nullptr);

    // Starts "Check updates" after 500 ms (self-update mode).
    void CheckSoon();
    // The object name of the view on show.
    QString CurrentView() const;

    // The buttons of the views, for the program and its tests.
    void Check();
    void Update();

  private:
    QWidget* MakeMainView();
    QWidget* MakeErrorView();
    QWidget* MakeFilesView();
    QWidget* MakeRunningView();
    QWidget* MakeDoneView();
    QWidget* MakeNoUpdatesView();
    void Show(const char* view);
    void ShowError();
    void FillFiles();
    void RowChanged(QTreeWidgetItem* item);
    void RefreshSizes();
    // Runs the download thread behind the progress dialog: its result.
    int Download();
    void InstallAndFinish();
    void SelfUpdate();

    Engine* engine_;
    QStackedWidget* stack_;
    QLabel* product_label_;
    QLabel* error_label_;
    QTreeWidget* files_;
    QLabel* total_label_;
    QPushButton* update_button_;
    QLabel* done_label_;
    QPushButton* done_quit_;
    QPushButton* reset_button_;
    bool filling_ = false;
};

}  // namespace updater
