#pragma once
// The registry store: one SQLite database (SYSTEM.DAT) holding the six root trees.
//
// Reads go through an in-process cache. refresh() drops it when any connection (this one or
// another process) has committed since the last look; callers call it at the start of each of
// their operations, so a change made elsewhere is seen at the next one. References returned by
// reads stay valid until the next refresh() or write.
#include "core/platform/TimeText.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace klv {

using KeyId = std::int64_t;

enum class KeyAccess : int { Full = 0, ReadOnly = 1, None = 2 };

// Limits of the original platform.
inline constexpr std::size_t kMaxKeyNameBytes = 255;
inline constexpr std::size_t kMaxValueNameBytes = 16383;
inline constexpr int kMaxKeyDepth = 512;

// Raw registry type codes.
enum : std::uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_RESOURCE_LIST = 8,
    REG_QWORD = 11,
};

// True for the types whose data is text (and may be kept as UTF-16LE).
constexpr bool isTextType(std::uint32_t type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A name as stored: CP932 bytes, or UTF-16LE when it came from a Unicode source with
// characters that CP932 cannot hold.
struct StoredName {
    std::string bytes;
    bool wide = false;
    bool operator==(const StoredName&) const = default;
};

struct KeyRecord {
    KeyId id = 0;
    KeyId parent = 0;
    StoredName name;
    int depth = 0; // 0 for a root
    FileTime lastWrite = 0;
    KeyAccess access = KeyAccess::Full;
    std::uint32_t subKeys = 0;
    std::uint32_t maxSubKeyLen = 0;
};

struct RawValue {
    StoredName name;
    std::uint32_t type = REG_NONE;
    std::string data;      // as stored: CP932 or (dataWide) UTF-16LE for text types
    bool dataWide = false; // only for text types
    bool operator==(const RawValue&) const = default;
};

struct KeyInfo {
    std::uint32_t subKeys = 0;
    std::uint32_t maxSubKeyLen = 0;
    std::uint32_t values = 0;
    std::uint32_t maxValueNameLen = 0;
    std::uint32_t maxValueLen = 0;
    FileTime lastWrite = 0;
};

// The name as an ANSI program lists it: CP932, "〓" for characters CP932 lacks.
std::string listedName(const StoredName& n);
// Data as an ANSI program reads it.
std::string listedData(const RawValue& v);
// Upper-cased comparison form; names are unique by it within a key.
std::string foldName(const StoredName& n);

class ChangeWatch;

class Store {
public:
    struct Options {
        bool create = true;       // create a missing file
        bool seedWhenNew = false; // write the seed registry into a file this call created
    };

    static std::shared_ptr<Store> open(const std::filesystem::path& file, Options options);
    static std::shared_ptr<Store> open(const std::filesystem::path& file) {
        return open(file, Options{});
    }
    // One connection per file per process, shared by every access object.
    static std::shared_ptr<Store> shared(const std::filesystem::path& file, Options options);
    // The registry of this installation: SYSTEM.DAT in the system folder, seeded at first start.
    static std::shared_ptr<Store> system();
    // Forgets the shared connections (tests that switch folders).
    static void resetShared();

    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::filesystem::path& file() const { return file_; }
    // True when the file cannot be written: every key then opens read only.
    bool readOnly() const { return readOnly_; }
    // True when this call's open created the file.
    bool createdNow() const { return createdNow_; }
    static KeyId rootId(int rootIndex) { return rootIndex + 1; }

    // Drops the cache when the file has changed since the last look or the cache has grown
    // large. Cheap: no system call when nothing changed.
    void refresh();
    // Copies the commits waiting in the write-ahead log into the file itself, as far as the
    // readers of other connections allow, without waiting for them: readers of the raw file
    // then see them. True when the whole log is in the file; false when some of it had to
    // stay (a reader, a transaction or snapshot of this connection, a read-only file).
    bool checkpoint();

    // --- reads (nullptr / nullopt when the key is gone) ---
    const KeyRecord* key(KeyId id);
    std::optional<KeyId> child(KeyId parent, std::string_view cp932Name);
    std::optional<KeyId> child(KeyId parent, const StoredName& name);
    // Subkeys in upper-cased name order.
    const std::vector<KeyId>& children(KeyId parent);
    // Values in creation order.
    const std::vector<RawValue>& values(KeyId key);
    const RawValue* value(KeyId key, std::string_view cp932Name);
    KeyInfo info(KeyId key);
    // The key when it is in the cache (reading it costs no query), else nullptr.
    const KeyRecord* cachedKey(KeyId id) const;
    // Drops a key the caller is done with from the cache, as a walk does once past a subtree:
    // the cache then holds what the walk is about to read, not what it has read. References
    // into the key handed out before become invalid.
    void forget(KeyId id);

    // --- writes; each runs in the open transaction or in one of its own ---
    // Returns the child, creating it when missing. Checks the limits and the parent's access.
    KeyId createChild(KeyId parent, const StoredName& name, bool* created = nullptr);
    // Deletes a key without subkeys, with its values. Throws when it has subkeys or is not
    // writable.
    void deleteKey(KeyId id);
    // Creates or overwrites a value (an existing value keeps its name's case and its place).
    void setValue(KeyId key, const RawValue& v);
    bool deleteValue(KeyId key, std::string_view cp932Name);
    bool deleteValue(KeyId key, const StoredName& name);
    void setAccess(KeyId key, KeyAccess access);
    // Sets a key's last write time, as a loader that brings keys from a file does once the
    // key's subkeys and values are written.
    void setLastWrite(KeyId key, FileTime when);
    // Deletes every subkey of a key and every value of the key and its subkeys, in the open
    // transaction or in one of its own (a tree about to be loaded again from its file). The
    // key itself stays.
    void clearKey(KeyId key);

    // Writes what the open transaction changed in key records now rather than at commit, for
    // a caller that reads the file's rows itself before committing.
    void writePending();

    // A root may show another key of the store in its place (a Wine registry shows
    // HKEY_CURRENT_USER as the user's key under HKEY_USERS). Reads and writes addressed to the
    // root then reach that key; the root is still listed as a root (depth 0, no parent, its own
    // name) and cannot be deleted. When the key is gone the root shows its own (empty) tree.
    // Kept in the file, so every connection sees it. nullopt removes the view.
    void setRootView(int rootIndex, std::optional<KeyId> target);
    // The key a root shows, when it shows another.
    std::optional<KeyId> rootView(int rootIndex);

    // One transaction for many writes. Nested transactions join the outer one; the outermost
    // commits. Destroyed without commit() it rolls everything back.
    class Transaction {
    public:
        explicit Transaction(Store& s);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit();

    private:
        Store& s_;
        bool done_ = false;
    };

    // Keeps one read transaction open for a run of many reads (a walk), so that each query
    // does not take and release the file's locks on its own. The reads see the file as it was
    // when the first of them ran; a write of this connection ends the snapshot first, and the
    // next read opens a new one. Nested snapshots join the outer one.
    class ReadSnapshot {
    public:
        explicit ReadSnapshot(Store& s);
        ~ReadSnapshot();
        ReadSnapshot(const ReadSnapshot&) = delete;
        ReadSnapshot& operator=(const ReadSnapshot&) = delete;

    private:
        Store& s_;
    };

    // The raw connection: for tests and benchmarks, and for tables that a loader keeps beside
    // the registry in the same file (they then commit with its transactions).
    sqlite3* db() const { return db_; }
    // Drops the read cache (benchmarks measure a cold walk).
    void dropCache();
    // Changes whenever references handed out before may have become invalid.
    std::uint64_t generation() const;

private:
    struct Impl;
    Store(std::filesystem::path file, sqlite3* db, bool readOnly);
    void begin();
    void finish(bool commit);
    void requireWritable(const KeyRecord& k, std::string_view what);
    // The key a read or write addressed to `id` reaches: a viewed root's key, else `id`.
    KeyId viewed(KeyId id);

    std::filesystem::path file_;
    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    bool createdNow_ = false;
    std::unique_ptr<Impl> d_;
    friend class Transaction;
    friend class ReadSnapshot;
};

} // namespace klv
