#pragma once
// The options dialog "オプション設定": six pages over the settings file. The opener names the
// page that "標準に戻す(&D)" resets; the dialog always opens on its first page.
#include <QDialog>
#include <QString>
#include <filesystem>
#include <memory>

class QCheckBox;
class QComboBox;
class QKeySequenceEdit;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace klv {

class SettingsFile;

class TOptionsForm : public QDialog {
    Q_OBJECT
public:
    // The page that "標準に戻す(&D)" works on; None leaves the button without effect.
    enum class Page { None, ValueHolder, BinaryEditor, Shortcuts, Toolbar };

    // `settingsFile` is the file the program's settings object works on; `toolBar` is the
    // active editor window's toolbar (nullptr: the toolbar page lists nothing).
    TOptionsForm(const std::filesystem::path& settingsFile, Page page, QToolBar* toolBar,
                 QWidget* parent = nullptr);
    ~TOptionsForm() override;

    // Shows the dialog modally; true when it was closed with OK.
    static bool run(const std::filesystem::path& settingsFile, Page page, QToolBar* toolBar,
                    QWidget* parent);

    QTabWidget* PageControl1 = nullptr;
    // オプション
    QCheckBox* CheckBox1 = nullptr; // OEDIT .. CheckBox8: KEY, in the order of kOptionChecks
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox7 = nullptr;
    QCheckBox* CheckBox8 = nullptr;
    QSpinBox* SpinEdit1 = nullptr; // HIS_1 .. SpinEdit4: HIS_4
    QSpinBox* SpinEdit2 = nullptr;
    QSpinBox* SpinEdit3 = nullptr;
    QSpinBox* SpinEdit4 = nullptr;
    // バリューホルダー
    QComboBox* ComboBox1 = nullptr;  // 動作モード
    QCheckBox* CheckBox9 = nullptr;  // 保管日時
    QCheckBox* CheckBox10 = nullptr; // 保管場所
    QCheckBox* CheckBox11 = nullptr; // 保存・復元
    // バイナリエディタ
    QComboBox* ComboBox2 = nullptr;  // ラインサイズ
    QComboBox* ComboBox3 = nullptr;  // カラム幅
    QComboBox* ComboBox4 = nullptr;  // カーソルの形状
    QComboBox* ComboBox5 = nullptr;  // オフセットの表示
    QComboBox* ComboBox6 = nullptr;  // 文字列のフォーマット
    QCheckBox* CheckBox12 = nullptr; // グリッド
    QCheckBox* CheckBox13 = nullptr; // 空白のマスク
    QCheckBox* CheckBox14 = nullptr; // 読みとり専用
    // ショートカットキー
    QCheckBox* CheckBox15 = nullptr; // OPTION/SHORTCUT
    QListWidget* ListBox1 = nullptr; // the commands, as their SHORTCUT keys
    QKeySequenceEdit* HotKey1 = nullptr;
    QPushButton* Button5 = nullptr; // << 割り当て(&W)
    // ツールバー
    QCheckBox* CheckBox16 = nullptr;  // OPTION/TOOLBAR
    QTreeWidget* ListView1 = nullptr; // 機能, 表示, hidden: name, left position
    QPushButton* Button6 = nullptr;   // 上へ(&U)
    QPushButton* Button7 = nullptr;   // 下へ(&W)
    QPushButton* Button8 = nullptr;   // 表示する／しない
    QPushButton* Button9 = nullptr;   // レイアウトの更新
    // セットアップ
    QPushButton* Button10 = nullptr; // start menu group
    QPushButton* Button11 = nullptr; // desktop launcher
    // The dialog's buttons.
    QPushButton* Button1 = nullptr; // OK
    QPushButton* Button2 = nullptr; // キャンセル
    QPushButton* Button3 = nullptr; // ヘルプ(&H)
    QPushButton* Button4 = nullptr; // 標準に戻す(&D)

    // Handlers.
    void Button1Click(); // OK: writes every setting of the first three pages and the two checks
    void Button3Click(); // help at the showing page's topic
    void Button4Click(); // reset of the opener's page
    void ListBox1Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void ListView1DblClick(QTreeWidgetItem* item);
    void Button9Click();
    void Button10Click();
    void Button11Click();

private:
    QWidget* buildOptionPage();
    QWidget* buildHolderPage();
    QWidget* buildBinaryPage();
    QWidget* buildShortcutPage();
    QWidget* buildToolbarPage(QToolBar* toolBar);
    QWidget* buildSetupPage();
    void loadSettings();
    void resetHolderPage();
    void resetBinaryPage();
    void moveToolbarRow(int delta);
    // Writes one launcher file; false when it could not be written.
    bool writeLauncher(const std::filesystem::path& file, const std::string& text);
    // The folder named by a value of the current user's Shell Folders key, on disk.
    std::filesystem::path shellFolder(const char* valueName) const;

    std::unique_ptr<SettingsFile> settings_;
    Page page_;
};

} // namespace klv
