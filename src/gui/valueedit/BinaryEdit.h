#pragma once
// The binary editor: the hex view, its edit menu and status line.
#include "gui/valueedit/HexEditor.h"
#include "gui/valueedit/ValueDialog.h"

class QMenu;

namespace klv {

class TBinaryEdit : public ValueDialog {
    Q_OBJECT
public:
    TBinaryEdit(FrameHost& form1, QWidget* parent = nullptr);
    void setData(std::string_view bytes);
    // The hex text read as bytes.
    void setDataText(const QString& text) override;

    THexEditor* HexEditor1 = nullptr;
    QLabel* StatusBar1 = nullptr;
    QPushButton* Button3 = nullptr; // 編集メニュー
    QMenu* EditMenu = nullptr;

    void CutClick();
    void CopyClick();
    void PasteClick();              // the clipboard's text read as hex
    void PasteTextClick();          // the clipboard's text as bytes
    void OpenClick();               // 開く(&O): a file's bytes
    void SaveClick(bool asHexText); // 名前をつけて保存(&S)

protected:
    void showEvent(QShowEvent* e) override;
    void done(int result) override;
    std::optional<ValueEdit> edit() override;
    void fillResults(const ValueEdit& e) override;

private:
    void showState();
};

} // namespace klv
