#include "core/wine/WinePrefix.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"
#include "core/platform/TimeText.h"
#include "core/registry/RegistryError.h"
#include "core/registry/SqlStatement.h"
#include "core/wine/WineSplice.h"
#include "core/wine/WineTree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace klv::wine {
namespace fs = std::filesystem;

namespace {

constexpr int kHklm = 2;
constexpr int kHkcr = 0;
constexpr int kHkcu = 1;
constexpr int kHku = 3;
constexpr int kHkcc = 4;
constexpr int kHkdd = 5;
constexpr std::size_t kBackupsKept = 10;
constexpr std::size_t kSpliceLimit = 20000; // changed keys a write-back splices into a file
constexpr std::u16string_view kDefaultUserPath = u"\\User\\S-1-5-21-0-0-0-1000";
constexpr std::u16string_view kDefaultUserDefPath = u"\\User\\.Default";
constexpr std::u16string_view kMachinePath = u"\\Machine";

// The files' state as last read or written, kept in the store so that every process that
// opens the prefix agrees on it. disk: hash of the file's bytes (0: no file); text: hash of
// the file the store's tree gave then (a difference now means changes not yet written back).
const char* const kTables = R"sql(
CREATE TABLE IF NOT EXISTS wine_files(
    name     TEXT PRIMARY KEY,
    disk     INTEGER NOT NULL,
    text     INTEGER NOT NULL,
    relative BLOB NOT NULL,
    arch     TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS wine_keys(
    id    INTEGER PRIMARY KEY,
    class BLOB,
    link  INTEGER NOT NULL DEFAULT 0);
INSERT OR IGNORE INTO meta(name, value) VALUES('wine_changes', 0);
INSERT OR IGNORE INTO meta(name, value) VALUES('wine_synced', -1);
)sql";

// Every change of the registry, by any process, counts; while the count is the one of the last
// time the files and the store agreed, nothing needs writing and nothing is read to find out.
// Each changed key is noted (1: its lines, 2: its subkeys, 4: made since) with the count, so
// that a write-back rewrites only those keys' lines.
struct Trigger {
    const char* name;
    const char* event;
    const char* marks; // rows of (key, how)
};
constexpr Trigger kTriggers[] = {
    {"wine_key_added", "INSERT ON keys",
     "SELECT NEW.id AS k, 5 AS h UNION ALL SELECT NEW.parent, 3"},
    {"wine_key_changed", "UPDATE ON keys", "SELECT NEW.id AS k, 1 AS h"},
    {"wine_key_deleted", "DELETE ON keys", "SELECT OLD.parent AS k, 3 AS h"},
    {"wine_value_added", "INSERT ON vals", "SELECT NEW.key AS k, 1 AS h"},
    {"wine_value_changed", "UPDATE ON vals", "SELECT NEW.key AS k, 1 AS h"},
    {"wine_value_deleted", "DELETE ON vals", "SELECT OLD.key AS k, 1 AS h"},
};

std::string countChangesSql() {
    std::string sql = "CREATE TABLE IF NOT EXISTS wine_dirty(id INTEGER PRIMARY KEY, "
                      "how INTEGER NOT NULL, seq INTEGER NOT NULL);\n";
    for (const Trigger& t : kTriggers)
        sql += std::string("CREATE TRIGGER IF NOT EXISTS ") + t.name + " AFTER " + t.event +
               " BEGIN UPDATE meta SET value = value + 1 WHERE name = 'wine_changes'; "
               "INSERT INTO wine_dirty(id, how, seq) SELECT k, h, "
               "(SELECT value FROM meta WHERE name = 'wine_changes') FROM (" +
               t.marks +
               ") WHERE true ON CONFLICT(id) DO UPDATE SET how = how | excluded.how, "
               "seq = excluded.seq; END;\n";
    return sql;
}

// A bulk load counts as one change, not one per row.
std::string stopCountingSql() {
    std::string sql;
    for (const Trigger& t : kTriggers)
        sql += std::string("DROP TRIGGER IF EXISTS ") + t.name + ";\n";
    return sql + "UPDATE meta SET value = value + 1 WHERE name = 'wine_changes';\n";
}

struct FileRow {
    std::int64_t disk = 0;
    std::int64_t text = 0;
    std::u16string relative;
    std::string arch;
};

// XXH64 of the bytes: the files are hashed at every opening, so at memory speed rather than a
// byte at a time.
std::uint64_t rotl(std::uint64_t x, int r) {
    return x << r | x >> (64 - r);
}

std::uint64_t load64(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v; // little-endian machines only, as the hashes stay on this machine
}

std::int64_t hashOf(std::string_view bytes) {
    constexpr std::uint64_t p1 = 0x9E3779B185EBCA87ULL, p2 = 0xC2B2AE3D27D4EB4FULL,
                            p3 = 0x165667B19E3779F9ULL, p4 = 0x85EBCA77C2B2AE63ULL,
                            p5 = 0x27D4EB2F165667C5ULL;
    const auto round = [&](std::uint64_t acc, std::uint64_t in) {
        return rotl(acc + in * p2, 31) * p1;
    };
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    std::uint64_t h;
    if (bytes.size() >= 32) {
        std::uint64_t v1 = p1 + p2, v2 = p2, v3 = 0, v4 = 0 - p1;
        for (; p + 32 <= end; p += 32) {
            v1 = round(v1, load64(p));
            v2 = round(v2, load64(p + 8));
            v3 = round(v3, load64(p + 16));
            v4 = round(v4, load64(p + 24));
        }
        h = rotl(v1, 1) + rotl(v2, 7) + rotl(v3, 12) + rotl(v4, 18);
        for (const std::uint64_t v : {v1, v2, v3, v4})
            h = (h ^ round(0, v)) * p1 + p4;
    } else {
        h = p5;
    }
    h += bytes.size();
    for (; p + 8 <= end; p += 8)
        h = rotl(h ^ round(0, load64(p)), 27) * p1 + p4;
    if (p + 4 <= end) {
        std::uint32_t w;
        std::memcpy(&w, p, 4);
        h = rotl(h ^ (w * p1), 23) * p2 + p3;
        p += 4;
    }
    for (; p < end; ++p)
        h = rotl(h ^ (static_cast<unsigned char>(*p) * p5), 11) * p1;
    h ^= h >> 33;
    h *= p2;
    h ^= h >> 29;
    h *= p3;
    h ^= h >> 32;
    return static_cast<std::int64_t>(h == 0 ? 1 : h); // 0 stands for "no file"
}

std::u16string lastComponent(std::u16string_view path) {
    const std::size_t sep = path.rfind(u'\\');
    return std::u16string(sep == std::u16string_view::npos ? path : path.substr(sep + 1));
}

std::string utf8Of(const fs::path& p) {
    return pathForMessage(p);
}

std::string message(std::string_view utf8) {
    return sj(utf8);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The prefix

WinePrefix::WinePrefix(fs::path prefix, fs::path programFolder)
    : prefix_(std::move(prefix)), programFolder_(std::move(programFolder)),
      home_(homeFor(prefix_, programFolder_)) {}

WinePrefix::~WinePrefix() = default;

fs::path WinePrefix::homeFor(const fs::path& prefix, const fs::path& programFolder) {
    std::error_code ec;
    fs::path canon = fs::weakly_canonical(fs::absolute(prefix, ec), ec);
    if (ec)
        canon = prefix;
    std::string base = canon.filename().string();
    if (base.empty())
        base = canon.parent_path().filename().string();
    std::string name;
    for (const char c : base) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (name.empty() && c == '.')
            continue; // no hidden folder
        name += plain ? c : '_';
        if (name.size() == 40)
            break;
    }
    if (name.empty())
        name = "prefix";
    char hash[17];
    std::snprintf(hash, sizeof hash, "%08llx",
                  static_cast<unsigned long long>(
                      static_cast<std::uint64_t>(hashOf(canon.string())) & 0xFFFFFFFFULL));
    // Found without regard to case; made only when a prefix is opened.
    return findNoCase(programFolder, "WINE").value_or(programFolder / "WINE") / (name + "-" + hash);
}

void WinePrefix::useInThisProcess() const {
    ::setenv("KLOVANTE_HOME", home_.c_str(), 1);
    ::setenv("KLOVANTE_WINDIR", systemFolder().c_str(), 1);
}

void WinePrefix::prepareFolders() {
    std::error_code ec;
    const bool fresh = !fs::exists(home_, ec);
    fs::create_directories(systemFolder(), ec);
    if (ec)
        throw WinePrefixError(message("フォルダ ") + utf8Of(systemFolder()) +
                              message(" を作れません\n") + ec.message());
    if (fresh) {
        // The prefix starts with the user's settings; from then on they are its own.
        if (auto ini = findNoCase(programFolder_, "KLOVANTE.INI"))
            fs::copy_file(*ini, home_ / "KLOVANTE.INI", ec);
    }
    const std::string note = fs::absolute(prefix_).string() + "\n";
    if (readFileBytes(home_ / "PREFIX").value_or("") != note)
        writeFileAtomically(home_ / "PREFIX", note);
}

// The drives of the prefix, as its dosdevices links name them, become the drives this program
// maps paths in registry data to.
void WinePrefix::mirrorDrives() {
    std::error_code ec;
    const fs::path mine = systemFolder() / "dosdevices";
    fs::create_directories(mine, ec);
    auto isDrive = [](const std::string& n) {
        return n.size() == 2 && n[1] == ':' && ((n[0] >= 'a' && n[0] <= 'z'));
    };
    for (const auto& e : fs::directory_iterator(mine, ec))
        if (isDrive(e.path().filename().string()) && e.is_symlink(ec))
            fs::remove(e.path(), ec);
    const fs::path theirs = prefix_ / "dosdevices";
    for (const auto& e : fs::directory_iterator(theirs, ec)) {
        const std::string n = e.path().filename().string();
        if (!isDrive(n) || !e.is_symlink(ec))
            continue;
        fs::path target = fs::read_symlink(e.path(), ec);
        if (ec)
            continue;
        if (target.is_relative())
            target = theirs / target;
        fs::create_directory_symlink(fs::absolute(target), mine / n, ec);
    }
}

namespace {

std::optional<FileRow> readRow(Store& store, std::string_view name) {
    if (!storeHasTable(store.db(), "wine_files"))
        return std::nullopt;
    SqlStatement st(store.db(), "SELECT disk, text, relative, arch FROM wine_files "
                                "WHERE name = CAST(?1 AS TEXT)");
    SqlStatement::Use u(st);
    u.bindBlob(1, name);
    if (!u.step())
        return std::nullopt;
    FileRow r;
    r.disk = u.i64(0);
    r.text = u.i64(1);
    r.relative = utf16leUnits(u.blob(2));
    r.arch = std::string(u.blob(3));
    return r;
}

void writeRow(Store& store, std::string_view name, const FileRow& r) {
    SqlStatement st(store.db(), "INSERT OR REPLACE INTO wine_files(name, disk, text, relative, "
                                "arch) VALUES(CAST(?1 AS TEXT), ?2, ?3, ?4, CAST(?5 AS TEXT))");
    SqlStatement::Use u(st);
    const std::string rel = utf16leBytes(r.relative);
    u.bindBlob(1, name).bind(2, r.disk).bind(3, r.text).bindBlob(4, rel).bindBlob(5, r.arch);
    u.run();
}

std::int64_t metaValue(Store& store, const char* name) {
    SqlStatement st(store.db(), "SELECT value FROM meta WHERE name = CAST(?1 AS TEXT)");
    SqlStatement::Use u(st);
    u.bindBlob(1, name);
    return u.step() ? u.i64(0) : -2;
}

void setMetaValue(Store& store, const char* name, std::int64_t value) {
    SqlStatement st(store.db(), "UPDATE meta SET value = ?2 WHERE name = CAST(?1 AS TEXT)");
    SqlStatement::Use u(st);
    u.bindBlob(1, name).bind(2, value);
    u.run();
}

// True when nothing changed since the files and the store last agreed.
bool inSync(Store& store) {
    return storeHasTable(store.db(), "wine_files") &&
           metaValue(store, "wine_changes") == metaValue(store, "wine_synced");
}

std::u16string defaultRelative(std::size_t file) {
    return std::u16string(file == 0   ? kMachinePath
                          : file == 1 ? kDefaultUserPath
                                      : kDefaultUserDefPath);
}

} // namespace

std::optional<KeyId> WinePrefix::fileKey(std::size_t file) {
    if (file == 0)
        return Store::rootId(kHklm);
    const auto row = readRow(*store_, kWineFiles[file]);
    const std::u16string rel = row ? row->relative : defaultRelative(file);
    return store_->child(Store::rootId(kHku), wineStoredName(lastComponent(rel), kMaxKeyNameBytes));
}

WineRegFile WinePrefix::dumpFile(std::size_t file, KeyId key) {
    const auto row = readRow(*store_, kWineFiles[file]);
    return dumpWineTree(*store_, key, row ? row->relative : defaultRelative(file),
                        row ? row->arch : std::string());
}

void WinePrefix::saveUnsaved(std::string_view name, const std::string& text) {
    const fs::path folder = backupFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path file = folder / (std::string(name) + "." + fileNameTimeTextNow() + ".unsaved");
    writeFileAtomically(file, text);
    notes_.push_back(std::string(name) +
                     message(" は読み込んだ後に Wine によって書き換えられました。"
                             "このプログラムの変更は書き戻さずに ") +
                     utf8Of(file) + message(" に保存しました。"));
}

void WinePrefix::open() {
    notes_.clear();
    std::error_code ec;
    if (!fs::is_directory(prefix_, ec))
        throw WinePrefixError(message("フォルダ ") + utf8Of(prefix_) + message(" がありません"));
    if (!fs::exists(prefix_ / "system.reg", ec))
        throw WinePrefixError(utf8Of(prefix_) +
                              message(" は Wine のプレフィックスではありません（system.reg "
                                      "がありません）"));
    std::array<std::optional<std::string>, 3> onDisk;
    for (std::size_t i = 0; i < kWineFiles.size(); ++i) {
        try {
            onDisk[i] = readFileBytes(prefix_ / kWineFiles[i]);
        } catch (const FileError& e) {
            throw WinePrefixError(e.what());
        }
    }
    prepareFolders();
    mirrorDrives();
    store_ = Store::shared(systemFolder() / "SYSTEM.DAT", Store::Options{true, false});
    if (store_->readOnly())
        throw WinePrefixError(message("レジストリファイル ") + utf8Of(store_->file()) +
                              message(" に書き込めないため、プレフィックスを開けません"));
    reload(onDisk);
}

void WinePrefix::reload(const std::array<std::optional<std::string>, 3>& onDisk) {
    // Every file that changed is read and checked before the store changes: a file Wine
    // cannot have written leaves the store as it was.
    std::array<std::optional<WineRegFile>, 3> trees;
    std::array<FileRow, 3> rows;
    std::array<KeyId, 3> oldKeys{};
    for (std::size_t i = 0; i < kWineFiles.size(); ++i) {
        const std::string_view name = kWineFiles[i];
        const auto row = readRow(*store_, name);
        const std::int64_t disk = onDisk[i] ? hashOf(*onDisk[i]) : 0;
        oldKeys[i] = row ? fileKey(i).value_or(0) : 0;
        if (row && row->disk == disk && oldKeys[i] != 0) {
            rows[i] = *row;
            continue; // as last read or written: the store keeps its changes not written back
        }
        if (row && oldKeys[i] != 0 && !inSync(*store_)) {
            const std::string mine = dumpFile(i, oldKeys[i]).write();
            if (hashOf(mine) != row->text)
                saveUnsaved(name, mine);
        }
        WineRegFile& tree = trees[i].emplace();
        if (onDisk[i]) {
            try {
                tree = WineRegFile::parse(*onDisk[i]);
            } catch (const WineFormatError& e) {
                throw WinePrefixError(utf8Of(prefix_ / name) +
                                      message(" は Wine のレジストリファイルとして読めません\n") +
                                      e.what());
            }
        } else {
            tree.arch = trees[0] ? trees[0]->arch : std::string();
            tree.root().modified = nowFileTime(); // the key made for it is new
        }
        if (tree.relativeTo.empty())
            tree.relativeTo = defaultRelative(i);
        // A file without any key line (Wine always writes one for an empty tree) gets the time
        // its key is given, so that the store's tree writes as the text hashed below.
        if (tree.root().modified == 0 && tree.root().subkeys.empty())
            tree.root().modified = nowFileTime();
        rows[i].disk = disk;
        rows[i].text = hashOf(tree.write());
        rows[i].relative = tree.relativeTo;
        rows[i].arch = tree.arch;
        if (i > 0 && lastComponent(tree.relativeTo).empty())
            throw WinePrefixError(utf8Of(prefix_ / name) +
                                  message(" のキーの名前（All keys relative to の行）が空です"));
    }
    if (compareWineNames(lastComponent(rows[1].relative), lastComponent(rows[2].relative)) == 0)
        throw WinePrefixError(message("user.reg と userdef.reg が同じキーの名前を持っています"));

    Store& s = *store_;
    Store::Transaction t(s);
    execStoreSql(s.db(), kTables);
    const bool wasInSync = metaValue(s, "wine_changes") == metaValue(s, "wine_synced");
    if (std::any_of(trees.begin(), trees.end(), [](const auto& t) { return t.has_value(); })) {
        execStoreSql(s.db(), stopCountingSql().c_str());
        for (const int root : {kHkcr, kHkcu, kHkcc})
            s.setRootView(root, std::nullopt);
        s.setAccess(Store::rootId(kHku), KeyAccess::Full);
        try {
            for (std::size_t i = 0; i < kWineFiles.size(); ++i) {
                if (!trees[i])
                    continue;
                KeyId key = Store::rootId(kHklm);
                if (i > 0) {
                    const StoredName name =
                        wineStoredName(lastComponent(trees[i]->relativeTo), kMaxKeyNameBytes);
                    const KeyId hku = Store::rootId(kHku);
                    if (oldKeys[i] != 0 && s.child(hku, name) != oldKeys[i]) {
                        s.clearKey(oldKeys[i]); // the file now names another user
                        s.deleteKey(oldKeys[i]);
                    }
                    key = s.createChild(hku, name);
                }
                s.clearKey(key);
                loadWineTree(s, key, *trees[i]);
                writeRow(s, kWineFiles[i], rows[i]);
                // The tree is the file's now: what was noted of the key kept for it (made
                // since, say) no longer holds. (Its subkeys are all new.)
                if (storeHasTable(s.db(), "wine_dirty")) {
                    SqlStatement st(s.db(), "DELETE FROM wine_dirty WHERE id = ?1");
                    SqlStatement::Use u(st);
                    u.bind(1, key);
                    u.run();
                }
            }
        } catch (const RegistryError& e) {
            throw WinePrefixError(message("Wine のレジストリを読み込めません\n") + e.what());
        }
        execStoreSql(s.db(), "DELETE FROM wine_keys WHERE id NOT IN (SELECT id FROM keys)");
    }
    // The loaded keys' records go to the file before changes count again: they are the
    // files' own, not changes to write back.
    s.writePending();
    execStoreSql(s.db(), countChangesSql().c_str());
    setViews();
    s.writePending();
    // Loading changes nothing that needs writing; changes made before still do.
    const std::int64_t changes = metaValue(s, "wine_changes");
    if (wasInSync ||
        std::all_of(trees.begin(), trees.end(), [](const auto& t) { return t.has_value(); })) {
        if (metaValue(s, "wine_synced") != changes) {
            setMetaValue(s, "wine_synced", changes);
            execStoreSql(s.db(), "DELETE FROM wine_dirty");
        }
    } else if (std::any_of(trees.begin(), trees.end(),
                           [](const auto& t) { return t.has_value(); })) {
        execStoreSql(s.db(), "DELETE FROM wine_dirty WHERE id NOT IN (SELECT id FROM keys)");
    }
    t.commit();
}

namespace {

std::optional<KeyId> resolve(Store& store, KeyId from, std::u16string_view path, int hops);

// A link's target: "\Registry\Machine\..." or "\Registry\User\...".
std::optional<KeyId> followLink(Store& store, KeyId link, int hops) {
    if (hops > 8)
        return std::nullopt;
    const KeyRecord* k = store.key(link);
    if (!k)
        return std::nullopt;
    for (const RawValue& v : store.values(link)) {
        if (v.type != REG_LINK || !equalsAsciiNoCase(listedName(v.name), "SymbolicLinkValue"))
            continue;
        std::u16string target = utf16leUnits(v.data);
        while (!target.empty() && target.back() == u'\0')
            target.pop_back();
        for (const auto& [prefix, root] :
             {std::pair{std::u16string_view(u"\\Registry\\Machine"), kHklm},
              std::pair{std::u16string_view(u"\\Registry\\User"), kHku}}) {
            if (target.size() >= prefix.size() &&
                compareWineNames(std::u16string_view(target).substr(0, prefix.size()), prefix) ==
                    0 &&
                (target.size() == prefix.size() || target[prefix.size()] == u'\\'))
                return resolve(
                    store, Store::rootId(root),
                    std::u16string_view(target).substr(std::min(target.size(), prefix.size() + 1)),
                    hops + 1);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<KeyId> resolve(Store& store, KeyId from, std::u16string_view path, int hops) {
    KeyId at = from;
    std::size_t start = 0;
    while (start < path.size()) {
        const std::size_t sep = path.find(u'\\', start);
        const std::u16string_view part = path.substr(
            start, sep == std::u16string_view::npos ? std::u16string_view::npos : sep - start);
        auto next = store.child(at, wineStoredName(part, kMaxKeyNameBytes));
        if (!next)
            return std::nullopt;
        at = *next;
        if (isWineLinkKey(store, at)) {
            auto target = followLink(store, at, hops);
            if (!target)
                return std::nullopt;
            at = *target;
        }
        if (sep == std::u16string_view::npos)
            break;
        start = sep + 1;
    }
    return at;
}

} // namespace

void WinePrefix::setViews() {
    Store& s = *store_;
    Store::Transaction t(s);
    const auto user = fileKey(1);
    const auto classes = resolve(s, Store::rootId(kHklm), u"Software\\Classes", 0);
    const auto config = resolve(s, Store::rootId(kHklm),
                                u"System\\CurrentControlSet\\Hardware Profiles\\Current", 0);
    const std::array<std::pair<int, std::optional<KeyId>>, 3> views{
        {{kHkcr, classes}, {kHkcu, user}, {kHkcc, config}}};
    // Only what differs is written: opening an unchanged prefix changes nothing.
    auto access = [&s](int root, KeyAccess a) {
        const KeyRecord* k = s.key(Store::rootId(root));
        if (k && k->access != a)
            s.setAccess(Store::rootId(root), a);
    };
    for (const auto& [root, target] : views) {
        if (s.rootView(root) == target)
            continue;
        s.setRootView(root, std::nullopt);
        // A root that shows no file's key would keep what is written there nowhere.
        access(root, target ? KeyAccess::Full : KeyAccess::ReadOnly);
        if (target)
            s.setRootView(root, *target);
    }
    access(kHkdd, KeyAccess::ReadOnly);
    access(kHku, KeyAccess::ReadOnly);
    t.commit();
}

std::vector<std::string> WinePrefix::changedFiles() {
    std::vector<std::string> changed;
    store_->refresh();
    if (inSync(*store_))
        return changed;
    for (std::size_t i = 0; i < kWineFiles.size(); ++i) {
        const auto row = readRow(*store_, kWineFiles[i]);
        const auto key = fileKey(i);
        if (!row || !key || hashOf(dumpFile(i, *key).write()) != row->text)
            changed.emplace_back(kWineFiles[i]);
    }
    return changed;
}

namespace {

// Keeps the newest backups of a file: "<name>.<yyyymmddhhnnss>" sorts by time.
void trimBackups(const fs::path& folder, std::string_view name) {
    std::error_code ec;
    std::vector<fs::path> found;
    const std::string stem = std::string(name) + ".";
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string n = e.path().filename().string();
        if (n.starts_with(stem) && !n.ends_with(".unsaved"))
            found.push_back(e.path());
    }
    std::sort(found.begin(), found.end());
    for (std::size_t i = 0; i + kBackupsKept < found.size(); ++i)
        fs::remove(found[i], ec);
}

// The file as it is, kept as `backup`: a second name for its bytes where the file system
// allows it (the write-back renames the new file over the old name, so those bytes stay as they
// are: Wine too writes its files through a new file), else a copy.
void keepBackup(const fs::path& file, const fs::path& backup, const std::string& bytes) {
    if (::linkat(AT_FDCWD, file.c_str(), AT_FDCWD, backup.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        // The bytes are on the disk already; the new name must be too.
        const int dir = ::open(backup.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return;
    }
    writeFileAtomically(backup, bytes);
}

} // namespace

std::optional<std::vector<WineKeyChange>> WinePrefix::keyChanges(KeyId fileKey) {
    Store& s = *store_;
    if (!storeHasTable(s.db(), "wine_dirty"))
        return std::nullopt;
    std::vector<std::pair<KeyId, std::int64_t>> dirty;
    {
        SqlStatement st(s.db(), "SELECT id, how FROM wine_dirty");
        SqlStatement::Use u(st);
        while (u.step())
            dirty.emplace_back(u.i64(0), u.i64(1));
    }
    // Past this many keys, writing the file whole is as quick.
    if (dirty.size() > kSpliceLimit)
        return std::nullopt;
    const auto extras = readWineKeyExtras(s);
    std::vector<WineKeyChange> changes;
    for (const auto& [id, how] : dirty) {
        std::vector<std::u16string> path;
        bool inFile = false;
        for (KeyId at = id; path.size() <= static_cast<std::size_t>(kMaxKeyDepth);) {
            if (at == fileKey) {
                inFile = true;
                break;
            }
            const KeyRecord* r = s.key(at);
            if (!r || r->depth == 0)
                break; // gone, or in another root
            path.push_back(wineNameUnits(r->name));
            at = r->parent;
        }
        if (!inFile)
            continue;
        std::reverse(path.begin(), path.end());
        const bool hasSubkeys = s.key(id)->subKeys > 0;
        const WineKey k = wineKeyOf(s, id, extras);
        WineKeyChange c;
        c.lines = writeWineKey(path, k, hasSubkeys);
        c.path = std::move(path);
        c.replacesSubtree = (how & 4) != 0;
        c.subkeysChanged = (how & 2) != 0;
        if (c.subkeysChanged && !c.replacesSubtree) {
            const std::vector<KeyId> kids = s.children(id);
            for (const KeyId kid : kids)
                if (const KeyRecord* kr = s.key(kid))
                    c.subkeys.push_back(wineNameUnits(kr->name));
        }
        changes.push_back(std::move(c));
    }
    return changes;
}

std::vector<std::string> WinePrefix::writeBack() {
    struct Pending {
        std::size_t file;
        std::string text;
        std::optional<std::string> current; // the file as it is
        bool asRead;                        // as last read or written
        bool spliced;
    };
    spliced_ = 0;
    std::vector<Pending> pending;
    std::vector<std::string> problems;
    store_->refresh();
    if (inSync(*store_))
        return {};
    std::int64_t changes = 0;
    {
        Store::ReadSnapshot snapshot(*store_); // the files as of one moment of the store
        changes = metaValue(*store_, "wine_changes");
        for (std::size_t i = 0; i < kWineFiles.size(); ++i) {
            const auto row = readRow(*store_, kWineFiles[i]);
            const auto key = fileKey(i);
            if (!row)
                continue;
            if (!key) {
                problems.push_back(std::string(kWineFiles[i]) +
                                   message(" のキーがないため、このファイルは書き戻しません"));
                continue;
            }
            // A file as this program last wrote or read it (in Wine's own form) takes only
            // the lines of the keys that changed, and is not even read when none did; any
            // other is written whole.
            std::optional<std::vector<WineKeyChange>> keys;
            if (row->text == row->disk) {
                keys = keyChanges(*key);
                if (keys && keys->empty())
                    continue;
            }
            Pending p{i, {}, {}, false, false};
            try {
                p.current = readFileBytes(prefix_ / kWineFiles[i]);
            } catch (const FileError& e) {
                problems.push_back(e.what());
                continue;
            }
            p.asRead = (p.current ? hashOf(*p.current) : 0) == row->disk;
            if (p.asRead && p.current && keys) {
                if (auto text = spliceWineFile(*p.current, *keys)) {
                    p.text = std::move(*text);
                    p.spliced = true;
                }
            }
            if (!p.spliced)
                p.text = dumpFile(i, *key).write();
            if (hashOf(p.text) != row->text)
                pending.push_back(std::move(p));
        }
    }
    std::vector<std::string> written;
    if (!pending.empty() && wineServerRunning(prefix_))
        throw WineServerRunningError(
            message("Wine (wineserver) が動作中のため、") + utf8Of(prefix_) +
            message(" のレジストリに書き込めません。\nWine はレジストリをメモリに持っていて、"
                    "終了するときにファイルを上書きします。\nWine を終了してから、"
                    "もう一度書き戻してください。変更はこのプログラムに残っています。"));
    for (Pending& p : pending) {
        const std::string_view name = kWineFiles[p.file];
        const fs::path path = prefix_ / name;
        FileRow row = *readRow(*store_, name);
        const std::optional<std::string>& current = p.current;
        if (!p.asRead) {
            // Wine saved the file since it was read: writing now would throw its changes away.
            saveUnsaved(name, p.text);
            problems.push_back(notes_.back());
            continue;
        }
        if (current && !backedUp_[p.file]) {
            const fs::path folder = backupFolder();
            std::error_code ec;
            fs::create_directories(folder, ec);
            fs::path backup = folder / (std::string(name) + "." + fileNameTimeTextNow());
            for (int n = 2; fs::exists(backup, ec); ++n)
                backup = folder / (std::string(name) + "." + fileNameTimeTextNow() + "-" +
                                   std::to_string(n));
            keepBackup(path, backup, *current);
            trimBackups(folder, name);
            backedUp_[p.file] = true;
        }
        writeFileAtomically(path, p.text);
        spliced_ += p.spliced ? 1 : 0;
        row.disk = row.text = hashOf(p.text);
        Store::Transaction t(*store_);
        writeRow(*store_, name, row);
        t.commit();
        written.emplace_back(name);
    }
    if (problems.empty()) {
        // Every file now holds what the store held when this began.
        Store::Transaction t(*store_);
        setMetaValue(*store_, "wine_synced", changes);
        SqlStatement st(store_->db(), "DELETE FROM wine_dirty WHERE seq <= ?1");
        SqlStatement::Use u(st);
        u.bind(1, changes);
        u.run();
        t.commit();
    } else {
        std::string all;
        for (const std::string& m : problems)
            all += (all.empty() ? "" : "\n") + m;
        throw WinePrefixError(all);
    }
    return written;
}

} // namespace klv::wine
