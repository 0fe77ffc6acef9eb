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

const char* const kNotWritable = "このキーへの書き込みは許可されていません";
const char* const kNoAccess = "このキーにはアクセスできません";

// Applies the requests of one file inside the caller's transaction.
class Applier final : public RegFileSink {
public:
    Applier(Store& store, const ImportOptions& options, ImportReport& report)
        : s_(store), options_(options), report_(report) {}

    void atLine(int line) override { line_ = line; }

    void openKey(const RegKeyPath& path) override {
        safePoint();
        ++report_.keys;
        currentText_ = keyText(path);
        reported_ = false;
        current_.reset();
        // Naming a key that may not be written is no write yet: only what goes into it is
        // refused.
        if (const std::optional<KeyId> id = followPath(path)) {
            current_ = *id;
            refusal_ = s_.key(*id)->access == KeyAccess::Full       ? nullptr
                       : s_.key(*id)->access == KeyAccess::ReadOnly ? kNotWritable
                                                                    : kNoAccess;
        }
    }

    void deleteKey(const RegKeyPath& path) override {
        safePoint();
        current_.reset();
        refusal_ = nullptr;
        reported_ = true; // value lines after a deletion are errors of the reader
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
        removeTree(id, keyText(path));
    }

    void setValue(const RawValue& value) override {
        safePoint();
        if (!writable())
            return;
        s_.setValue(*current_, value);
        ++report_.values;
    }

    void deleteValue(const StoredName& name) override {
        safePoint();
        if (!writable())
            return;
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

    // Whether the current key takes writes; a key that does not is reported once per section.
    bool writable() {
        if (current_ && !refusal_)
            return true;
        if (!reported_)
            refuse(currentText_, refusal_ ? refusal_ : kNotWritable);
        reported_ = true;
        return false;
    }

    void refuse(const std::string& key, const char* utf8Reason) {
        report_.refused.push_back(RefusedKey{key, line_, sj(utf8Reason)});
    }

    // The key of a path, created with its missing parents; nullopt (and the key refused) when
    // a missing key would have to be created below one that may not be written. A file lists
    // keys in tree order, so the path shared with the previous key is not looked up again.
    std::optional<KeyId> followPath(const RegKeyPath& path) {
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
            std::optional<KeyId> next = s_.child(id, path.components[i]);
            if (!next) {
                const KeyAccess parent = s_.key(id)->access;
                if (parent != KeyAccess::Full) {
                    refuse(currentText_, parent == KeyAccess::ReadOnly ? kNotWritable : kNoAccess);
                    reported_ = true;
                    return std::nullopt;
                }
                next = s_.createChild(id, path.components[i]);
            }
            id = *next;
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

    // Deletes as much of the tree as may be deleted: a key that may not be written stays (and
    // is refused), and so do the keys above it. Subkeys of a read-only key can still go.
    bool removeTree(KeyId id, const std::string& text) {
        const KeyAccess access = s_.key(id)->access;
        if (access == KeyAccess::None) {
            refuse(text, kNoAccess);
            return false;
        }
        bool all = true;
        const std::vector<KeyId> children = s_.children(id); // a copy: deleting changes it
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            all = removeTree(*it, text + "\\" + listedName(s_.key(*it)->name)) && all;
        if (access != KeyAccess::Full) {
            refuse(text, kNotWritable);
            return false;
        }
        if (!all)
            return false;
        s_.deleteKey(id);
        ++report_.deletedKeys;
        return true;
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
    int line_ = 0;
    std::optional<KeyId> current_;
    const char* refusal_ = nullptr; // why the current key takes no writes
    bool reported_ = false;         // the current section's refusal is in the report
    std::string currentText_;
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
