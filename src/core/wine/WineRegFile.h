#pragma once
// Wine's registry files (system.reg, user.reg, userdef.reg): "WINE REGISTRY Version 2" text,
// read into a tree and written back exactly as Wine's server writes them, so that a file Wine
// wrote comes back byte for byte when nothing was changed.
#include "core/platform/TimeText.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace klv::wine {

// A file that is not Wine's format. what() is the CP932 message with the line number.
class WineFormatError : public std::runtime_error {
public:
    WineFormatError(std::string message, std::size_t line)
        : std::runtime_error(std::move(message)), line_(line) {}
    std::size_t line() const { return line_; }

private:
    std::size_t line_;
};

struct WineValue {
    std::u16string name; // empty: the default value ("@")
    std::uint32_t type = 0;
    std::string data; // raw bytes as Wine keeps them: UTF-16LE for text written as a string
};

struct WineKey {
    std::u16string name;
    FileTime modified = 0; // FILETIME ticks, as "#time=" gives them
    std::optional<std::u16string> keyClass;
    bool link = false; // a symbolic link key ("#link")
    std::vector<WineValue> values;
    std::vector<WineKey*> subkeys; // owned by the file's key pool
};

class WineRegFile {
public:
    WineRegFile();
    WineRegFile(WineRegFile&&) noexcept;
    WineRegFile& operator=(WineRegFile&&) noexcept;
    WineRegFile(const WineRegFile&) = delete;
    WineRegFile& operator=(const WineRegFile&) = delete;

    // Throws WineFormatError.
    static WineRegFile parse(std::string_view bytes);
    // The file as Wine writes it: keys in Wine's name order, values too; a key is written when
    // it has values, a class or a link mark, or no subkeys.
    std::string write() const;

    // The path of the ";; All keys relative to" comment, unescaped ("\User\S-1-5-21-...").
    std::u16string relativeTo;
    // The "#arch=" option ("win32", "win64"), empty when the file has none.
    std::string arch;

    WineKey& root() { return *root_; }
    const WineKey& root() const { return *root_; }
    // A new key owned by this file, not yet linked into the tree.
    WineKey& newKey(std::u16string name);
    // The subkey of `parent` named `name` (Wine's case rule), created when missing.
    WineKey& child(WineKey& parent, std::u16string_view name);
    std::size_t keyCount() const { return pool_.size(); }
    // True when a key or value name, or a name of the relative path, ends in NUL: written
    // without that NUL, as Wine writes it, it may meet another name when read again ("a\0"
    // and "a", "\0" and the default value).
    bool hasNameEndingInNul() const;

private:
    std::deque<WineKey> pool_;
    WineKey* root_ = nullptr;
    std::unordered_map<std::u16string, WineKey*> childIndex_; // see child()
};

// One key's lines as write() gives them within its file ("\n[path] seconds" through its last
// value), or nothing for a key that gets no line (one with subkeys and nothing else). `path`:
// its names below the file's base key; `hasSubkeys` stands for key.subkeys, which may be empty.
std::string writeWineKey(const std::vector<std::u16string>& path, const WineKey& key,
                         bool hasSubkeys);

// The names of a key line's path ("[A\\B] 1" gives A and B; "[]" none); nullopt for a line
// that is no key line.
std::optional<std::vector<std::u16string>> wineKeyLinePath(std::string_view line);
// Wine's order of keys in a file: depth first, a key before its subkeys, siblings by name.
int compareWinePaths(const std::vector<std::u16string>& a, const std::vector<std::u16string>& b);

// Wine's comparison of names: UTF-16 units lower-cased one by one, then the shorter first.
int compareWineNames(std::u16string_view a, std::u16string_view b);

// The seconds Wine writes after a key line, from the key's FILETIME (wrapping as Wine's does).
std::uint32_t wineKeySeconds(FileTime modified);
inline constexpr FileTime kFileTimeOf1970 = 116444736000000000ULL;

} // namespace klv::wine
