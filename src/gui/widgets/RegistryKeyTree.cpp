#include "gui/widgets/RegistryKeyTree.h"

#include "core/registry/KeyBrowser.h"
#include "core/registry/Registry.h"
#include "core/registry/RootKeys.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/ImageLists.h"
#include "gui/widgets/TextBridge.h"

#include <QTreeWidget>
#include <algorithm>

namespace klv {
namespace {
constexpr int kLoadedRole = Qt::UserRole;
constexpr int kRootRole = Qt::UserRole + 1;
} // namespace

RegistryKeyTree::RegistryKeyTree(QTreeWidget* tree)
    : tree_(tree), reg_(std::make_unique<TRegistry>()) {}

RegistryKeyTree::~RegistryKeyTree() = default;

void RegistryKeyTree::addRoots(const FrameHost& form1) {
    const QString only = form1.Label11;
    for (int i = 0; i < std::min(form1.rootCount(), kRootKeyCount); ++i) {
        const RootKeyEntry& root = kRootKeys[static_cast<std::size_t>(i)];
        const QString name = toQString(root.name);
        if (only != QStringLiteral("All") && only != name)
            continue;
        QTreeWidgetItem* n = addNode(nullptr, name, true);
        n->setData(0, kRootRole, static_cast<qulonglong>(root.handle));
    }
}

QTreeWidgetItem* RegistryKeyTree::addNode(QTreeWidgetItem* parent, const QString& name,
                                          bool hasChildren) {
    auto* n = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
    n->setText(0, name);
    n->setIcon(0, ImageLists::treeImage(ImageLists::TreeKeyClosed));
    n->setChildIndicatorPolicy(hasChildren ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    return n;
}

QString RegistryKeyTree::pathOf(const QTreeWidgetItem* node) {
    QString path;
    for (; node->parent(); node = node->parent())
        path.prepend(QLatin1Char('\\') + node->text(0));
    return node->text(0) + path;
}

void RegistryKeyTree::expand(QTreeWidgetItem* node, QWidget* parent) {
    if (node->data(0, kLoadedRole).toBool())
        return;
    node->setData(0, kLoadedRole, true);
    const QTreeWidgetItem* top = node;
    while (top->parent())
        top = top->parent();
    const auto root = static_cast<RootHandle>(top->data(0, kRootRole).toULongLong());
    const auto sub = toCp932(pathOf(node).mid(top->text(0).size()));
    SubKeyListing listing;
    if (sub) {
        try {
            listing = listSubKeysForTree(*reg_, root, *sub);
        } catch (const std::exception&) {
            listing.opened = false; // a store that cannot be read: as a key that cannot be opened
        }
    }
    // Only keys that can be opened with full access are offered.
    if (!listing.opened || listing.readOnly) {
        showError(parent, QStringLiteral("キーへのアクセスが拒否されました。"));
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        return;
    }
    for (const SubKeyEntry& e : listing.subKeys)
        addNode(node, toQString(e.name), e.hasSubKeys);
    node->setChildIndicatorPolicy(node->childCount() > 0
                                      ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

} // namespace klv
