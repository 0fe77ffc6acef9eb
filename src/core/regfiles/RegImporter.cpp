#include "core/regfiles/RegImporter.h"

#include "core/platform/Encoding.h"
#include "core/platform/MappedFile.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegFileReader.h"
#include "core/regfiles/RegFileSink.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RootKeys.h"

#include <optional>
#include <vector>

namespace klv {
namespace {

constexpr std::uint64_t kRequestsPerSafePoint = 4096;

// Applies the requests of one file inside the caller's transaction.
class Applier final : public RegFileSink {
public:
    Applier(Store& store, const ImportOptions& options, ImportReport& report)
        : s_(store), options_(options), report_(report) {}

    void openKey(const RegKeyPath& path) override {
        safePoint();
        ++report_.keys;
        KeyId id = followPath(path);
        const KeyRecord* k = s_.key(id);
        if (k->access == KeyAccess::ReadOnly)
            throw StoreError(sj("このキーへの書き込みは許可されていません"), keyText(path));
        if (k->access == KeyAccess::None)
            throw StoreError(sj("このキーにはアクセスできません"), keyText(path));
        current_ = id;
    }

    void deleteKey(const RegKeyPath& path) override {
        safePoint();
        current_.reset();
        KeyId id = Store::rootId(path.root);
        for (const StoredName& n : path.components) {
            const auto child = s_.child(id, n);
            if (!child)
                return; // nothing to delete
            id = *child;
        }
        // The remembered path may name keys that are about to go.
        root_ = -1;
        ids_.clear();
        names_.clear();
        removeTree(id);
    }

    void setValue(const RawValue& value) override {
        safePoint();
        s_.setValue(*current_, value);
        ++report_.values;
    }

    void deleteValue(const StoredName& name) override {
        safePoint();
        if (s_.deleteValue(*current_, name))
            ++report_.deletedValues;
    }

private:
    void safePoint() {
        if (++requests_ % kRequestsPerSafePoint != 0)
            return;
        s_.refresh(); // only key ids are held here
        if (options_.pump)
            options_.pump();
        if (options_.stop && *options_.stop)
            throw StoreError(sj("取り込みを中止しました"));
    }

    // The key of a path, created with its missing parents. A file lists keys in tree order, so
    // the path shared with the previous key is not looked up again.
    KeyId followPath(const RegKeyPath& path) {
        if (path.root != root_) {
            root_ = path.root;
            ids_.clear();
            names_.clear();
        }
        std::size_t same = 0;
        while (same < names_.size() && same < path.components.size() &&
               sameName(names_[same], path.components[same]))
            ++same;
        ids_.resize(same);
        names_.resize(same);
        KeyId id = same == 0 ? Store::rootId(root_) : ids_.back();
        for (std::size_t i = same; i < path.components.size(); ++i) {
            id = s_.createChild(id, path.components[i]);
            ids_.push_back(id);
            names_.push_back(path.components[i]);
        }
        return id;
    }

    static bool sameName(const StoredName& a, const StoredName& b) {
        if (a.wide == b.wide && a.bytes == b.bytes)
            return true;
        return foldName(a) == foldName(b);
    }

    void removeTree(KeyId id) {
        const std::vector<KeyId> children = s_.children(id); // a copy: deleting changes it
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            removeTree(*it);
        s_.deleteKey(id);
        ++report_.deletedKeys;
    }

    static std::string keyText(const RegKeyPath& path) {
        std::string t(kRootKeys[static_cast<std::size_t>(path.root)].name);
        for (const StoredName& n : path.components)
            t += "\\" + listedName(n);
        return t;
    }

    Store& s_;
    const ImportOptions& options_;
    ImportReport& report_;
    std::optional<KeyId> current_;
    std::uint64_t requests_ = 0;
    int root_ = -1;
    std::vector<KeyId> ids_;        // the keys of the last path, below the root
    std::vector<StoredName> names_; // their names as the file gave them
};

} // namespace

RegImporter::RegImporter(Store& store, ImportOptions options)
    : store_(store), options_(std::move(options)) {}

ImportReport RegImporter::importFile(const std::filesystem::path& file) {
    const MappedFile mapped(file);
    return importBytes(mapped.bytes(), pathText(file));
}

ImportReport RegImporter::importBytes(std::string_view bytes, const std::string& displayName) {
    ImportReport report;
    try {
        Store::Transaction txn(store_);
        Applier applier(store_, options_, report);
        report.form = RegFileReader(options_.rootCount).read(bytes, applier);
        txn.commit();
    } catch (const RegFileError& e) {
        throw e.inFile(displayName);
    } catch (const RegistryError& e) {
        // The store refused the transaction itself (read-only file, full disk at commit).
        throw RegFileError(displayName, 0, e.fullText());
    }
    return report;
}

} // namespace klv
