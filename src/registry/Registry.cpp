#include "registry/Registry.h"

#include "platform/Encoding.h"
#include "registry/RegistryError.h"

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

// Splits a CP932 path at its backslashes; a trail byte 0x5C of a double-byte character is
// part of its character, never a separator.
std::vector<std::string_view> splitComponents(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t bs = cp932Find(path, "\\", start);
        if (bs == std::string_view::npos) {
            parts.push_back(path.substr(start));
            return parts;
        }
        parts.push_back(path.substr(start, bs - start));
        start = bs + 1;
    }
}

KeyId rootKeyId(RootHandle root) {
    auto i = rootIndexByHandle(root);
    return Store::rootId(i ? *i : 1);
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
    const bool leading = !path.empty() && path.front() == '\\';
    const bool absolute = leading || !key_ || path.empty();
    if (leading)
        path.remove_prefix(1);
    Target t{absolute ? rootKeyId(root_) : *key_, absolute ? 0 : depth_,
             absolute ? std::string(path) : path_ + "\\" + std::string(path)};
    if (!store_->key(t.id))
        return std::nullopt;
    if (path.empty())
        return t;
    auto parts = splitComponents(path);
    if (parts.back().empty()) // a trailing backslash names the same key
        parts.pop_back();
    for (std::string_view part : parts) {
        if (part.empty())
            return std::nullopt;
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
    }
    return t;
}

bool TRegistry::open(std::string_view path, bool create, Want want) {
    store_->refresh();
    std::optional<Target> t;
    try {
        t = resolve(path, create && !path.empty());
    } catch (const StoreError&) {
        return false;
    }
    if (!t)
        return false;
    const KeyRecord* k = store_->key(t->id);
    if (!k)
        return false;
    const bool full = k->access == KeyAccess::Full && !store_->readOnly();
    const bool read = k->access != KeyAccess::None;
    bool writable;
    if (want == Want::Full && full)
        writable = true;
    else if (want == Want::Read && read)
        writable = false;
    else if (want == Want::Any && (full || read))
        writable = full;
    else
        return false;
    key_ = t->id;
    writable_ = writable;
    path_ = std::move(t->path);
    depth_ = t->depth;
    return true;
}

bool TRegistry::OpenKey(std::string_view path, bool create) { return open(path, create, Want::Full); }

bool TRegistry::OpenKeyForReading(std::string_view path) { return open(path, false, Want::Read); }

bool TRegistry::OpenKeyAnyAccess(std::string_view path, bool create) {
    return OpenKey(path, create) || OpenKeyForReading(path);
}

bool TRegistry::CreateKey(std::string_view path) {
    store_->refresh();
    try {
        Store::Transaction txn(*store_);
        if (!resolve(path, true))
            throw StoreError(sj("キーを作成できません"));
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
    store_->refresh();
    std::optional<Target> t = resolve(path, false);
    if (!t)
        return false;
    const KeyRecord* k = store_->key(t->id);
    return k && k->access == KeyAccess::Full && !store_->readOnly();
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

void TRegistry::ListSubKeys(std::vector<std::string>& list) {
    list.clear();
    store_->refresh();
    if (!key_ || !store_->key(*key_))
        return;
    const auto& kids = store_->children(*key_);
    list.reserve(kids.size());
    for (KeyId c : kids)
        if (const KeyRecord* r = store_->key(c))
            list.push_back(listedName(r->name));
}

void TRegistry::ListValues(std::vector<std::string>& list) {
    list.clear();
    store_->refresh();
    if (!key_)
        return;
    const auto& vals = store_->values(*key_);
    list.reserve(vals.size());
    for (const RawValue& v : vals)
        list.push_back(listedName(v.name));
}

const RawValue* TRegistry::find(std::string_view name) {
    store_->refresh();
    return key_ ? store_->value(*key_, name) : nullptr;
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

bool TRegistry::ValuePresent(std::string_view name) { return find(name) != nullptr; }

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

void TRegistry::ReadMultiText(std::string_view name, std::vector<std::string>& list) {
    const RawValue* v = find(name);
    if (!v || v->type != REG_MULTI_SZ)
        return;
    const std::string data = listedData(*v);
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\0', start);
        if (end == std::string::npos)
            end = data.size();
        if (end == start)
            break;
        list.push_back(data.substr(start, end - start));
        start = end + 1;
    }
}

void TRegistry::write(std::string_view name, std::uint32_t type, std::string data) {
    store_->refresh();
    if (!key_ || !writable_)
        throw RegistryError(msgSetFailed(name), sj("キーが書き込み用に開かれていません"));
    try {
        store_->setValue(*key_, RawValue{StoredName{std::string(name), false}, type, std::move(data), false});
    } catch (const StoreError& e) {
        throw RegistryError(msgSetFailed(name), e.what());
    }
}

namespace {
std::string untilNul(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }
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
        d += untilNul(s);
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
    if (k->access == KeyAccess::Full && !store_->readOnly()) {
        // From the highest index down, so the remaining indexes stay valid.
        const std::vector<KeyId> kids = store_->children(id);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            deleteTree(*it);
    }
    try {
        store_->deleteKey(id);
        return true;
    } catch (const StoreError&) {
        return false;
    }
}

bool TRegistry::DeleteKey(std::string_view path) {
    store_->refresh();
    // An empty path would name the root itself; wiping a whole root is never what is meant.
    if (path.empty() || path == "\\")
        return false;
    std::optional<Target> t = resolve(path, false);
    if (!t || t->depth == 0)
        return false;
    return deleteTree(t->id);
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
    store_->refresh();
    std::optional<Target> src = resolve(source, false);
    if (!src)
        return;
    const KeyRecord* s = store_->key(src->id);
    if (!s || s->access == KeyAccess::None || resolve(target, false))
        return;
    try {
        Store::Transaction txn(*store_);
        std::optional<Target> dst = resolve(target, true);
        if (!dst)
            throw StoreError(sj("キーを作成できません"));
        // A target inside the source would copy itself without end.
        for (const KeyRecord* k = store_->key(dst->id); k; k = store_->key(k->parent))
            if (k->id == src->id)
                throw StoreError(sj("キーをそのキー自身の下へは移動できません"));
        copyTree(src->id, dst->id);
        txn.commit();
    } catch (const StoreError& e) {
        throw RegistryError(msgCreateKeyFailed(target), e.what());
    }
    if (deleteSource)
        deleteTree(src->id);
}

} // namespace klv
