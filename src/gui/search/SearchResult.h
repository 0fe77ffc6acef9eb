#pragma once
// The results window of one search: the hit rows with their check boxes, ticking by kind, the
// jump to a hit, the deletion of the ticked keys and values and, after a replace-mode search,
// the replacement. The runs themselves are HitActions in the core.
#include "core/search/HitActions.h"
#include "core/search/SearchEngine.h"

#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolBar;
class QTreeView;

namespace klv {

class FrameHost;
class HitTableModel;
class UndoLog;

class TSearchResult : public QWidget {
    Q_OBJECT
public:
    // request: texts CP932; replaceMode decides the panel, columns 7/8 and sorting.
    TSearchResult(FrameHost& frame, const SearchRequest& request, QWidget* parent = nullptr);
    ~TSearchResult() override;

    void setProgressLines(const QString& first, const QString& second); // the top band's lines
    void setAnimationRunning(bool on);
    void hideProgressBand();
    void appendHits(std::vector<SearchHit>&& hits); // during the walk, in batches
    std::vector<SearchHit>& rows(); // after the walk the dialog filters and ticks them...
    void rowsChanged();             // ...and then calls this

    bool replaceMode() const { return request_.replaceMode; }

    // Controls, by their component names.
    QWidget* Panel1 = nullptr; // top band: animation and two lines
    QLabel* Animate1 = nullptr;
    QLabel* Label1 = nullptr; // first line
    QLabel* Label2 = nullptr; // second line
    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton1 = nullptr; // ﾁｪｯｸを入れる
    QComboBox* ComboBox1 = nullptr; // チェックを入れる種類
    QAction* ToolButton2 = nullptr; // ﾁｪｯｸを外す
    QAction* ToolButton3 = nullptr; // 削除する
    QCheckBox* CheckBox1 = nullptr; // サブキーごと削除する
    QAction* ToolButton4 = nullptr; // 閉じる
    QWidget* Panel2 = nullptr;      // replace panel
    QLabel* Label7 = nullptr;       // the replacement text
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLabel* Label9 = nullptr;       // first choice: before
    QLabel* Label10 = nullptr;      // first choice: after
    QLabel* Label11 = nullptr;      // second choice: before
    QLabel* Label12 = nullptr;      // second choice: after
    QPushButton* Button1 = nullptr; // 置換開始(&S)
    QTreeView* ListView1 = nullptr;

    // Handlers.
    void ToolButton1Click(); // tick the chosen kind
    void ToolButton2Click(); // untick all
    void ToolButton3Click(); // delete the ticked rows' keys and values
    void ToolButton4Click(); // close
    void Button1Click();     // replace
    void ListView1Click(int row);
    void ListView1DblClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildBand();
    QToolBar* buildToolBar();
    QWidget* buildReplacePanel();
    void setUpList();
    void showPreviewLine(QLabel* label, const std::string& cp932Line);
    void advanceAnimation();

    FrameHost& frame_;
    SearchRequest request_;
    std::vector<SearchHit> rows_;
    HitTableModel* model_ = nullptr;
    HitActions actions_;
    QTimer* animationTimer_ = nullptr;
    int animationFrame_ = 0;
    bool busy_ = false; // a run is going on: the window stays open
};

} // namespace klv
