#include "core/registry/Registry.h"

#include "core/platform/Encoding.h"
#include "core/registry/RegistryError.h"

#include <algorithm>
#include <cstring>

namespace klv {

ValueKind valueKindOf(std::uint32_t rawType) {
    switch (rawType) {
    case REG_SZ:
        return ValueKind::String;
    case REG_EXPAND_SZ:
        return ValueKind::ExpandString;
    case REG_BINARY:
        return ValueKind::Binary;
    case REG_DWORD:
        return ValueKind::Integer;
    case REG_MULTI_SZ:
        return ValueKind::MultiString;
    default:
        return ValueKind::Unknown;
    }
}

namespace {

// The next component of a CP932 path from `pos`; a trail byte 0x5C of a double-byte
// character is part of its character, never a separator.
std::string_view nextComponent(std::string_view path, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < path.size() && path[pos] != '\\')
        pos += isCp932Lead(static_cast<unsigned char>(path[pos])) && pos + 1 < path.size() ? 2 : 1;
    std::string_view part = path.substr(start, pos - start);
    if (pos < path.size())
        ++pos; // the separator
    return part;
}

// One pass over a CP932 path: whether it ends in a backslash (not the second byte of a
// double-byte character) and whether a component is empty.
struct PathShape {
    bool trailing = false;
    bool emptyPart = false;
};

PathShape shapeOf(std::string_view p) {
    PathShape s;
    bool afterSeparator = true;
    for (std::size_t i = 0; i < p.size();) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c == '\\') {
            if (afterSeparator)
                s.emptyPart = true;
            afterSeparator = true;
            s.trailing = i + 1 == p.size();
            ++i;
        } else {
            afterSeparator = false;
            i += isCp932Lead(c) && i + 1 < p.size() ? 2 : 1;
        }
    }
    return s;
}

std::optional<KeyId> rootKeyId(RootHandle root) {
    if (auto i = rootIndexByHandle(root))
        return Store::rootId(*i);
    return std::nullopt;
}

} // namespace

TRegistry::TRegistry() : TRegistry(Store::system()) {}

TRegistry::TRegistry(std::shared_ptr<Store> store) : store_(std::move(store)) {}

TRegistry::~TRegistry() = default;

void TRegistry::RootKey(RootHandle root) {
    if (root != root_) {
        CloseKey();
        root_ = root;
    }
}

std::optional<TRegistry::Target> TRegistry::resolve(std::string_view path, bool create) {
    const std::optional<KeyId> rootId = rootKeyId(root_);
    if (!rootId)
        return std::nullopt; // a handle that names no root opens nothing, anywhere
    const bool leading = !path.empty() && path.front() == '\\';
    const bool absolute = leading || !key_ || path.empty();
    if (leading)
        path.remove_prefix(1);
    // One rule for every operation: a path with an empty component names no key, except that
    // a single trailing backslash names the same key as the path without it.
    const PathShape shape = shapeOf(path);
    if (shape.trailing)
        path.remove_suffix(1);
    if (shape.emptyPart)
        return std::nullopt;
    Target t{absolute ? *rootId : *key_, absolute ? 0 : depth_};
    // The path the key is known by once open, without leading or trailing backslash, which is
    // also the form the memo knows it by (buffers are reused: walks open keys by the million).
    std::string& canonical = resolvedPath_;
    canonical.clear();
    if (!absolute && !path_.empty()) {
        canonical.append(path_);
        if (!path.empty())
            canonical.append("\\");
    }
    canonical.append(path);
    const std::uint64_t gen = store_->generation();
    const bool memoUsable = !path.empty();
    if (memoUsable)
        for (const PathMemo& m : memo_)
            if (m.generation == gen && m.root == root_ && m.path == canonical)
                return Target{m.id, m.depth};
    if (!store_->key(t.id))
        return std::nullopt;
    if (path.empty())
        return t;
    std::size_t pos = 0;
    do {
        const std::string_view part = nextComponent(path, pos);
        std::optional<KeyId> next;
        if (part.size() <= kMaxKeyNameBytes)
            next = store_->child(t.id, part);
        if (!next) {
            if (!create)
                return std::nullopt;
            next = store_->createChild(t.id, StoredName{std::string(part), false});
        }
        t.id = *next;
        ++t.depth;
    } while (pos < path.size());
    if (store_->generation() == gen) {
        PathMemo& m = memo_[memoNext_++ % memo_.size()];
        m.generation = gen;
        m.root = root_;
        m.path.assign(canonical);
        m.id = t.id;
        m.depth = t.depth;
    }
    return t;
}

std::optional<bool> TRegistry::openedWritable(const KeyRecord& k, Want want) const {
    const bool full = k.access == KeyAccess::Full && !store_->readOnly();
    const bool read = k.access != KeyAccess::None;
    if (want == Want::Full && full)
        return true;
    if (want == Want::Read && read)
        return false;
    if (want == Want::Any && read)
        return full;
    return std::nullopt;
}

bool TRegistry::open(std::string_view path, bool create, Want want) {
    store_->refresh();
    std::optional<Target> t;
    try {
        t = resolve(path, false);
        if (!t && create && !path.empty()) {
            // All missing keys in one transaction: a refused name leaves no half-made path.
            Store::Transaction txn(*store_);
            t = resolve(path, true);
            txn.commit();
        }
    } catch (const StoreError&) {
        return false;
    }
    if (!t)
        return false;
    const KeyRecord* k = store_->key(t->id);
    if (!k)
        return false;
    const std::optional<bool> writable = openedWritable(*k, want);
    if (!writable)
        return false;
    key_ = t->id;
    writable_ = *writable;
    path_.swap(resolvedPath_);
    depth_ = t->depth;
    return true;
}

bool TRegistry::OpenKeyById(KeyId id, std::string_view path, bool anyAccess) {
    store_->refresh();
    const KeyRecord* k;
    try {
        k = store_->key(id);
    } catch (const StoreError&) {
        return false;
    }
    if (!k)
        return false;
    const std::optional<bool> writable = openedWritable(*k, anyAccess ? Want::Any : Want::Full);
    if (!writable)
        return false;
    key_ = id;
    writable_ = *writable;
    path_.assign(path);
    depth_ = k->depth;
    return true;
}

bool TRegistry::OpenKey(std::string_view path, bool create) {
    return open(path, create, Want::Full);
}

bool TRegistry::OpenKeyForReading(std::string_view path) {
    return open(path, false, Want::Read);
}

bool TRegistry::OpenKeyAnyAccess(std::string_view path, bool create) {
    return OpenKey(path, create) || OpenKeyForReading(path);
}

bool TRegistry::CreateKey(std::string_view path) {
    store_->refresh();
    try {
        Store::Transaction txn(*store_);
        const std::optional<Target> t = resolve(path, true);
        if (!t)
            throw StoreError(sj("キーを作成できません"));
        // An existing key counts as created only when it could be opened for writing.
        const KeyRecord* k = store_->key(t->id);
        if (!k || k->access != KeyAccess::Full || store_->readOnly())
            throw StoreError(sj("このキーへの書き込みは許可されていません"));
        txn.commit();
    } catch (const StoreError& e) {
        throw RegistryError(msgCreateKeyFailed(path), e.what());
    }
    return true;
}

void TRegistry::CloseKey() {
    key_.reset();
    writable_ = false;
    path_.clear();
    depth_ = 0;
}

bool TRegistry::KeyPresent(std::string_view path) {
    try {
        store_->refresh();
        std::optional<Target> t = resolve(path, false);
        if (!t)
            return false;
        const KeyRecord* k = store_->key(t->id);
        return k && k->access == KeyAccess::Full && !store_->readOnly();
    } catch (const StoreError&) {
        return false;
    }
}

bool TRegistry::KeyHasSubKeys() {
    store_->refresh();
    const KeyRecord* k = key_ ? store_->key(*key_) : nullptr;
    return k && k->subKeys > 0;
}

bool TRegistry::QueryKeyInfo(KeyInfo& info) {
    store_->refresh();
    if (!key_ || !store_->key(*key_))
        return false;
    info = store_->info(*key_);
    return true;
}

namespace {
// Fills a caller's list keeping the strings it already holds, so a walk that reuses one list
// does not allocate a name per entry.
class ListFiller {
public:
    explicit ListFiller(std::vector<std::string>& list) : list_(list), n_(0) {}
    ~ListFiller() { list_.resize(n_); }
    ListFiller(const ListFiller&) = delete;
    ListFiller& operator=(const ListFiller&) = delete;
    void add(std::string_view s) {
        if (n_ < list_.size())
            list_[n_].assign(s);
        else
            list_.emplace_back(s);
        ++n_;
    }

private:
    std::vector<std::string>& list_;
    std::size_t n_;
};

void addName(ListFiller& f, const StoredName& n) {
    if (n.wide)
        f.add(listedName(n));
    else
        f.add(n.bytes);
}
} // namespace

void TRegistry::ListSubKeys(std::vector<std::string>& list) {
    ListFiller fill(list);
    store_->refresh();
    if (!key_ || !store_->key(*key_))
        return;
    for (KeyId c : store_->children(*key_))
        if (const KeyRecord* r = store_->key(c))
            addName(fill, r->name);
}

void TRegistry::ListValues(std::vector<std::string>& list) {
    ListFiller fill(list);
    store_->refresh();
    if (!key_)
        return;
    for (const RawValue& v : store_->values(*key_))
        addName(fill, v.name);
}

const RawValue* TRegistry::find(std::string_view name) {
    store_->refresh();
    if (!key_)
        return nullptr;
    if (last_.generation == store_->generation() && last_.key == *key_ && last_.name == name)
        return last_.value;
    last_.value = store_->value(*key_, name);
    last_.generation = store_->generation();
    last_.key = *key_;
    last_.name.assign(name);
    return last_.value;
}

bool TRegistry::QueryValueInfo(std::string_view name, ValueInfo& info) {
    const RawValue* v = find(name);
    if (!v)
        return false;
    info.rawType = v->type;
    info.kind = valueKindOf(v->type);
    info.size = static_cast<int>(v->dataWide ? listedData(*v).size() : v->data.size());
    return true;
}

bool TRegistry::ValuePresent(std::string_view name) {
    return find(name) != nullptr;
}

ValueKind TRegistry::GetDataType(std::string_view name) {
    ValueInfo i;
    return QueryValueInfo(name, i) ? i.kind : ValueKind::Unknown;
}

int TRegistry::GetDataSize(std::string_view name) {
    ValueInfo i;
    return QueryValueInfo(name, i) ? i.size : -1;
}

std::string TRegistry::ReadText(std::string_view name) {
    const RawValue* v = find(name);
    if (!v || v->data.empty())
        return {};
    const ValueKind k = valueKindOf(v->type);
    if (k != ValueKind::String && k != ValueKind::ExpandString)
        throw RegistryError(msgBadDataType(name));
    std::string text = listedData(*v);
    text.resize(std::min(text.size(), text.find('\0')));
    return text;
}

std::uint32_t TRegistry::ReadDword(std::string_view name) {
    const RawValue* v = find(name);
    if (!v)
        throw RegistryError(msgGetFailed(name));
    if (valueKindOf(v->type) != ValueKind::Integer)
        throw RegistryError(msgBadDataType(name));
    if (v->data.size() > 4)
        throw RegistryError(msgGetFailed(name));
    unsigned char b[4] = {0, 0, 0, 0};
    std::memcpy(b, v->data.data(), v->data.size());
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
           std::uint32_t(b[3]) << 24;
}

int TRegistry::ReadBinary(std::string_view name, void* buffer, int bufferSize) {
    const RawValue* v = find(name);
    if (!v)
        throw RegistryError(msgGetFailed(name));
    const ValueKind k = valueKindOf(v->type);
    if ((k != ValueKind::Binary && k != ValueKind::Unknown) || bufferSize < 0 ||
        static_cast<std::size_t>(bufferSize) < v->data.size())
        throw RegistryError(msgBadDataType(name));
    if (!v->data.empty())
        std::memcpy(buffer, v->data.data(), v->data.size());
    return static_cast<int>(v->data.size());
}

std::string TRegistry::ReadBinary(std::string_view name) {
    const RawValue* v = find(name);
    if (!v)
        throw RegistryError(msgGetFailed(name));
    const ValueKind k = valueKindOf(v->type);
    if (k != ValueKind::Binary && k != ValueKind::Unknown)
        throw RegistryError(msgBadDataType(name));
    return v->data;
}

std::vector<std::string> multiStringItems(std::string_view data) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\0', start);
        if (end == std::string_view::npos)
            end = data.size();
        if (end == start)
            break;
        items.emplace_back(data.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

void TRegistry::ReadMultiText(std::string_view name, std::vector<std::string>& list) {
    const RawValue* v = find(name);
    if (!v || v->type != REG_MULTI_SZ)
        return;
    for (std::string& item : multiStringItems(listedData(*v)))
        list.push_back(std::move(item));
}

void TRegistry::write(std::string_view name, std::uint32_t type, std::string data) {
    store_->refresh();
    if (!key_ || !writable_)
        throw RegistryError(msgSetFailed(name), sj("キーが書き込み用に開かれていません"));
    try {
        store_->setValue(
            *key_, RawValue{StoredName{std::string(name), false}, type, std::move(data), false});
    } catch (const StoreError& e) {
        throw RegistryError(msgSetFailed(name), e.what());
    }
}

namespace {
std::string untilNul(std::string_view s) {
    return std::string(s.substr(0, s.find('\0')));
}
} // namespace

void TRegistry::WriteString(std::string_view name, std::string_view text) {
    write(name, REG_SZ, untilNul(text) + '\0');
}

void TRegistry::WriteExpandString(std::string_view name, std::string_view text) {
    write(name, REG_EXPAND_SZ, untilNul(text) + '\0');
}

void TRegistry::WriteInteger(std::string_view name, std::uint32_t value) {
    std::string d(4, '\0');
    for (int i = 0; i < 4; ++i)
        d[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    write(name, REG_DWORD, std::move(d));
}

void TRegistry::WriteBinary(std::string_view name, const void* data, int size) {
    write(name, REG_BINARY,
          size > 0 ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                   : std::string());
}

void TRegistry::WriteBinary(std::string_view name, std::string_view bytes) {
    write(name, REG_BINARY, std::string(bytes));
}

void TRegistry::WriteMultiString(std::string_view name, const std::vector<std::string>& list) {
    std::string d;
    for (const std::string& s : list) {
        // An empty item would end the list for every reader and hide the items after it.
        const std::string item = untilNul(s);
        if (item.empty())
            continue;
        d += item;
        d += '\0';
    }
    d += '\0';
    write(name, REG_MULTI_SZ, std::move(d));
}

std::optional<RawValue> TRegistry::ReadRaw(std::string_view name) {
    const RawValue* v = find(name);
    if (!v)
        return std::nullopt;
    return *v;
}

std::vector<RawValue> TRegistry::ReadRawValues() {
    return CurrentValues();
}

const std::vector<RawValue>& TRegistry::CurrentValues() {
    static const std::vector<RawValue> none;
    store_->refresh();
    if (!key_ || !store_->key(*key_))
        return none;
    return store_->values(*key_);
}

void TRegistry::WriteRaw(const RawValue& value) {
    store_->refresh();
    const std::string shown = listedName(value.name);
    if (!key_ || !writable_)
        throw RegistryError(msgSetFailed(shown), sj("キーが書き込み用に開かれていません"));
    try {
        store_->setValue(*key_, value);
    } catch (const StoreError& e) {
        throw RegistryError(msgSetFailed(shown), e.what());
    }
}

bool TRegistry::DeleteValue(std::string_view name) {
    store_->refresh();
    if (!key_ || !writable_)
        return false;
    try {
        return store_->deleteValue(*key_, name);
    } catch (const StoreError&) {
        return false;
    }
}

bool TRegistry::deleteTree(KeyId id) {
    const KeyRecord* k = store_->key(id);
    if (!k)
        return false;
    const bool writable = k->access == KeyAccess::Full && !store_->readOnly();
    if (writable) {
        // From the highest index down, so the remaining indexes stay valid.
        const std::vector<KeyId> kids = store_->children(id);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            deleteTree(*it);
    }
    // A key that cannot be deleted stays, and so does its parent; the rest goes. Checked here
    // rather than caught, since a refused step would spoil the whole transaction.
    k = store_->key(id);
    if (!writable || !k || k->subKeys > 0 || k->depth == 0)
        return false;
    store_->deleteKey(id);
    return true;
}

bool TRegistry::DeleteKey(std::string_view path) {
    // An empty path would name the root itself; wiping a whole root is never what is meant.
    if (path.empty() || path == "\\")
        return false;
    try {
        store_->refresh();
        std::optional<Target> t = resolve(path, false);
        if (!t || t->depth == 0)
            return false;
        // One transaction: a process killed half way leaves the whole tree or none of it.
        Store::Transaction txn(*store_);
        const bool all = deleteTree(t->id);
        txn.commit();
        return all;
    } catch (const StoreError&) {
        return false;
    }
}

void TRegistry::RenameValue(std::string_view oldName, std::string_view newName) {
    store_->refresh();
    if (!key_)
        return;
    const RawValue* old = store_->value(*key_, oldName);
    if (!old || store_->value(*key_, newName))
        return;
    RawValue moved = *old;
    const StoredName oldStored = old->name;
    moved.name = StoredName{std::string(newName), false};
    if (!writable_)
        throw RegistryError(msgSetFailed(newName), sj("キーが書き込み用に開かれていません"));
    try {
        // One transaction: the value is never lost between the delete and the write.
        Store::Transaction txn(*store_);
        store_->deleteValue(*key_, oldStored);
        store_->setValue(*key_, moved);
        txn.commit();
    } catch (const StoreError& e) {
        throw RegistryError(msgSetFailed(newName), e.what());
    }
}

void TRegistry::copyTree(KeyId from, KeyId to) {
    // Copies keep the stored names and bytes, UTF-16 marks included. Reading a subkey needs
    // only read access, so read-only subkeys are copied too; keys that cannot be opened are
    // skipped, as an enumeration index that fails is.
    const std::vector<RawValue> vals = store_->values(from);
    for (const RawValue& v : vals)
        store_->setValue(to, v);
    const std::vector<KeyId> kids = store_->children(from);
    for (KeyId c : kids) {
        const KeyRecord* r = store_->key(c);
        if (!r || r->access == KeyAccess::None)
            continue;
        const StoredName name = r->name;
        copyTree(c, store_->createChild(to, name));
    }
}

void TRegistry::MoveKey(std::string_view source, std::string_view target, bool deleteSource) {
    try {
        store_->refresh();
        std::optional<Target> src = resolve(source, false);
        if (!src)
            return;
        const KeyRecord* s = store_->key(src->id);
        if (!s || s->access == KeyAccess::None || resolve(target, false))
            return;
        Store::Transaction txn(*store_);
        std::optional<Target> dst = resolve(target, true);
        if (!dst)
            throw StoreError(sj("キーを作成できません"));
        // A target inside the source would copy itself without end.
        for (const KeyRecord* k = store_->key(dst->id); k; k = store_->key(k->parent))
            if (k->id == src->id)
                throw StoreError(sj("キーをそのキー自身の下へは移動できません"));
        copyTree(src->id, dst->id);
        // The copy and the removal of the source are one change.
        if (deleteSource)
            deleteTree(src->id);
        txn.commit();
    } catch (const StoreError& e) {
        throw RegistryError(msgCreateKeyFailed(target), e.what());
    }
}

} // namespace klv
