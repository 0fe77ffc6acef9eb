#include "core/orphans/OrphanScan.h"

#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryWalker.h"
#include "core/registry/Store.h"
#include "core/registry/ValueText.h"
#include "core/undo/UndoEntry.h"
#include "core/undo/UndoLog.h"

#include <algorithm>

namespace klv {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Positions are found character by character: the second byte of a double-byte character is
// never taken for a "\" or any other single-byte character.
std::size_t find(std::string_view s, std::string_view what, std::size_t from = 0) {
    return cp932Find(s, what, from);
}

std::size_t lastOf(std::string_view s, std::string_view chars) {
    std::size_t last = npos;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (isCp932Lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
            ++i;
            continue;
        }
        if (chars.find(s[i]) != npos)
            last = i;
    }
    return last;
}

// The extension: from the last "." that has no "\" or ":" after it, the dot included.
std::string_view extensionOf(std::string_view s) {
    const std::size_t at = lastOf(s, ".\\:");
    return at != npos && s[at] == '.' ? s.substr(at) : std::string_view();
}

std::string_view beforeFirst(std::string_view s, std::string_view what) {
    const std::size_t at = find(s, what);
    return at == npos ? std::string_view() : s.substr(0, at);
}

} // namespace

std::string extractTargetPath(std::string_view d) {
    std::string_view r;
    if (!d.empty() && d.front() == '"') {
        const std::size_t end = find(d, "\" ", 1);
        r = end == npos ? std::string_view() : d.substr(1, end - 1);
    } else if (find(d, " ") == npos) {
        r = d;
    } else if (find(d, " -") != npos) {
        r = beforeFirst(d, " -");
    } else if (find(d, " /") != npos) {
        r = beforeFirst(d, " /");
    } else if (find(d, " ^") != npos) {
        r = beforeFirst(d, " ^");
    } else {
        const std::size_t sep = lastOf(d, "\\:");
        const std::string_view folder = sep == npos ? std::string_view() : d.substr(0, sep);
        if (find(folder, ".") != npos) {
            r = beforeFirst(d, " ");
        } else {
            const std::size_t dot = find(d, ".");
            const std::size_t length = extensionOf(d).size();
            r = dot == npos || length == 0 ? std::string_view()
                                           : d.substr(0, std::min(d.size(), dot + length));
        }
    }
    const std::string_view e = extensionOf(r);
    if (e.empty())
        return {};
    const std::size_t at = find(r, e);
    std::string_view out = r.substr(0, std::min(r.size(), at + e.size() + 1));
    if (const std::size_t q = find(out, " \"%1\""); q != npos)
        out = out.substr(0, q);
    else if (const std::size_t p = find(out, " %1"); p != npos)
        out = out.substr(0, p);
    return std::string(out);
}

bool isTestablePath(std::string_view p, bool skipBlanks) {
    if (p.size() < 3)
        return false;
    const char c = p[0];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
        return false;
    if (find(p, ";") != npos || find(p, ",") != npos || find(p, " ^") != npos ||
        find(p, "*") != npos)
        return false;
    if (find(cp932Upper(p), "RUNDLL32") != npos)
        return false;
    if (skipBlanks && find(p, " ") != npos)
        return false;
    if (p[1] != ':' || p[2] != '\\')
        return false;
    const std::size_t sep = lastOf(p, "\\");
    return find(p.substr(sep + 1), ".") != npos;
}

PathExistence::PathExistence(DriveMap drives) : drives_(std::move(drives)) {
    for (const char letter : drives_.drives())
        if (drives_.kind(letter) == DriveKind::Fixed)
            fixedRoots_.push_back(std::string{letter, ':', '\\'});
}

bool PathExistence::exists(std::string_view windowsPath) {
    // Windows names are the same whatever their case: one answer per upper-cased path.
    std::string key = cp932Upper(windowsPath);
    if (const auto it = answers_.find(key); it != answers_.end())
        return it->second;
    std::error_code ec;
    const auto file = drives_.toLinuxPath(windowsPath);
    const bool there = file && std::filesystem::exists(*file, ec);
    answers_.emplace(std::move(key), there);
    return there;
}

namespace {

class Scan {
public:
    Scan(const OrphanOptions& o, PathExistence& files, const OrphanCallbacks& cb,
         OrphanOutcome& outcome)
        : o_(o), files_(files), cb_(cb), outcome_(outcome), scanning_(sj("ｽｷｬﾝしています: ")) {}

    bool stopped() const { return cb_.stop && *cb_.stop; }

    // False when the whole scan must end.
    bool run(TRegistry& reg, std::string_view root, const std::string& start) {
        root_ = root;
        WalkOptions options;
        options.pump = cb_.pump;
        options.stop = cb_.stop;
        options.stopAtEmptyName = true;
        const WalkResult r = walkRegistry(
            reg, start, [&](const std::string& path, const std::string&) { visit(reg, path); },
            options);
        if (r.reopenFailed) {
            outcome_.error = sj("レジストリキーのオープンエラー : ") + r.failedPath;
            return false;
        }
        return !stopped();
    }

private:
    void visit(TRegistry& reg, const std::string& path) {
        const std::string_view key =
            !path.empty() && path.front() == '\\' ? std::string_view(path).substr(1) : path;
        if (++outcome_.keys % 64 == 1 && cb_.progress)
            cb_.progress(scanning_ + std::string(root_) + "\\" + std::string(key));
        for (const RawValue& v : reg.CurrentValues()) {
            const ValueKind kind = valueKindOf(v.type);
            if (kind != ValueKind::String && kind != ValueKind::ExpandString)
                continue;
            if (stopped())
                return;
            ++outcome_.values;
            const std::string data = listedData(v);
            const std::string_view text = std::string_view(data).substr(0, data.find('\0'));
            const std::string target = extractTargetPath(text);
            if (o_.skipFloppy && !target.empty() && target.front() == o_.floppy)
                return; // the floppy drive is not touched: the key's other values wait
            if (!isTestablePath(target, o_.skipBlanks) || files_.exists(target))
                continue;
            if (!o_.anyDrive) {
                const std::string drive = cp932Upper(std::string_view(target).substr(0, 3));
                const auto& fixed = files_.fixedRoots();
                if (std::find(fixed.begin(), fixed.end(), drive) == fixed.end())
                    continue;
            }
            cb_.row({std::string(text), std::string(root_), std::string(key), listedName(v.name),
                     target, false});
        }
    }

    const OrphanOptions& o_;
    PathExistence& files_;
    const OrphanCallbacks& cb_;
    OrphanOutcome& outcome_;
    std::string scanning_;
    std::string_view root_;
};

} // namespace

OrphanOutcome scanOrphans(const OrphanOptions& options, PathExistence& files,
                          const OrphanCallbacks& callbacks, std::shared_ptr<Store> store) {
    OrphanOutcome outcome;
    if (!store)
        store = Store::system();
    Scan scan(options, files, callbacks, outcome);
    for (std::size_t i = 0; i < kOrphanRoots.size(); ++i) {
        if (!options.roots[i])
            continue;
        if (scan.stopped())
            break;
        const std::string_view root = kOrphanRoots[i];
        const std::string start =
            options.softwareOnly && root != "HKEY_CLASSES_ROOT" ? "\\Software" : "";
        TRegistry reg(store);
        reg.RootKey(kRootKeys[static_cast<std::size_t>(*rootIndexByName(root))].handle);
        if (!reg.OpenKey(start, false))
            continue;
        if (!scan.run(reg, root, start))
            break;
    }
    outcome.stopped = callbacks.stop && *callbacks.stop;
    return outcome;
}

std::size_t deleteOrphans(std::vector<OrphanRow>& rows, UndoLog& undo,
                          const std::function<void(const std::string&)>& report,
                          std::shared_ptr<Store> store) {
    if (!store)
        store = Store::system();
    std::vector<UndoEntry> entries;
    std::vector<char> removed(rows.size(), 0);
    for (std::size_t i = rows.size(); i-- > 0;) {
        const OrphanRow& row = rows[i];
        if (!row.checked)
            continue;
        TRegistry reg(store);
        const std::optional<int> root = rootIndexByName(row.root);
        bool ok = false;
        if (root) {
            reg.RootKey(kRootKeys[static_cast<std::size_t>(*root)].handle);
            if (reg.OpenKey("\\" + row.key, false)) {
                const std::optional<RawValue> raw = reg.ReadRaw(row.name);
                if (!raw) {
                    ok = true; // gone already
                } else if (reg.DeleteValue(row.name)) {
                    ok = true;
                    entries.push_back(valueDeletionEntry(row.root, "\\" + row.key, row.name, *raw));
                }
            }
        }
        if (ok)
            removed[i] = 1;
        else if (report)
            report(sj("値の削除に失敗しました。エラー報告：30-77"));
    }
    std::size_t count = 0;
    std::vector<OrphanRow> kept;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (removed[i])
            ++count;
        else
            kept.push_back(std::move(rows[i]));
    }
    rows = std::move(kept);
    // Entries in the order the deletions were made; the log takes them newest first.
    if (!entries.empty())
        undo.addAll(std::move(entries));
    return count;
}

} // namespace klv
