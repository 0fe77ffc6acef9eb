#pragma once
// A snapshot database file (DB\<root>.DB): INI-style sections of entries, CP932, CR LF, kept
// whole in memory. Section and entry names match without regard to case.
//
// Names and texts that the plain layout cannot hold (an "=" in a name, a name beginning with
// "[" or named "@" itself, "!." inside a name, CR or LF, characters CP932 lacks) are escaped
// with the byte 7F followed by two hex digits (or "u" and four for a UTF-16 unit); a line
// without such characters is written exactly as the plain layout has it, so older files read.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

struct RawValue;
struct StoredName;

// Reads and writes go through a text buffer of this size.
inline constexpr std::size_t kSnapshotBufferSize = 0x70000;

// --- escaping -----------------------------------------------------------------------------------

// The entry name of a value: "@" for the default value, else the escaped name.
std::string snapshotValueName(const StoredName& name);
// The section name of a key: root name + "\" + path below the root (no leading backslash),
// escaped where needed.
std::string snapshotSectionName(std::string_view rootName, std::string_view keyPathCp932);
// A CP932 text as an entry's value (CR, LF and 7F escaped).
std::string snapshotText(std::string_view cp932);
// A stored text of a value as an entry's value: CP932 text as is, wide text with escapes.
std::string snapshotValueText(const RawValue& v);
// The text shown for an escaped name or value (escapes undone as far as CP932 can show them).
std::string snapshotShown(std::string_view escaped);

// Names compared as the file matches them: ASCII letters without regard to case.
bool snapshotNamesEqual(std::string_view a, std::string_view b);

// --- the file -----------------------------------------------------------------------------------

class SnapshotDatabase {
public:
    SnapshotDatabase();
    ~SnapshotDatabase();
    SnapshotDatabase(SnapshotDatabase&&) noexcept;
    SnapshotDatabase& operator=(SnapshotDatabase&&) noexcept;

    // The file's sections and entries. Throws FileReadError when it cannot be read; a missing
    // file reads as an empty database.
    static SnapshotDatabase load(const std::filesystem::path& file);
    // Parses the bytes of a database file.
    static SnapshotDatabase parse(std::string bytes);

    // nullopt when the entry is missing.
    std::optional<std::string_view> read(std::string_view section, std::string_view name) const;
    // Replaces the entry in place, appends it to its section, or appends a new section.
    void write(std::string_view section, std::string_view name, std::string_view value);
    void eraseSection(std::string_view section);
    void eraseEntry(std::string_view section, std::string_view name);

    // Sections in file order (erased ones skipped), with their entry names in order.
    std::vector<std::string> sectionNames() const;
    std::vector<std::string> entryNames(std::string_view section) const;
    bool hasSection(std::string_view section) const;
    // Visits sections in file order (the visit may erase them) and a section's entry names.
    void forEachSection(const std::function<void(std::string_view name, bool marked)>& visit) const;
    void forEachEntry(std::string_view section,
                      const std::function<void(std::string_view name)>& visit) const;
    // A section by its position, found once for many reads. The position `hint` is tried
    // first: a walk in the order the file was written finds each key right after the last.
    std::optional<std::size_t> findSection(std::string_view section,
                                           std::size_t hint = SIZE_MAX) const;
    // True when the section's entries, written as "name=value" CR LF lines in order, are
    // exactly `lines`.
    bool sameEntries(std::size_t section, std::string_view lines) const;
    // A mark on a section for the caller's own use (a comparison marks the keys it reached).
    void mark(std::size_t section);

    // True after a write or an erase.
    bool changed() const;
    // The rebuilt layout: per section with entries "[" name "]", its entries, an empty line.
    std::string text() const;
    // The same in pieces of about the buffer's size.
    void writeText(const std::function<void(std::string_view)>& sink) const;
    // Writes text() to a temporary file renamed over `file`. Throws FileWriteError.
    void save(const std::filesystem::path& file) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// How a value is kept: one text, one number, or a list of lines (the items of a multi-string,
// the hex text of anything else).
enum class SnapshotForm { Text, Number, Lines };
SnapshotForm snapshotFormOf(const RawValue& v);
std::uint32_t snapshotNumber(const RawValue& v);
// The lines of a Lines value: escaped items, or hex text ("0A FF ...") cut into lines.
std::vector<std::string> snapshotLines(const RawValue& v);
// Appends the plain build layout of one key: an empty line and the section line.
void appendSnapshotSection(std::string& out, std::string_view section);
// Appends the lines of one value of a key as the build writes them.
void appendSnapshotValue(std::string& out, const RawValue& v);

} // namespace klv
