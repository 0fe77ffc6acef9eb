#pragma once
// The registry status and backup window: the watched hive files with their sizes, previous
// sizes, times and whether they changed, and copies of the checked ones in a backup folder. The
// rules live in core/backup; the window reads its controls, calls the core and shows results.
#include "core/backup/RegistryBackup.h"

#include <QDialog>
#include <QString>
#include <vector>

class QAction;
class QLabel;
class QToolBar;
class QTreeWidget;

namespace klv {

class FrameHost;

class TRegStatus : public QDialog {
    Q_OBJECT
public:
    explicit TRegStatus(FrameHost& frame, QWidget* parent = nullptr);
    ~TRegStatus() override;

    // Opens the window modally over `parent` (the menu item's action).
    static void run(FrameHost& frame, QWidget* parent);

    enum Column { ColName, ColSize, ColPrevious, ColTime, ColChanged, ColFolder };

    // The rows as shown, with their check boxes.
    std::vector<backup::StatusRow> rows() const;

    // Handlers.
    void FormActivate();     // rebuilds the list from the settings
    void FormClose();        // writes the list to the settings
    void ToolButton1Click(); // back up the checked rows
    void ToolButton2Click(); // check all
    void ToolButton3Click(); // uncheck all
    void ToolButton4Click(); // add a file
    void ToolButton5Click(); // remove the selected row
    void ToolButton6Click(); // close
    void Label3Click();      // choose the backup folder

    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton1 = nullptr; // 選択しているレジストリをバックアップ
    QAction* ToolButton2 = nullptr; // すべて選択
    QAction* ToolButton3 = nullptr; // すべて解除
    QAction* ToolButton4 = nullptr; // 項目の追加
    QAction* ToolButton5 = nullptr; // 項目の削除
    QAction* ToolButton6 = nullptr; // 閉じる
    QTreeWidget* ListView1 = nullptr;
    QLabel* Label1 = nullptr; // current total
    QLabel* Label2 = nullptr; // previous total
    QLabel* Label3 = nullptr; // backup folder (clickable)

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolBar();
    void addRow(const backup::StatusRow& row);
    void setAllChecked(bool checked);

    FrameHost& frame_;
    bool activated_ = false;
    bool closed_ = false;
};

} // namespace klv
