// klovante_bench gui: the editor window's costs on a large registry, each set against the
// store's own time for the same enumeration.
#include "BenchUtil.h"

#include "core/registry/KeyBrowser.h"
#include "core/registry/Registry.h"
#include "gui/editor/Regform.h"
#include "gui/frame/Form1.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace klv::bench {
namespace {

constexpr int kBigSubKeys = 100000;
constexpr int kBigValues = 10000;
const char* const kBigKeyName = "BenchSubKeys100k";
const char* const kValuesKeyName = "BenchValues10k";

// Adds the two big keys below HKEY_LOCAL_MACHINE when they are missing.
void ensureBigKeys(Store& store) {
    const KeyId hklm = Store::rootId(2);
    Store::Transaction txn(store);
    if (!store.child(hklm, kBigKeyName)) {
        const KeyId big = store.createChild(hklm, StoredName{kBigKeyName, false});
        char name[32];
        for (int i = 0; i < kBigSubKeys; ++i) {
            std::snprintf(name, sizeof name, "Sub%06d", i);
            const KeyId k = store.createChild(big, StoredName{name, false});
            if (i % 10 == 0) // some of them have a subkey of their own
                store.createChild(k, StoredName{"Child", false});
            if ((i & 0x3FFF) == 0)
                store.refresh();
        }
    }
    if (!store.child(hklm, kValuesKeyName)) {
        const KeyId k = store.createChild(hklm, StoredName{kValuesKeyName, false});
        char name[32];
        for (int i = 0; i < kBigValues; ++i) {
            std::snprintf(name, sizeof name, "Value%05d", i);
            RawValue v{StoredName{name, false}, i % 2 ? REG_SZ : REG_DWORD, {}, false};
            v.data = i % 2 ? std::string("some text ") + name + '\0'
                           : std::string("\x01\x02\x03\x04", 4);
            store.setValue(k, v);
        }
    }
    txn.commit();
}

QTreeWidgetItem* childNamed(QTreeWidgetItem* n, const char* name) {
    for (int i = 0; i < n->childCount(); ++i)
        if (n->child(i)->text(0) == QString::fromLatin1(name))
            return n->child(i);
    return nullptr;
}

} // namespace

int runGui(const Args& args) {
    const BenchFolders folders = benchFolders(args, "gui");
    const auto& file = folders.store;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    {
        auto store = Store::open(file, Store::Options{false, false});
        ensureBigKeys(*store);
    }
    int argc = 1;
    char arg0[] = "klovante_bench";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);

    // Start to the first window shown.
    Stopwatch startWatch;
    TForm1 form({});
    form.show();
    QApplication::processEvents();
    const double startSeconds = startWatch.seconds();
    if (form.editorWindows().empty())
        throw std::runtime_error("no editor window opened");
    TRegform& editor = *form.editorWindows().front();
    QTreeWidgetItem* hklm = editor.TreeView1->topLevelItem(2);
    hklm->setExpanded(true);

    // Expanding the key with 100,000 subkeys, against the store listing and probing them.
    TRegistry& probe = *new TRegistry(); // the same shared connection as the window's
    std::unique_ptr<TRegistry> owner(&probe);
    const std::string bigPath = std::string("\\") + kBigKeyName;
    probe.store().dropCache();
    Stopwatch storeExpandWatch;
    const SubKeyListing listing = listSubKeysForTree(probe, HKEY_LOCAL_MACHINE_H, bigPath);
    const double storeExpand = storeExpandWatch.seconds();
    QTreeWidgetItem* big = childNamed(hklm, kBigKeyName);
    if (!big)
        throw std::runtime_error("the big key is not in the tree");
    probe.store().dropCache();
    Stopwatch expandWatch;
    big->setExpanded(true);
    QApplication::processEvents();
    const double expandSeconds = expandWatch.seconds();

    // Selecting the key with 10,000 values, against the store reading its rows.
    const std::string valuesPath = std::string("\\") + kValuesKeyName;
    probe.store().dropCache();
    Stopwatch storeSelectWatch;
    const ValueListing values = listValuesForList(probe, HKEY_LOCAL_MACHINE_H, valuesPath);
    const double storeSelect = storeSelectWatch.seconds();
    QTreeWidgetItem* many = childNamed(hklm, kValuesKeyName);
    if (!many)
        throw std::runtime_error("the values key is not in the tree");
    probe.store().dropCache();
    Stopwatch selectWatch;
    editor.TreeView1->setCurrentItem(many);
    QApplication::processEvents();
    const double selectSeconds = selectWatch.seconds();

    std::printf("start to first window: %.3f s\n", startSeconds);
    std::printf("expand %zu subkeys: %.3f s (store alone %.3f s, ratio %.2f)\n",
                listing.subKeys.size(), expandSeconds, storeExpand, expandSeconds / storeExpand);
    std::printf("select key with %d values: %.3f s (store alone %.3f s, ratio %.2f)\n",
                editor.ValueModel->rowCount(), selectSeconds, storeSelect,
                selectSeconds / storeSelect);
    std::printf("tree children: %d, value rows read by the store: %zu\n", big->childCount(),
                values.rows.size());
    std::printf("peak memory: %.0f MiB\n", peakMemoryMiB());
    std::printf("expand/store ratio: %.2f\n", expandSeconds / storeExpand);
    form.close();
    std::filesystem::remove_all(folders.home);
    return 0;
}

} // namespace klv::bench
