#pragma once
// The change-tracking window: one snapshot database per root with its state, start position
// and size; building the databases, comparing them with the live registry, the result list,
// its viewer and its reports. The rules live in core/snapshot; the window reads its controls,
// calls the core and shows what comes back.
#include "core/snapshot/ChangeTracking.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace klv {

class ChangeTableModel;
class EventPump;
class FrameHost;
class TListDataViewer;

class TChangeTrack : public QWidget {
    Q_OBJECT
public:
    explicit TChangeTrack(FrameHost& frame, QWidget* parent = nullptr);
    ~TChangeTrack() override;

    // Columns of the database list; its rows are the roots in their fixed order.
    enum DatabaseColumn { ColDatabase, ColState, ColStart, ColSize };

    // The result rows in the list's current order.
    const std::vector<ChangeRow>& results() const { return rows_; }
    // A build or comparison is running.
    bool running() const { return running_; }
    // The window's list data viewer; null until a row has been opened.
    TListDataViewer* viewer() const;
    // How often a long loop lets events through at most (milliseconds).
    void setPumpInterval(int ms) { pumpIntervalMs_ = ms; }

    // Controls, by their component names.
    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton1 = nullptr;   // すべてのデータベースを対象とする
    QAction* ToolButton2 = nullptr;   // すべてのデータベースを対象としない
    QAction* ToolButton3 = nullptr;   // データベースを構築、あるいは再構築する
    QAction* ToolButton4 = nullptr;   // 追跡を中止する
    QCheckBox* CheckBox1 = nullptr;   // 再構築
    QAction* ToolButton5 = nullptr;   // 追跡を開始する
    QAction* ToolButton6 = nullptr;   // 検出結果を保存する
    QAction* ToolButton7 = nullptr;   // 閉じる
    QTreeWidget* ListView1 = nullptr; // the databases
    QLineEdit* Edit1 = nullptr;       // 検証開始位置の変更
    QPushButton* Button1 = nullptr;   // ･･･
    QPushButton* Button2 = nullptr;   // 変更
    QLabel* Label2 = nullptr;         // the caption of the results and progress line
    QTreeView* ListView2 = nullptr;   // the results

    // Handlers.
    void FormActivate(); // refreshes every row from the files and the settings
    void ListView1Change(QTreeWidgetItem* row);
    void Button1Click(); // browse for the start position
    void Button2Click(); // apply the start position
    void ToolButton1Click();
    void ToolButton2Click();
    void ToolButton3Click(); // build
    void ToolButton4Click(); // stop
    void ToolButton5Click(); // compare
    void ToolButton6Click(); // save the results
    void ToolButton7Click(); // close
    void ListView2DblClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QToolBar* buildToolBar();
    QWidget* buildStartPositionRow();
    void setUpDatabaseList();
    void fitDatabaseList();
    void setUpResultList();

    QTreeWidgetItem* rowOf(const std::string& root) const;
    std::vector<std::string> checkedRoots() const;
    TrackingCallbacks callbacks(EventPump& pump);
    void setRunning(bool on);
    void showBuilt(QTreeWidgetItem* row);
    bool buildOne(QTreeWidgetItem* row);
    bool compareOne(QTreeWidgetItem* row, bool rebuild);
    bool saveResults(bool offerToOpen);
    void writeRowSettings();
    void closeWindow();

    FrameHost& frame_;
    std::vector<ChangeRow> rows_;
    ChangeTableModel* model_ = nullptr;
    QPointer<TListDataViewer> viewer_;
    std::string progress_; // the latest progress text of the core (CP932)
    int pumpIntervalMs_ = 40;
    bool stop_ = false;
    bool running_ = false;        // a loop is on the stack
    bool closeRequested_ = false; // close once the loop has unwound
    bool activationHooked_ = false;
};

} // namespace klv
