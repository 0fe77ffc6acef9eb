#pragma once
// The search dialog, in search or replace mode: it reads the request from its controls, keeps
// the histories and options in the settings file, runs the core's search with a pump that
// keeps the windows alive, and fills a new results window.
#include "core/search/SearchEngine.h"

#include <QDialog>
#include <QPointer>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimeEdit;
class QToolButton;

namespace klv {

class FrameHost;
class TSearchResult;

class TSearchForm : public QDialog {
    Q_OBJECT
public:
    TSearchForm(FrameHost& frame, bool replaceMode, QWidget* parent = nullptr);
    ~TSearchForm() override;

    // Presets: the scope "under one key" with this key path text.
    void presetStartKey(const QString& keyPath);
    void presetSearchText(const QString& text);

    bool running() const { return running_; }
    // The results window of the last search (null once closed).
    TSearchResult* lastResult() const;

    // Controls, by their component names.
    QLabel* Label1 = nullptr;       // 検索する値(&N) :
    QComboBox* ComboBox1 = nullptr; // search text and its history
    QLabel* Label2 = nullptr;       // 置換する値(&C) :
    QComboBox* ComboBox2 = nullptr; // replacement text and its history
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;         // 検索範囲
    QWidget* TabSheet2 = nullptr;         // 複数の検索範囲
    QWidget* TabSheet3 = nullptr;         // 検索対象
    QWidget* TabSheet4 = nullptr;         // 検索除外の指定
    QRadioButton* RadioButton1 = nullptr; // すべて検索
    QRadioButton* RadioButton2 = nullptr; // 指定したキー以下を検索
    QRadioButton* RadioButton3 = nullptr; // 指定した複数のキー以下を検索
    QCheckBox* RootBoxes[6] = {};         // HKEY_CLASSES_ROOT .. HKEY_DYN_DATA
    QCheckBox* CheckBox7 = nullptr;       // Software only
    QPlainTextEdit* Memo1 = nullptr;      // the start key
    QToolButton* SpeedButton1 = nullptr;  // browse for the start key
    QLineEdit* Edit1 = nullptr;           // a key to add to the several keys
    QToolButton* SpeedButton2 = nullptr;
    QPushButton* Button4 = nullptr; // 検索範囲に追加
    QListWidget* ListBox1 = nullptr;
    QPushButton* Button5 = nullptr;       // 検索範囲から削除
    QToolButton* ToolButton1 = nullptr;   // キー
    QToolButton* ToolButton2 = nullptr;   // 名前
    QToolButton* ToolButton3 = nullptr;   // 文字列のデータ
    QToolButton* ToolButton4 = nullptr;   // 数値のデータ
    QCheckBox* CheckBox8 = nullptr;       // whole match
    QCheckBox* CheckBox9 = nullptr;       // ignore case
    QCheckBox* CheckBox10 = nullptr;      // hexadecimal numbers
    QCheckBox* CheckBox11 = nullptr;      // last-write filter
    QLabel* Label5 = nullptr;             // 年月日
    QDateEdit* DateTimePicker1 = nullptr; // the filter's date
    QLabel* Label6 = nullptr;             // 時間
    QTimeEdit* DateTimePicker2 = nullptr; // the filter's time
    QRadioButton* RadioButton4 = nullptr; // 以前
    QRadioButton* RadioButton5 = nullptr; // と同じ
    QRadioButton* RadioButton6 = nullptr; // 以後
    QLineEdit* Edit2 = nullptr;           // an exclusion to add
    QToolButton* SpeedButton3 = nullptr;
    QPushButton* Button6 = nullptr; // 追加
    QListWidget* ListBox2 = nullptr;
    QPushButton* Button7 = nullptr; // 削除
    QLabel* Label9 = nullptr;       // progress: keys walked, current key
    QPushButton* Button1 = nullptr; // 検索(&F)
    QPushButton* Button2 = nullptr; // 検索をキャンセル(&C)
    QPushButton* Button3 = nullptr; // 閉じる(&E)

    // Handlers.
    void Button1Click();              // search
    void Button2Click();              // stop
    void Button3Click();              // close
    void Button4Click();              // add a start key
    void Button5Click();              // remove a start key
    void Button6Click();              // add an exclusion
    void Button7Click();              // remove an exclusion
    void SpeedButtonClick(int which); // browse: 1 start key, 2 key to add, 3 exclusion
    void RadioButtonClick();          // the scope changed
    void ToolButtonClick(QToolButton* button);

    void done(int result) override;

private:
    QWidget* buildScopePage();
    QWidget* buildKeysPage();
    QWidget* buildTargetPage();
    QWidget* buildExclusionPage();
    void readSettings();
    void writeOptions();
    void setRunning(bool on);
    void updateHexBox();
    bool validate();
    // The request as the controls give it; nullopt (after a message) when a text cannot be kept.
    std::optional<SearchRequest> readRequest();
    void pushHistory(QComboBox* box, const QString& text);
    TSearchResult* openResults(const SearchRequest& request);
    void finishSearch(const SearchOutcome& outcome);

    FrameHost& frame_;
    bool replaceMode_;
    bool ntFamily_;
    bool running_ = false;        // the buttons' state
    bool walking_ = false;        // the walk is on the stack (it unwinds after a stop)
    bool closeRequested_ = false; // closed during the walk: close once it has unwound
    bool stop_ = false;
    QPointer<TSearchResult> result_;
};

} // namespace klv
