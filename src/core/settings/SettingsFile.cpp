#include "core/settings/SettingsFile.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace fs = std::filesystem;

namespace klv {
namespace {

constexpr std::string_view kIniName = "KLOVANTE.INI";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

using Entry = std::pair<std::string_view, std::string_view>;
using KeyValues = std::vector<std::pair<std::string, std::string>>;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Single-byte letters compare without case; a double-byte character compares whole, because
// its trail byte may be a letter code ("ア" 83 41 and "ヂ" 83 61 are different names).
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (isCp932Lead(static_cast<unsigned char>(a[i]))) {
            if (a[i] != b[i] || (i + 1 < a.size() && a[i + 1] != b[i + 1]))
                return false;
            ++i;
        } else if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// "]" at a character boundary: the trail byte of a double-byte character may be 0x5D.
std::size_t findCloseBracket(std::string_view s, std::size_t from = 0) {
    for (std::size_t i = from; i < s.size(); ++i) {
        if (s[i] == ']')
            return i;
        if (isCp932Lead(static_cast<unsigned char>(s[i])))
            ++i;
    }
    return std::string_view::npos;
}

std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        return v.substr(1, v.size() - 2);
    return v;
}

std::optional<int> parseInt(std::string_view s) {
    if (s.starts_with('+')) {
        s.remove_prefix(1);
        if (s.starts_with('-'))
            return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

// Blank lines, comments and junk are Other: never matched, always kept.
enum class LineKind { Other, Section, Entry };
struct Line {
    LineKind kind = LineKind::Other;
    std::string_view name; // section or key, trimmed
    std::string_view value;
};

Line classify(std::string_view raw, bool firstLine) {
    if (firstLine && raw.starts_with(kUtf8Bom))
        raw.remove_prefix(kUtf8Bom.size());
    const std::string_view t = trim(raw);
    if (t.empty() || t.front() == ';' || t.front() == '#')
        return {};
    if (t.front() == '[') {
        const std::size_t close = findCloseBracket(t, 1);
        if (close == std::string_view::npos)
            return {};
        return {LineKind::Section, trim(t.substr(1, close - 1)), {}};
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos || trim(t.substr(0, eq)).empty())
        return {};
    return {LineKind::Entry, trim(t.substr(0, eq)), unquote(trim(t.substr(eq + 1)))};
}

// The comparison form of a name: single-byte letters in lower case, double-byte characters
// whole (as sameName compares).
std::string foldedName(std::string_view name) {
    std::string f(name);
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (isCp932Lead(static_cast<unsigned char>(f[i])))
            ++i;
        else
            f[i] = lowerAscii(f[i]);
    }
    return f;
}

// The file's text in CP932. A file saved in UTF-8 (with its mark, or valid UTF-8 holding
// multi-byte characters, as a Linux text editor saves it) is read as UTF-8; it is written back
// in CP932 at the next write, unless it holds characters CP932 lacks.
std::string settingsText(std::string bytes) {
    if (const auto utf8 = utf8FileText(bytes))
        return utf16ToCp932Lossy(utf8ToUtf16(*utf8));
    return bytes;
}

// Calls f(line, index) for each line without its CR LF or LF ending.
template <class F> void forEachLine(std::string_view text, F&& f) {
    std::size_t index = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        f(line, index++);
    }
}

// The digits of "P.<n>" when key is item n of list P in canonical decimal form.
std::optional<std::size_t> listIndex(std::string_view key, std::string_view prefix) {
    if (key.size() < prefix.size() + 2 || key[prefix.size()] != '.' ||
        !sameName(key.substr(0, prefix.size()), prefix))
        return std::nullopt;
    const std::string_view digits = key.substr(prefix.size() + 1);
    if (digits.size() > 1 && digits.front() == '0')
        return std::nullopt;
    std::size_t index = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return index;
}

// One section as the file holds it now, parsed in one pass. Not movable: entries point into
// the text.
class SectionSnapshot {
public:
    SectionSnapshot(const fs::path& file, std::string_view section) {
        try {
            text_ = settingsText(readFileBytes(file).value_or(std::string()));
        } catch (const FileError&) {
            return; // reads as a file with no keys
        }
        bool inside = false;
        forEachLine(text_, [&](std::string_view raw, std::size_t index) {
            const Line line = classify(raw, index == 0);
            if (line.kind == LineKind::Section)
                inside = sameName(line.name, section);
            else if (inside && line.kind == LineKind::Entry)
                entries_.emplace_back(line.name, line.value);
        });
    }
    SectionSnapshot(const SectionSnapshot&) = delete;
    SectionSnapshot& operator=(const SectionSnapshot&) = delete;

    // The first entry wins, as with the system's INI functions.
    std::optional<std::string_view> get(std::string_view key) const {
        for (const auto& [name, value] : entries_)
            if (sameName(name, key))
                return value;
        return std::nullopt;
    }
    std::optional<int> getInt(std::string_view key) const {
        const auto value = get(key);
        return value ? parseInt(*value) : std::nullopt;
    }
    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::string text_;
    std::vector<Entry> entries_;
};

// The file as lines for editing; lines it does not touch are written back unchanged. A file read
// from UTF-8 also keeps each line's UTF-8 bytes, for the lines that CP932 cannot hold.
class Document {
public:
    explicit Document(std::string_view text, std::optional<std::string_view> utf8 = {}) {
        forEachLine(text, [&](std::string_view line, std::size_t) {
            lines_.push_back({std::string(line), std::nullopt});
        });
        if (!utf8)
            return;
        std::vector<std::string> originals;
        forEachLine(*utf8,
                    [&](std::string_view line, std::size_t) { originals.emplace_back(line); });
        if (originals.size() == lines_.size())
            for (std::size_t i = 0; i < lines_.size(); ++i)
                // A line cut inside its last character is written as read: kept as it was,
                // with lines after it, it would make the whole file read as CP932.
                if (isValidUtf8(originals[i]))
                    lines_[i].original = std::move(originals[i]);
    }

    // Sets many keys of one section in one pass over the file, so that writing a list costs
    // time linear in the file, not one scan per item. Each key replaces its first line in the
    // section; keys not there yet go at the end of the section's first block, in order.
    void setAll(std::string_view section, const KeyValues& values) {
        std::unordered_map<std::string, std::size_t> at; // folded key -> its first line
        std::optional<std::size_t> header;
        std::size_t blockEnd = 0;
        bool inside = false;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const Line line = classify(lines_[i].text, i == 0);
            if (line.kind == LineKind::Section) {
                inside = sameName(line.name, section);
                if (inside && !header)
                    header = i;
            } else if (inside && line.kind == LineKind::Entry) {
                at.try_emplace(foldedName(line.name), i);
            }
            if (header && (i == *header || (inside && blockEnd == i)))
                blockEnd = i + 1; // the first block runs until the next section header
        }
        std::vector<std::string> added;
        std::unordered_map<std::string, std::size_t> addedAt; // folded key -> index in added
        for (const auto& [key, value] : values) {
            std::string newLine = key + "=" + value;
            const std::string folded = foldedName(key);
            if (const auto found = at.find(folded); found != at.end()) {
                lines_[found->second] = {std::move(newLine), std::nullopt};
            } else if (const auto again = addedAt.find(folded); again != addedAt.end()) {
                added[again->second] = std::move(newLine); // the later value wins
            } else {
                addedAt.emplace(folded, added.size());
                added.push_back(std::move(newLine));
            }
        }
        if (added.empty())
            return;
        if (!header) {
            if (!lines_.empty() && !trim(lines_.back().text).empty())
                lines_.emplace_back();
            lines_.push_back({"[" + std::string(section) + "]", std::nullopt});
            for (std::string& a : added)
                lines_.push_back({std::move(a), std::nullopt});
            return;
        }
        std::size_t end = blockEnd;
        while (end > *header + 1 && trim(lines_[end - 1].text).empty())
            --end;
        std::vector<DocLine> inserted;
        for (std::string& a : added)
            inserted.push_back({std::move(a), std::nullopt});
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(end),
                      std::make_move_iterator(inserted.begin()),
                      std::make_move_iterator(inserted.end()));
    }

    // Removes every line of the section whose key satisfies drop (all duplicates too, so that
    // none resurfaces).
    template <class Pred> void eraseKeys(std::string_view section, Pred&& drop) {
        bool inside = false;
        std::vector<DocLine> kept;
        kept.reserve(lines_.size());
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const Line line = classify(lines_[i].text, i == 0);
            if (line.kind == LineKind::Section)
                inside = sameName(line.name, section);
            else if (inside && line.kind == LineKind::Entry && drop(line.name))
                continue;
            kept.push_back(std::move(lines_[i]));
        }
        lines_ = std::move(kept);
    }

    void eraseSection(std::string_view section) {
        bool inside = false;
        std::vector<DocLine> kept;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const Line line = classify(lines_[i].text, i == 0);
            if (line.kind == LineKind::Section)
                inside = sameName(line.name, section);
            if (!inside)
                kept.push_back(std::move(lines_[i]));
        }
        lines_ = std::move(kept);
    }

    std::string text() const {
        std::string out;
        for (const DocLine& line : lines_)
            out.append(line.text).append("\r\n");
        return out;
    }
    // The lines read from UTF-8 as they were, the others converted.
    std::string utf8Text() const {
        std::string out;
        for (const DocLine& line : lines_)
            out.append(line.original ? *line.original : cp932ToUtf8(line.text)).append("\r\n");
        return out;
    }

private:
    struct DocLine {
        std::string text; // CP932
        std::optional<std::string> original;
    };
    std::vector<DocLine> lines_;
};

// Serialises read-modify-write cycles of all processes on the folder, so that two writers
// never lose each other's keys. flock works on a folder and leaves no lock file behind; where
// the file system refuses, writes go on unlocked.
class FolderLock {
public:
    explicit FolderLock(const fs::path& file) {
        const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

template <class Edit> void updateFile(const fs::path& file, Edit&& edit) {
    FolderLock lock(file);
    std::string old;
    try {
        old = readFileBytes(file).value_or(std::string());
    } catch (const FileReadError& e) {
        // Rewriting a file we could not read would lose its other keys.
        throw FileWriteError(file, e.reason());
    }
    // A UTF-8 file holding characters that CP932 lacks stays UTF-8: written back in CP932 they
    // would turn into "〓".
    const std::optional<std::string_view> utf8 = utf8FileText(old);
    bool lossy = false;
    const std::string cp932 = utf8 ? utf16ToCp932Lossy(utf8ToUtf16(*utf8), &lossy) : old;
    if (lossy) {
        Document doc(cp932, *utf8);
        edit(doc);
        const std::string text =
            (utf8->size() < old.size() ? std::string(kUtf8Bom) : "") + doc.utf8Text();
        if (text != old)
            writeFileAtomically(file, text);
        return;
    }
    Document doc(cp932);
    edit(doc);
    std::string text = doc.text();
    // CP932 text that happens to be valid UTF-8 ("ﾃｽ" is C3 BD, "ý" in UTF-8) would be read
    // back as UTF-8 and lose its characters: a comment holding a double-byte character that
    // no UTF-8 text can hold keeps it CP932 for every later read.
    if (utf8FileText(text))
        text = sj("; 文字コード : シフトJIS") + "\r\n" + text;
    if (text != old)
        writeFileAtomically(file, text);
}

[[noreturn]] void badName(std::string_view name) {
    throw std::invalid_argument(sj("設定の名前 \"") + std::string(name) + sj("\" は使えません"));
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool blankAtEnd(std::string_view s) {
    return isBlank(s.front()) || isBlank(s.back());
}

// A section name ending in a lead byte would take the closing "]" as its trail byte: the
// header written would not read back as a section.
bool endsInLeadByte(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size())
        i += isCp932Lead(static_cast<unsigned char>(s[i])) ? 2 : 1;
    return i > s.size();
}

void checkSection(std::string_view section) {
    if (section.empty() || hasLineBreak(section) || blankAtEnd(section) ||
        findCloseBracket(section) != std::string_view::npos || endsInLeadByte(section))
        badName(section);
}

void checkKey(std::string_view key) {
    if (key.empty() || hasLineBreak(key) || blankAtEnd(key) ||
        key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';' ||
        key.front() == '#')
        badName(key);
}

// The text as it goes after "=": quoted only when reading would otherwise lose blanks at
// either end or a pair of enclosing quotes.
std::string encodeValue(std::string_view value) {
    if (hasLineBreak(value))
        throw std::invalid_argument(sj("設定の値に改行は書けません"));
    const bool quote =
        !value.empty() &&
        (blankAtEnd(value) || (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    return quote ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::string joinKey(std::string_view prefix, std::string_view suffix) {
    return std::string(prefix) + std::string(suffix);
}

constexpr std::pair<std::string_view, int FontSetting::*> kFontInts[] = {
    {".Size", &FontSetting::size},
    {".Style", &FontSetting::style},
    {".Charset", &FontSetting::charset},
    {".Color", &FontSetting::color},
};

constexpr std::pair<std::string_view, int WindowPlacement::*> kPlacementKeys[] = {
    {".Flags", &WindowPlacement::flags}, {".Show", &WindowPlacement::show},
    {".MaxX", &WindowPlacement::maxX},   {".MaxY", &WindowPlacement::maxY},
    {".X", &WindowPlacement::x},         {".Y", &WindowPlacement::y},
    {".XSize", &WindowPlacement::width}, {".YSize", &WindowPlacement::height},
};

// Validates everything first, so that bad input changes nothing; then one rewrite for all.
void writeValues(const fs::path& file, std::string_view section, const KeyValues& values,
                 const std::function<void(Document&)>& alsoEdit = {}) {
    checkSection(section);
    for (const auto& [key, value] : values)
        checkKey(key);
    updateFile(file, [&](Document& doc) {
        doc.setAll(section, values);
        if (alsoEdit)
            alsoEdit(doc);
    });
}

} // namespace

SettingsFile::SettingsFile(fs::path file) : file_(std::move(file)) {}

fs::path SettingsFile::defaultPath() {
    const fs::path folder = programFolder();
    return findNoCase(folder, kIniName).value_or(folder / kIniName);
}

bool SettingsFile::readBool(std::string_view section, std::string_view key, bool def) const {
    const auto value = SectionSnapshot(file_, section).getInt(key);
    return value ? *value != 0 : def;
}

void SettingsFile::writeBool(std::string_view section, std::string_view key, bool value) {
    writeValues(file_, section, {{std::string(key), value ? "1" : "0"}});
}

int SettingsFile::readInt(std::string_view section, std::string_view key, int def) const {
    return SectionSnapshot(file_, section).getInt(key).value_or(def);
}

void SettingsFile::writeInt(std::string_view section, std::string_view key, int value) {
    writeValues(file_, section, {{std::string(key), std::to_string(value)}});
}

std::string SettingsFile::readString(std::string_view section, std::string_view key,
                                     std::string_view def) const {
    return std::string(SectionSnapshot(file_, section).get(key).value_or(def));
}

void SettingsFile::writeString(std::string_view section, std::string_view key,
                               std::string_view value) {
    writeValues(file_, section, {{std::string(key), encodeValue(value)}});
}

std::vector<std::string> SettingsFile::readList(std::string_view section, std::string_view prefix,
                                                const std::vector<std::string>& current,
                                                int limit) const {
    const SectionSnapshot snapshot(file_, section);
    const int most = std::clamp(limit, 0, kMaxListItems);
    const int fallback = static_cast<int>(std::min(current.size(), static_cast<std::size_t>(most)));
    const int count =
        std::clamp(snapshot.getInt(joinKey(prefix, ".Count")).value_or(fallback), 0, most);
    // One pass over the section instead of one look-up per item.
    std::vector<std::optional<std::string_view>> items(static_cast<std::size_t>(count));
    for (const auto& [name, value] : snapshot.entries()) {
        const auto index = listIndex(name, prefix);
        if (index && *index < items.size() && !items[*index])
            items[*index] = value;
    }
    std::vector<std::string> list;
    list.reserve(items.size());
    for (const auto& item : items)
        list.emplace_back(item.value_or(std::string_view()));
    return list;
}

void SettingsFile::writeList(std::string_view section, std::string_view prefix,
                             const std::vector<std::string>& items) {
    KeyValues values{{joinKey(prefix, ".Count"), std::to_string(items.size())}};
    for (std::size_t i = 0; i < items.size(); ++i)
        values.emplace_back(joinKey(prefix, "." + std::to_string(i)), encodeValue(items[i]));
    // Items beyond the new count would otherwise come back if the count grows again.
    writeValues(file_, section, values, [&](Document& doc) {
        doc.eraseKeys(section, [&](std::string_view name) {
            const auto index = listIndex(name, prefix);
            return index && *index >= items.size();
        });
    });
}

FontSetting SettingsFile::readFont(std::string_view section, std::string_view prefix,
                                   const FontSetting& def) const {
    const SectionSnapshot snapshot(file_, section);
    FontSetting font = def;
    if (const auto name = snapshot.get(joinKey(prefix, ".Name")))
        font.name = *name;
    for (const auto& [suffix, field] : kFontInts)
        font.*field = snapshot.getInt(joinKey(prefix, suffix)).value_or(def.*field);
    return font;
}

void SettingsFile::writeFont(std::string_view section, std::string_view prefix,
                             const FontSetting& font) {
    KeyValues values{{joinKey(prefix, ".Name"), encodeValue(font.name)}};
    for (const auto& [suffix, field] : kFontInts)
        values.emplace_back(joinKey(prefix, suffix), std::to_string(font.*field));
    writeValues(file_, section, values);
}

std::optional<WindowPlacement> SettingsFile::readPlacement(std::string_view section,
                                                           std::string_view prefix) const {
    const SectionSnapshot snapshot(file_, section);
    WindowPlacement placement;
    for (const auto& [suffix, field] : kPlacementKeys) {
        const auto value = snapshot.getInt(joinKey(prefix, suffix));
        if (!value)
            return std::nullopt;
        placement.*field = *value;
    }
    return placement;
}

void SettingsFile::writePlacement(std::string_view section, std::string_view prefix,
                                  const WindowPlacement& placement) {
    KeyValues values;
    for (const auto& [suffix, field] : kPlacementKeys)
        values.emplace_back(joinKey(prefix, suffix), std::to_string(placement.*field));
    writeValues(file_, section, values);
}

void SettingsFile::eraseSection(std::string_view section) {
    updateFile(file_, [&](Document& doc) { doc.eraseSection(section); });
}

std::vector<std::string> SettingsFile::sectionKeys(std::string_view section) const {
    const SectionSnapshot snapshot(file_, section);
    std::vector<std::string> keys;
    for (const auto& entry : snapshot.entries()) {
        const auto& name = entry.first;
        const bool seen = std::any_of(keys.begin(), keys.end(),
                                      [&](const std::string& k) { return sameName(k, name); });
        if (!seen)
            keys.emplace_back(name);
    }
    return keys;
}

bool SettingsFile::hasKey(std::string_view section, std::string_view key) const {
    return SectionSnapshot(file_, section).get(key).has_value();
}

} // namespace klv
