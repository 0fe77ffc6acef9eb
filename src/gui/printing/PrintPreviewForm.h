#pragma once
// The print preview: one page at a time, painted by the printing job itself when it is shown,
// with page buttons, three zoom modes and the page counter.
#include "core/printing/PageLayout.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace klv {

class TextPrintJob;

class TPrintPreviewForm : public QDialog {
    Q_OBJECT
public:
    // `pageStarts`: where each page begins (at least one page).
    TPrintPreviewForm(QWidget* parent, std::shared_ptr<const TextPrintJob> job,
                      std::vector<RowPosition> pageStarts);
    ~TPrintPreviewForm() override;

    // Shows the preview modally. Tests install a stand-in; nullptr restores exec().
    static int run(TPrintPreviewForm& form);
    static void setRunnerForTesting(std::function<int(TPrintPreviewForm&)> runner);

    int page() const { return page_; } // from 1
    int pageCount() const { return static_cast<int>(starts_.size()); }
    // The shown page's scale against the printer's pixels.
    double scale() const { return scale_; }

    QToolButton* SpeedButton1 = nullptr; // 先頭ページへ移動
    QToolButton* SpeedButton2 = nullptr; // ページを戻る
    QToolButton* SpeedButton3 = nullptr; // 次のページへ進む
    QToolButton* SpeedButton4 = nullptr; // 最終ページへ移動
    QToolButton* SpeedButton5 = nullptr; // プレビュー幅を画面の縦幅にあわせる
    QToolButton* SpeedButton6 = nullptr; // プレビュー幅を画面の横幅にあわせる
    QToolButton* SpeedButton7 = nullptr; // プレビュー幅を標準サイズへ戻す
    QPushButton* Button1 = nullptr;      // 閉じる(&C)
    QLabel* Label1 = nullptr;            // the page counter
    QScrollArea* ScrollBox1 = nullptr;
    QLabel* Image1 = nullptr; // the page

    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    void SpeedButton7Click();
    void Button1Click();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Zoom { FitHeight, FitWidth, Standard };
    void showPage(int page);
    void setZoom(Zoom zoom);
    void render();
    void toTopLeft();

    std::shared_ptr<const TextPrintJob> job_;
    std::vector<RowPosition> starts_;
    int page_ = 1;
    Zoom zoom_ = Zoom::FitHeight;
    double scale_ = 1;
};

} // namespace klv
