#include "gui/browse/RegBrowse.h"

#include "gui/widgets/DialogButtons.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/RegistryKeyTree.h"
#include "gui/widgets/TextBridge.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace klv {

TRegBrowse::TRegBrowse(FrameHost& form1, QWidget* parent) : QDialog(parent), form1_(form1) {
    setObjectName(QStringLiteral("RegBrowse"));
    setWindowTitle(QStringLiteral("レジストリの参照"));
    setModal(true);
    resize(360, 420);
    auto* v = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("レジストリの該当キーを選択してください"), this);
    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setUniformRowHeights(true);
    tree_ = std::make_unique<RegistryKeyTree>(TreeView1);
    Edit1 = new QLineEdit(QStringLiteral("HKEY_CLASSES_ROOT"), this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setReadOnly(true);
    Edit1->setStyleSheet(QStringLiteral("QLineEdit { background: palette(window); }"));
    const OkCancelRow row = makeOkCancelRow(this);
    Button1 = row.ok;
    Button2 = row.cancel;
    QHBoxLayout* buttons = row.layout;
    v->addWidget(Label1);
    v->addWidget(TreeView1, 1);
    v->addWidget(Edit1);
    v->addLayout(buttons);

    connect(TreeView1, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* n) { runGuarded(this, [&] { TreeView1Expanding(n); }); });
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* n, QTreeWidgetItem*) {
                if (n)
                    TreeView1Change(n);
            });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

    tree_->addRoots(form1_);
    form1_.Label10.clear();
}

TRegBrowse::~TRegBrowse() = default;

void TRegBrowse::browse(FrameHost& form1, QWidget* parent) {
    TRegBrowse dialog(form1, parent);
    dialog.exec();
}

void TRegBrowse::TreeView1Expanding(QTreeWidgetItem* node) {
    tree_->expand(node, this);
}

void TRegBrowse::TreeView1Change(QTreeWidgetItem* node) {
    Edit1->setText(RegistryKeyTree::pathOf(node));
}

void TRegBrowse::Button1Click() {
    form1_.Label10 = Edit1->text();
    chosen_ = true;
    accept();
}

void TRegBrowse::Button2Click() {
    form1_.Label10.clear();
    reject();
}

void TRegBrowse::closeEvent(QCloseEvent* e) {
    if (!chosen_)
        form1_.Label10.clear();
    QDialog::closeEvent(e);
}

} // namespace klv
