#pragma once
// The export dialog: a file name, a folder (typed, from its history or from a folder tree over
// the drive map), the file form and the part of the registry to write. The registry editor
// program writes the file; the dialog only names it and starts the program.
#include "gui/widgets/RegistryEditorCheck.h"

#include <QDialog>
#include <QString>
#include <filesystem>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace klv {

class FrameHost;

class TRegExportForm : public QDialog {
    Q_OBJECT
public:
    // `keyPath` presets the key path field of the scope "指定した部分以下のエントリ(&T)".
    TRegExportForm(FrameHost& form1, const QString& keyPath, QWidget* parent = nullptr);
    ~TRegExportForm() override;

    // Shows the dialog modally.
    static void run(FrameHost& form1, QWidget* parent, const QString& keyPath);

    // Controls, by their component names.
    QLabel* Label1 = nullptr;             // the explanation
    QLineEdit* Edit1 = nullptr;           // file name or full path
    QComboBox* ComboBox1 = nullptr;       // folder, with its history
    QPushButton* Button3 = nullptr;       // フォルダ名を履歴に追加(&A)
    QPushButton* Button4 = nullptr;       // フォルダ名履歴をクリア(&R)
    QTreeWidget* TreeView1 = nullptr;     // folders of the mapped drives
    QLabel* Label4 = nullptr;             // the folder chosen in the tree
    QGroupBox* GroupBox1 = nullptr;       // 書き出す形式
    QRadioButton* RadioButton1 = nullptr; // REGEDIT4
    QRadioButton* RadioButton2 = nullptr; // Unicode
    QCheckBox* CheckBox1 = nullptr;       // the extension .txt
    QGroupBox* GroupBox2 = nullptr;       // 書き出し範囲
    QRadioButton* RadioButton3 = nullptr; // すべてのレジストリ(&L)
    QRadioButton* RadioButton4 = nullptr; // ルートキーのエントリをすべて(&N)
    QComboBox* ComboBox2 = nullptr;       // the root
    QRadioButton* RadioButton5 = nullptr; // 指定した部分以下のエントリ(&T)
    QLineEdit* Edit2 = nullptr;           // the key path
    QToolButton* SpeedButton1 = nullptr;  // browse for the key
    QPushButton* Button1 = nullptr;       // 書き出し(&S)
    QPushButton* Button2 = nullptr;       // キャンセル(&C)
    QPushButton* Button5 = nullptr;       // ヘルプ(&H)

    // Handlers.
    void FormActivate();
    void Button1Click(); // export
    void Button2Click(); // cancel
    void Button3Click(); // add the folder to the history
    void Button4Click(); // clear the history
    void Button5Click(); // help
    void SpeedButton1Click();
    void RadioButtonClick(); // the scope changed
    void TreeView1Expanding(QTreeWidgetItem* node);
    void TreeView1Change(QTreeWidgetItem* node);
    void ComboBox1Change(); // the folder field was edited
    void Edit1Change();     // the file name field was edited

    // The node of a Windows folder ("C:\Work"), loading the nodes on the way; null when the
    // folder is not there.
    QTreeWidgetItem* folderNode(const QString& windowsFolder);

protected:
    bool event(QEvent* e) override;

private:
    void buildControls(const QString& keyPath);
    void readHistory();
    void writeHistory();
    void addFolderNode(QTreeWidgetItem* parent, const QString& name, const QString& linuxPath);
    // Selects the folder's node without writing it into the folder field.
    void showFolderInTree(const QString& windowsFolder);
    std::optional<std::filesystem::path> existingFolder(const QString& windowsFolder) const;
    void exportFile();

    ActivationEditorCheck editorCheck_;
    FrameHost& form1_;
    bool unicodeOffered_ = false;
    bool syncing_ = false; // the tree follows a typed text: it must not write back
};

} // namespace klv
