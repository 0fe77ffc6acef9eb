#pragma once
// The registry browse dialog: the user picks a key from a lazily loaded tree. Tools set the
// frame's Label11 ("All" or a root name) and read the chosen path from Label10.
#include <QDialog>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace klv {

class FrameHost;
class RegistryKeyTree;

class TRegBrowse : public QDialog {
    Q_OBJECT
public:
    explicit TRegBrowse(FrameHost& form1, QWidget* parent = nullptr);
    ~TRegBrowse() override;

    // Shows the dialog modally; Label10 holds the chosen path afterwards, or is empty.
    static void browse(FrameHost& form1, QWidget* parent);

    QLabel* Label1 = nullptr;
    QTreeWidget* TreeView1 = nullptr;
    QLineEdit* Edit1 = nullptr;     // the path of the selected node
    QPushButton* Button1 = nullptr; // OK
    QPushButton* Button2 = nullptr; // キャンセル

    void TreeView1Expanding(QTreeWidgetItem* node);
    void TreeView1Change(QTreeWidgetItem* node);
    void Button1Click();
    void Button2Click();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    FrameHost& form1_;
    std::unique_ptr<RegistryKeyTree> tree_;
    bool chosen_ = false;
};

} // namespace klv
