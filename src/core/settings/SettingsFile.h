#pragma once
// The program's INI file (KLOVANTE.INI in the program folder), CP932 throughout; a file that a
// text editor saved in UTF-8 is read as such and written back in CP932 (in UTF-8 again, its
// untouched lines as they were, when it holds characters that CP932 lacks).
//
// Nothing is cached: every read parses the file afresh and every write replaces it on disk at
// once (atomically), so all windows and processes see a change at their next read. Section and
// key names compare without regard to ASCII case; a missing file or key reads as the caller's
// default. Lines the class does not understand are kept as they are when it rewrites the file.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

struct FontSetting {
    enum Style { Bold = 1, Italic = 2, Underline = 4, StrikeOut = 8 };
    std::string name;
    int size = 0;
    int style = 0; // Style bits
    int charset = 0;
    int color = 0;
    bool operator==(const FontSetting&) const = default;
};

// A window's placement record: flags, show state, maximised position, normal rectangle.
struct WindowPlacement {
    int flags = 0;
    int show = 0;
    int maxX = 0;
    int maxY = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const WindowPlacement&) const = default;
};

// Reads never throw: an unreadable file reads as defaults. Writes throw FileWriteError (from
// platform/AtomicFile.h) when the file cannot be read or replaced, leaving it as it was, and
// std::invalid_argument for a name or value that an INI line cannot hold (a line break, "=" in
// a key, "]" in a section, blanks at either end of a name).
class SettingsFile {
public:
    explicit SettingsFile(std::filesystem::path file);

    // KLOVANTE.INI in the program folder, found without regard to case; that name when absent.
    static std::filesystem::path defaultPath();
    const std::filesystem::path& path() const { return file_; }

    // Written "1"/"0"; read as an integer, nonzero is true; not a number yields the default.
    bool readBool(std::string_view section, std::string_view key, bool def) const;
    void writeBool(std::string_view section, std::string_view key, bool value);

    // Decimal; a value that is not a decimal int (junk, out of range) yields the default.
    int readInt(std::string_view section, std::string_view key, int def) const;
    void writeInt(std::string_view section, std::string_view key, int value);

    // Read trimmed and without enclosing double quotes. Written as is, unless blanks at either
    // end or enclosing quotes would be lost: then it is quoted.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view def = {}) const;
    void writeString(std::string_view section, std::string_view key, std::string_view value);

    // List P: P.Count = n and P.0 .. P.(n-1). Reads as many items as P.Count says (default:
    // current.size()), at most `limit` (the list's own limit; a garbled count never loads more)
    // and at most kMaxListItems; a missing item reads as empty. Writing removes items beyond the
    // new count, in time linear in the file.
    static constexpr int kMaxListItems = 65536;
    std::vector<std::string> readList(std::string_view section, std::string_view prefix,
                                      const std::vector<std::string>& current = {},
                                      int limit = kMaxListItems) const;
    void writeList(std::string_view section, std::string_view prefix,
                   const std::vector<std::string>& items);

    // F.Name, F.Size, F.Style, F.Charset, F.Color; a missing or bad key keeps def's field.
    FontSetting readFont(std::string_view section, std::string_view prefix,
                         const FontSetting& def) const;
    void writeFont(std::string_view section, std::string_view prefix, const FontSetting& font);

    // W.Flags, W.Show, W.MaxX, W.MaxY, W.X, W.Y, W.XSize, W.YSize. nullopt unless all eight
    // are present and numbers: half a placement would put a window somewhere odd.
    std::optional<WindowPlacement> readPlacement(std::string_view section,
                                                 std::string_view prefix) const;
    void writePlacement(std::string_view section, std::string_view prefix,
                        const WindowPlacement& placement);

    // Removes the section's header and every line under it (all occurrences).
    void eraseSection(std::string_view section);
    // Key names as spelled in the file, in file order; a repeated key is listed once.
    std::vector<std::string> sectionKeys(std::string_view section) const;
    bool hasKey(std::string_view section, std::string_view key) const;

private:
    std::filesystem::path file_;
};

} // namespace klv
