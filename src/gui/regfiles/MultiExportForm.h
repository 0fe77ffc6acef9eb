#pragma once
// The several-keys export dialog: the user gathers key paths in a list (typed, or picked from a
// key tree), and the dialog has one exporter per key write its file, waits for them with a
// one-second timer while staying usable, joins the files into one and asks where to save it.
#include "gui/widgets/RegistryEditorCheck.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace klv {

class ExportBatch;
class FrameHost;
class RegistryKeyTree;

class TMultiExportForm : public QDialog {
    Q_OBJECT
public:
    explicit TMultiExportForm(FrameHost& form1, QWidget* parent = nullptr);
    ~TMultiExportForm() override;

    // Shows the dialog modally.
    static void run(FrameHost& form1, QWidget* parent);

    // The export list as it stands.
    QStringList exportList() const;
    // True from the start of the exports until they are merged, failed or given up.
    bool waiting() const { return batch_ != nullptr; }

    // Controls, by their component names.
    QLabel* Label1 = nullptr;         // the explanation
    QTreeWidget* TreeView1 = nullptr; // the registry's keys
    QLabel* Label2 = nullptr;       // レジストリファイルとして書き出すキー(&K) :
    QLineEdit* Edit1 = nullptr;     // the key to add
    QPushButton* Button1 = nullptr; // 書き出しリストに追加(&A)
    QLabel* Label3 = nullptr; // レジストリファイルとして書き出すキーのリスト(&L) :
    QListWidget* ListBox1 = nullptr;      // the export list
    QPushButton* Button2 = nullptr;       // 書き出しリストから削除(&D)
    QToolButton* SpeedButton1 = nullptr;  // open an export list
    QToolButton* SpeedButton2 = nullptr;  // save the export list
    QGroupBox* GroupBox1 = nullptr;       // 書き出す形式
    QRadioButton* RadioButton1 = nullptr; // REGEDIT4
    QRadioButton* RadioButton2 = nullptr; // Unicode
    QLabel* Label4 = nullptr;             // shown while the exports run
    QPushButton* Button3 = nullptr;       // 書き出し(&R)
    QPushButton* Button4 = nullptr;       // 閉じる(&C)
    QTimer* Timer1 = nullptr;             // one second: looks at the exports

    // Handlers.
    void FormActivate();
    void TreeView1Expanding(QTreeWidgetItem* node);
    void TreeView1Change(QTreeWidgetItem* node);
    void Button1Click(); // add to the list
    void Button2Click(); // remove from the list
    void Button3Click(); // export
    void Button4Click(); // close
    void SpeedButton1Click();
    void SpeedButton2Click();
    void Timer1Timer();

    void done(int result) override;

protected:
    bool event(QEvent* e) override;

private:
    void buildControls();
    void updateRunButton();
    void stopWaiting();
    void reportFailure();
    void finishExport();

    ActivationEditorCheck editorCheck_;
    FrameHost& form1_;
    std::unique_ptr<RegistryKeyTree> tree_;
    std::unique_ptr<ExportBatch> batch_;
    bool unicodeOffered_ = false;
    bool editorMissing_ = false;
};

} // namespace klv
