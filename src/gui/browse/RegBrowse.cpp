#include "gui/browse/RegBrowse.h"

#include "core/registry/KeyBrowser.h"
#include "gui/widgets/DialogButtons.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/MenuItems.h"
#include "gui/widgets/TextBridge.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace klv {
namespace {
constexpr int kLoadedRole = Qt::UserRole;
constexpr int kRootRole = Qt::UserRole + 1;
} // namespace

TRegBrowse::TRegBrowse(FrameHost& form1, QWidget* parent)
    : QDialog(parent), form1_(form1), reg_(std::make_unique<TRegistry>()) {
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

    // "All" lists every root up to the frame's highest; a root name lists that root alone.
    const QString only = form1_.Label11;
    for (int i = 0; i < std::min(form1_.rootCount(), kRootKeyCount); ++i) {
        const RootKeyEntry& root = kRootKeys[static_cast<std::size_t>(i)];
        const QString name = toQString(root.name);
        if (only != QStringLiteral("All") && only != name)
            continue;
        QTreeWidgetItem* n = addNode(nullptr, name, true);
        n->setData(0, kRootRole, static_cast<qulonglong>(root.handle));
    }
    form1_.Label10.clear();
}

TRegBrowse::~TRegBrowse() = default;

void TRegBrowse::browse(FrameHost& form1, QWidget* parent) {
    TRegBrowse dialog(form1, parent);
    dialog.exec();
}

QTreeWidgetItem* TRegBrowse::addNode(QTreeWidgetItem* parent, const QString& name,
                                     bool hasChildren) {
    auto* n = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
    n->setText(0, name);
    n->setIcon(0, ImageLists::treeImage(0));
    n->setChildIndicatorPolicy(hasChildren ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    return n;
}

QString TRegBrowse::pathOf(const QTreeWidgetItem* node) const {
    QString path;
    for (; node->parent(); node = node->parent())
        path.prepend(QLatin1Char('\\') + node->text(0));
    return node->text(0) + path;
}

void TRegBrowse::TreeView1Expanding(QTreeWidgetItem* node) {
    if (node->data(0, kLoadedRole).toBool())
        return;
    node->setData(0, kLoadedRole, true);
    const QTreeWidgetItem* top = node;
    while (top->parent())
        top = top->parent();
    const auto root = static_cast<RootHandle>(top->data(0, kRootRole).toULongLong());
    const QString path = pathOf(node);
    const auto sub = toCp932(path.mid(top->text(0).size()));
    // The dialog offers keys that can be opened with full access only.
    const SubKeyListing listing = sub ? listSubKeysForTree(*reg_, root, *sub) : SubKeyListing{};
    if (!listing.opened || listing.readOnly) {
        showError(this, QStringLiteral("キーへのアクセスが拒否されました。"));
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        return;
    }
    for (const SubKeyEntry& e : listing.subKeys)
        addNode(node, toQString(e.name), e.hasSubKeys);
    node->setChildIndicatorPolicy(node->childCount() > 0
                                      ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TRegBrowse::TreeView1Change(QTreeWidgetItem* node) {
    Edit1->setText(pathOf(node));
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
