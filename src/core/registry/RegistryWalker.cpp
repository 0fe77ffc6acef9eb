#include "core/registry/RegistryWalker.h"

#include "core/platform/Encoding.h"

#include <vector>

namespace klv {
namespace {

struct Walk {
    TRegistry& reg;
    const std::function<void(const std::string&, const std::string&)>& visit;
    const WalkOptions& opt;
    WalkResult result;
    // The path of the key being walked as the caller spells it, grown and cut back as the walk
    // goes down and up.
    std::string path;
    std::vector<KeyId> ids; // the subkeys of each level, one after another

    bool stopped() {
        if (opt.stop && *opt.stop)
            result.stopped = true;
        return result.stopped;
    }

    // The path without its leading backslash, as the access object keeps it.
    std::string_view plain() const {
        std::string_view p = path;
        if (!p.empty() && p.front() == '\\')
            p.remove_prefix(1);
        return p;
    }

    bool failReopen() {
        result.reopenFailed = true;
        result.failedPath = !path.empty() && path.front() == '\\' ? path : "\\" + path;
        return false;
    }

    // Back on the parent, by its id: moving by ids resolves no path at all.
    bool reopen(KeyId parent) {
        return reg.OpenKeyById(parent, plain(), opt.anyAccess) || failReopen();
    }

    // After each subkey the parent must still be there, as when it is opened again; the next
    // subkey opens by its id, so the access object itself goes back only once the level is
    // done.
    bool parentStillThere(KeyId parent) {
        Store& store = reg.store();
        store.refresh();
        return store.key(parent) != nullptr || failReopen();
    }

    // The access object is on `self`; returns false when the whole walk must end.
    bool walk(KeyId self) {
        Store& store = reg.store();
        const std::size_t len = path.size();
        // The list as it is now: keys deleted meanwhile are skipped, as an enumeration does.
        const std::size_t first = ids.size();
        const std::vector<KeyId>& now = store.children(self);
        ids.insert(ids.end(), now.begin(), now.end());
        const std::size_t last = ids.size();
        for (std::size_t i = first; i < last; ++i) {
            // When the store dropped its cache meanwhile, listing again reads the remaining
            // siblings in one query instead of one query each.
            const KeyRecord* r = store.cachedKey(ids[i]);
            if (!r) {
                store.children(self);
                r = store.key(ids[i]);
            }
            // A name that CP932 cannot hold is listed with "〓" and cannot be opened by it.
            const bool openable = r && !r->name.wide;
            if (opt.stopAtEmptyName && r && r->name.bytes.empty())
                break;
            if (stopped())
                return false;
            if (opt.pump)
                opt.pump();
            if (openable) {
                const std::string name = r->name.bytes; // `r` may not outlive the next call
                path += '\\';
                path += name;
                if (reg.OpenKeyById(ids[i], plain(), opt.anyAccess)) {
                    visit(path, name);
                    if (stopped())
                        return false;
                    if (reg.KeyHasSubKeys() && !walk(ids[i]))
                        return false;
                }
                path.resize(len);
            }
            if (stopped() || !parentStillThere(self))
                return false;
            store.forget(ids[i]); // its subtree is done with
        }
        ids.resize(first);
        return first == last || reopen(self);
    }
};

} // namespace

namespace {
// The start path without its trailing backslash (a single one names the same key), so that
// the paths built below it never hold an empty component. The trail byte 0x5C of a
// double-byte character is no separator.
std::string withoutTrailingSeparator(const std::string& path) {
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < path.size();) {
        last = i;
        i += isCp932Lead(static_cast<unsigned char>(path[i])) && i + 1 < path.size() ? 2 : 1;
    }
    if (last != std::string::npos && path[last] == '\\' && last + 1 == path.size())
        return path.substr(0, last);
    return path;
}
} // namespace

WalkResult walkRegistry(TRegistry& reg, const std::string& subPath,
                        const std::function<void(const std::string&, const std::string&)>& visit,
                        const WalkOptions& options) {
    Walk w{reg, visit, options, {}, withoutTrailingSeparator(subPath), {}};
    Store::ReadSnapshot snapshot(reg.store());
    if (const std::optional<KeyId> start = reg.CurrentKeyId())
        w.walk(*start);
    return w.result;
}

} // namespace klv
