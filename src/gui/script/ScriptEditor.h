#pragma once
// The QB script editor window: the script text with a command list and its help, the file,
// print and clipboard commands, and the script runs with their log. The interpreter lives in
// core/script; the window is its host (choice dialog, log, value boxes, message box, stop).
#include "core/script/ScriptHost.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace klv {

class FrameHost;

class TScriptEditor : public QWidget, public ScriptHost {
    Q_OBJECT
public:
    explicit TScriptEditor(FrameHost& frame, QWidget* parent = nullptr);
    ~TScriptEditor() override;

    // The text a new window starts with, one item a line.
    static const QStringList& scriptTemplate();
    // SCRIPT_DB.DAT: in the program folder, else beside the executable; empty when neither.
    static QString helpDatabasePath();

    // Replaces the text with the file's lines; false after telling the user when it cannot be
    // read.
    bool loadFile(const QString& path);
    // The editor's lines.
    QStringList lines() const;
    bool running() const { return running_; }

    // Runs the script in the editor (toolbar "スクリプトの実行", popup "スクリプトの実行(&R)").
    void RunScript();

    // ScriptHost.
    ScriptChoice choose(const ScriptChoiceDialog& dialog) override;
    void log(const std::string& line) override;
    void showKey(const std::string& fullKeyPath) override;
    void valueBox(const ScriptValueBoxRequest& request) override;
    void messageBox(const std::string& text) override;
    bool stopRequested() const override { return stop_; }
    void showError(const std::string& message) override;

    // The information box "メッセージ" waits in a local event loop, so that the stop button
    // works while it is open. Tests install a stand-in that gets the text; nullptr restores
    // the box.
    static void setMessageBoxForTesting(std::function<void(const QString&)> box);

    // Controls, by their component names.
    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton1 = nullptr;      // 新規作成
    QAction* ToolButton2 = nullptr;      // 開く
    QAction* ToolButton3 = nullptr;      // 名前を付けて保存
    QAction* ToolButton4 = nullptr;      // 印刷
    QAction* ToolButton5 = nullptr;      // 元に戻す
    QAction* ToolButton6 = nullptr;      // 切り取り
    QAction* ToolButton7 = nullptr;      // コピー
    QAction* ToolButton8 = nullptr;      // 貼り付け
    QAction* ToolButton9 = nullptr;      // レジストリキーの参照と貼り付け
    QAction* ToolButton10 = nullptr;     // スクリプトの実行
    QAction* ToolButton11 = nullptr;     // スクリプトの停止
    QAction* ToolButton12 = nullptr;     // スクリプト リファレンス
    QAction* ToolButton13 = nullptr;     // 閉じる
    QLabel* Label1 = nullptr;            // パラメータの指定 :
    QLineEdit* Edit1 = nullptr;          // the parameters of the selected command
    QLabel* Label2 = nullptr;            // 記述例 :
    QLineEdit* Edit2 = nullptr;          // its example
    QLabel* Label3 = nullptr;            // the coloured strip: command and description
    QSplitter* Splitter1 = nullptr;      // editor and command list
    QSplitter* Splitter2 = nullptr;      // above, and the run log
    QPlainTextEdit* Memo1 = nullptr;     // the script
    QTreeWidget* ListView1 = nullptr;    // the commands
    QWidget* Panel2 = nullptr;           // the run log panel
    QToolButton* SpeedButton1 = nullptr; // 動作検証リストを閉じる
    QListWidget* ListBox1 = nullptr;     // the run log
    QMenu* PopupMenu1 = nullptr;         // the editor's popup

    // Handlers.
    void ToolButton1Click();  // a new script window
    void ToolButton2Click();  // open
    void ToolButton3Click();  // save as
    void ToolButton4Click();  // print
    void ToolButton5Click();  // undo
    void ToolButton6Click();  // cut
    void ToolButton7Click();  // copy
    void ToolButton8Click();  // paste
    void ToolButton9Click();  // browse the registry and paste the key path
    void ToolButton10Click(); // run
    void ToolButton11Click(); // stop
    void ToolButton12Click(); // script reference
    void ToolButton13Click(); // close
    void SelectAll1Click();
    void SpeedButton1Click(); // hide the run log
    void ListView1Change(QTreeWidgetItem* item);
    void ListView1DblClick(QTreeWidgetItem* item);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QToolBar* buildToolBar();
    QWidget* buildHelpArea();
    QWidget* buildLogPanel();
    void buildCommandList();
    void buildPopupMenu();
    void showLog(bool on);
    void closeWindow();
    // Saves the editor's lines; false after telling the user.
    bool saveFile(const QString& path);

    FrameHost& frame_;
    bool stop_ = false;
    bool running_ = false;
    bool closeRequested_ = false; // close once the run has unwound
};

} // namespace klv
