#pragma once
// The registry access object. It holds a current root and at most one open key; every read and
// write of the registry goes through one. Texts are CP932.
//
// Opening failures are results (false). Reads and writes that the registry refuses raise
// RegistryError with the layer's message texts.
#include "core/registry/RootKeys.h"
#include "core/registry/Store.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

enum class ValueKind { String, ExpandString, Integer, Binary, MultiString, Unknown };

ValueKind valueKindOf(std::uint32_t rawType);

// The strings of REG_MULTI_SZ data, up to the first empty one (which ends the list).
std::vector<std::string> multiStringItems(std::string_view data);

struct ValueInfo {
    ValueKind kind = ValueKind::Unknown;
    std::uint32_t rawType = REG_NONE;
    int size = -1;
};

inline constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;
inline constexpr std::uint32_t KEY_READ = 0x20019;

class TRegistry {
public:
    // Works on the registry of this installation.
    TRegistry();
    explicit TRegistry(std::shared_ptr<Store> store);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Makes `root` the current root; a different root closes the current key.
    void RootKey(RootHandle root);
    RootHandle RootKey() const { return root_; }

    bool OpenKey(std::string_view path, bool create);
    bool OpenKeyForReading(std::string_view path);
    bool OpenKeyAnyAccess(std::string_view path, bool create);
    // Creates the key and its missing parents, leaving the current key as it is. Raises
    // "キー %s の作成に失敗しました" on failure.
    bool CreateKey(std::string_view path);
    // Opens a key by its id, as the walks do when they move from a key to its children and
    // back; `path` is what CurrentPath reports for it. The access rules are those of OpenKey
    // (or OpenKeyAnyAccess with `anyAccess`); false when the key is gone or may not be opened.
    bool OpenKeyById(KeyId id, std::string_view path, bool anyAccess);
    void CloseKey();
    bool KeyPresent(std::string_view path);
    bool KeyHasSubKeys();
    bool QueryKeyInfo(KeyInfo& info);
    void ListSubKeys(std::vector<std::string>& list);
    void ListValues(std::vector<std::string>& list);

    bool QueryValueInfo(std::string_view name, ValueInfo& info);
    bool ValuePresent(std::string_view name);
    ValueKind GetDataType(std::string_view name);
    int GetDataSize(std::string_view name); // -1 when missing

    std::string ReadText(std::string_view name);
    std::uint32_t ReadDword(std::string_view name);
    int ReadBinary(std::string_view name, void* buffer, int bufferSize);
    std::string ReadBinary(std::string_view name); // the whole data, same checks
    void ReadMultiText(std::string_view name, std::vector<std::string>& list);

    void WriteString(std::string_view name, std::string_view text);
    void WriteExpandString(std::string_view name, std::string_view text);
    void WriteInteger(std::string_view name, std::uint32_t value);
    void WriteBinary(std::string_view name, const void* data, int size);
    void WriteBinary(std::string_view name, std::string_view bytes);
    void WriteMultiString(std::string_view name, const std::vector<std::string>& list);

    bool DeleteValue(std::string_view name);
    bool DeleteKey(std::string_view path);
    void RenameValue(std::string_view oldName, std::string_view newName);
    void MoveKey(std::string_view source, std::string_view target, bool deleteSource);

    // Raw access: the stored type and bytes, UTF-16 marks included (registry files, copies).
    std::optional<RawValue> ReadRaw(std::string_view name);
    // Every value of the current key as stored, in enumeration order.
    std::vector<RawValue> ReadRawValues();
    // The same without a copy, for walks that read every value of every key: valid until the
    // next operation on this access object or its store.
    const std::vector<RawValue>& CurrentValues();
    void WriteRaw(const RawValue& value);

    bool HasCurrentKey() const { return key_.has_value(); }
    // The path of the current key below its root, components joined by single backslashes,
    // without leading or trailing backslash ("" for the root or when none is open).
    const std::string& CurrentPath() const { return path_; }
    std::optional<KeyId> CurrentKeyId() const { return key_; }
    bool CurrentKeyWritable() const { return key_ && writable_; }
    Store& store() { return *store_; }
    const std::shared_ptr<Store>& sharedStore() const { return store_; }

private:
    struct Target {
        KeyId id;
        int depth;
    };
    enum class Want { Full, Read, Any };
    // Resolves `path` by the sub-path rule; nullopt when a key on the way is missing.
    std::optional<Target> resolve(std::string_view path, bool create);
    bool open(std::string_view path, bool create, Want want);
    // Whether a key opened as `want` asks is writable; nullopt when it may not be opened so.
    std::optional<bool> openedWritable(const KeyRecord& k, Want want) const;
    const RawValue* find(std::string_view name);
    void write(std::string_view name, std::uint32_t type, std::string data);
    void copyTree(KeyId from, KeyId to);
    bool deleteTree(KeyId id);

    std::shared_ptr<Store> store_;
    RootHandle root_ = HKEY_CURRENT_USER_H;
    std::optional<KeyId> key_;
    bool writable_ = false;
    std::string path_;
    int depth_ = 0;
    std::string resolvedPath_; // the path of the last key resolved
    // Keys resolved lately by their absolute sub-paths: walks re-open the same parent after
    // every subkey.
    struct PathMemo {
        std::uint64_t generation = 0;
        RootHandle root = 0;
        std::string path; // without leading or trailing backslash
        KeyId id = 0;
        int depth = 0;
    };
    std::array<PathMemo, 8> memo_;
    std::size_t memoNext_ = 0;
    // The last value looked up: a reader asks for a value's kind and then reads it.
    struct {
        std::uint64_t generation = 0;
        KeyId key = 0;
        std::string name;
        const RawValue* value = nullptr;
    } last_;
};

} // namespace klv
