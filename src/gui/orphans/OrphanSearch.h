#pragma once
// The orphan entry search window: the roots and options of a scan, the string values it finds
// whose files are gone, with check boxes, and the deletion, report and jump of those rows. The
// rules live in core/orphans; the window reads its controls, calls the core and shows what
// comes back.
#include "core/orphans/OrphanScan.h"

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QToolBar;
class QTreeView;

namespace klv {

class FrameHost;
class OrphanTableModel;

class TOrphanSearch : public QWidget {
    Q_OBJECT
public:
    explicit TOrphanSearch(FrameHost& frame, QWidget* parent = nullptr);
    ~TOrphanSearch() override;

    // The result rows in the list's current order.
    const std::vector<OrphanRow>& results() const { return rows_; }
    // A scan is running.
    bool running() const { return running_; }
    bool optionsShown() const;
    // The options as the controls hold them, with the floppy letter of the settings.
    OrphanOptions options() const;
    // How often the scan lets events through at most (milliseconds).
    void setPumpInterval(int ms) { pumpIntervalMs_ = ms; }

    // Controls, by their component names.
    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton1 = nullptr;    // 設定
    QAction* ToolButton2 = nullptr;    // すべて選択
    QAction* ToolButton3 = nullptr;    // すべて解除
    QAction* ToolButton4 = nullptr;    // チェックを入れたものをすべて削除
    QAction* ToolButton5 = nullptr;    // 検索結果の保存
    QAction* ToolButton6 = nullptr;    // 検索中止
    QAction* ToolButton7 = nullptr;    // 詳細なアドバイス
    QAction* ToolButton8 = nullptr;    // 閉じる
    QWidget* Panel1 = nullptr;         // the roots and the two buttons
    QLabel* Label1 = nullptr;          // 検索するルートを選択してください
    QCheckBox* CheckBox1 = nullptr;    // HKEY_CLASSES_ROOT
    QCheckBox* CheckBox2 = nullptr;    // HKEY_CURRENT_USER
    QCheckBox* CheckBox3 = nullptr;    // HKEY_LOCAL_MACHINE
    QCheckBox* CheckBox4 = nullptr;    // HKEY_USERS
    QLabel* Label2 = nullptr;          // the link that shows and hides the options
    QPushButton* Button1 = nullptr;    // 検索開始(&S)
    QPushButton* Button2 = nullptr;    // 検索中止(&C)
    QWidget* Panel2 = nullptr;         // the options
    QCheckBox* CheckBox5 = nullptr;    // any drive
    QCheckBox* CheckBox6 = nullptr;    // Software only
    QCheckBox* CheckBox7 = nullptr;    // no paths with a blank
    QCheckBox* CheckBox8 = nullptr;    // no floppy access
    QTreeView* ListView1 = nullptr;    // the results
    QLabel* StatusBar1 = nullptr;      // the status line
    QMenu* PopupMenu1 = nullptr;       // the list's popup
    QAction* SelectAll1 = nullptr;     // すべて選択(&A)
    QAction* SelectNone1 = nullptr;    // すべて選択解除(&E)
    QAction* DeleteChecked1 = nullptr; // チェックを入れたキーを削除(&D), the default item

    // Handlers.
    void Button1Click();     // search
    void Button2Click();     // stop
    void Label2Click();      // show or hide the options
    void ToolButton1Click(); // show or hide the options
    void ToolButton2Click(); // check every row
    void ToolButton3Click(); // uncheck every row
    void ToolButton4Click(); // delete the checked rows' values
    void ToolButton5Click(); // save the list
    void ToolButton6Click(); // stop
    void ToolButton7Click(); // help
    void ToolButton8Click(); // close
    void SelectAll1Click();
    void SelectNone1Click();
    void DeleteChecked1Click();
    void ListView1Click(int row); // a row selected: the list's hint
    void ListView1DblClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolBar* buildToolBar();
    QWidget* buildRootPanel();
    QWidget* buildOptionPanel();
    void setUpList();
    void showOptions(bool on);
    void setRunning(bool on);
    void setAllChecks(bool on);
    void deleteChecked();
    void closeWindow();

    FrameHost& frame_;
    std::vector<OrphanRow> rows_;
    OrphanTableModel* model_ = nullptr;
    std::string progress_; // the latest progress text of the core (CP932)
    int pumpIntervalMs_ = 40;
    bool stop_ = false;
    bool running_ = false;        // a scan is on the stack
    bool closeRequested_ = false; // close once the scan has unwound
};

} // namespace klv
