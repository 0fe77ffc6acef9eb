#pragma once
// The key tree of the browse dialog and the several-keys export: the roots the frame offers,
// subkeys read on first expansion, sorted by name, and only keys that open with full access.
#include <QString>
#include <memory>

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace klv {

class FrameHost;
class TRegistry;

class RegistryKeyTree {
public:
    explicit RegistryKeyTree(QTreeWidget* tree);
    ~RegistryKeyTree();
    RegistryKeyTree(const RegistryKeyTree&) = delete;
    RegistryKeyTree& operator=(const RegistryKeyTree&) = delete;

    // The roots up to the frame's highest; "All" in Label11 lists them all, a root's name
    // lists that root alone.
    void addRoots(const FrameHost& form1);
    // Reads a node's subkeys the first time; a key that cannot be opened with full access is
    // told over `parent` ("キーへのアクセスが拒否されました。").
    void expand(QTreeWidgetItem* node, QWidget* parent);
    // The node's key path text.
    static QString pathOf(const QTreeWidgetItem* node);

private:
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& name, bool hasChildren);

    QTreeWidget* tree_;
    std::unique_ptr<TRegistry> reg_;
};

} // namespace klv
