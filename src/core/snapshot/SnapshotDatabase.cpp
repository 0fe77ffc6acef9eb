#include "core/snapshot/SnapshotDatabase.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Cp932Table.h"
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/Store.h"

#include <charconv>
#include <cstring>
#include <deque>

namespace klv {

namespace {

constexpr char kEsc = '\x7F';
constexpr char kHex[] = "0123456789ABCDEF";

void escapeByte(std::string& out, unsigned char c) {
    out += kEsc;
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

enum class Role { Name, Text, KeyName };

// Appends CP932 text, escaping what its role cannot hold. `first` is true when the text starts
// the name.
// True when the text holds none of the bytes its role escapes. None of them can be the second
// byte of a double-byte character ("[" can, but only counts as the very first byte).
bool plain(std::string_view s, Role role, bool first) {
    if (role == Role::Name && first && !s.empty() && s.front() == '[')
        return false;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r' || c == '\n' || c == 0x7F || (role == Role::Name && (c == '=' || c == '!')))
            return false;
    }
    return true;
}

void appendEscaped(std::string& out, std::string_view s, Role role, bool first) {
    if (plain(s, role, first)) {
        out += s;
        return;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        // Only a real trail byte goes with a lead byte: a lone lead byte must not carry a CR,
        // LF, "=" or 7F past the escaping into the file.
        if (Cp932Table::charLength(s, i) == 2) {
            out += s[i];
            out += s[++i];
            continue;
        }
        const bool escape =
            c == '\r' || c == '\n' || c == 0x7F ||
            (role == Role::Name && (c == '=' || (c == '[' && first && i == 0) ||
                                    (c == '!' && i + 1 < s.size() && s[i + 1] == '.')));
        if (escape)
            escapeByte(out, c);
        else
            out += s[i];
    }
}

// Appends UTF-16LE text: what CP932 holds as CP932 (escaped by role), the rest as 7F "u" and
// four hex digits per UTF-16 unit.
void appendWide(std::string& out, std::string_view utf16, Role role, bool first) {
    for (std::size_t i = 0; i + 1 < utf16.size();) {
        const auto unit = static_cast<std::uint16_t>(static_cast<unsigned char>(utf16[i]) |
                                                     static_cast<unsigned char>(utf16[i + 1]) << 8);
        std::size_t n = 2;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < utf16.size())
            n = 4; // a surrogate pair is one character
        const std::string_view ch = utf16.substr(i, n);
        if (const auto cp = tryUtf16ToCp932(ch)) {
            appendEscaped(out, *cp, role, first && i == 0);
        } else {
            for (std::size_t k = 0; k < n; k += 2) {
                const unsigned u = static_cast<unsigned char>(ch[k]) |
                                   static_cast<unsigned>(static_cast<unsigned char>(ch[k + 1]))
                                       << 8;
                out += kEsc;
                out += 'u';
                for (int shift = 12; shift >= 0; shift -= 4)
                    out += kHex[(u >> shift) & 15];
            }
        }
        i += n;
    }
}

void appendName(std::string& out, const StoredName& name) {
    if (name.bytes.empty()) {
        out += '@';
    } else if (!name.wide && name.bytes == "@") {
        escapeByte(out, '@'); // a value named "@" is not the default value
    } else if (name.wide) {
        appendWide(out, name.bytes, Role::Name, true);
    } else {
        appendEscaped(out, name.bytes, Role::Name, true);
    }
}

// The data of a text value up to its first NUL, as the text is read.
void appendValueText(std::string& out, const RawValue& v) {
    if (!v.dataWide) {
        const std::string_view d = v.data;
        appendEscaped(out, d.substr(0, d.find('\0')), Role::Text, false);
        return;
    }
    std::size_t end = 0;
    while (end + 1 < v.data.size() && (v.data[end] != '\0' || v.data[end + 1] != '\0'))
        end += 2;
    appendWide(out, std::string_view(v.data).substr(0, end), Role::Text, false);
}

// Folding for names: ASCII letters upper-cased, double-byte characters stepped over whole.
inline unsigned char foldByte(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
}

// ASCII small letters of eight bytes made capitals at once.
inline std::uint64_t foldWord(std::uint64_t x) {
    constexpr std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    const std::uint64_t low7 = x & ~highs;
    const std::uint64_t atLeastA = low7 + (0x80 - 'a') * ones;
    const std::uint64_t aboveZ = low7 + (0x80 - 'z' - 1) * ones;
    const std::uint64_t small = atLeastA & ~aboveZ & ~x & highs;
    return x - (small >> 2);
}

// Folds every byte, second bytes of double-byte characters too: names that compare equal
// still hash equal, and hashing needs no walk over the characters.
std::size_t foldHash(std::string_view s) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ foldWord(w)) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    if (i < s.size()) {
        std::uint64_t w = 0;
        std::memcpy(&w, s.data() + i, s.size() - i);
        h = (h ^ foldWord(w)) * 0xFF51AFD7ED558CCDull;
    }
    h ^= h >> 29;
    return static_cast<std::size_t>(h);
}

bool foldEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        if (isCp932Lead(x) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
        } else if (foldByte(x) != foldByte(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// An erased entry keeps its place with a null name.
struct Entry {
    std::string_view name;
    std::string_view value;
    bool erased() const { return name.data() == nullptr; }
};

// A section's lines stay as raw text in the file's bytes until something needs its entries:
// a key that did not change compares as its text, and is written back as that text.
struct Section {
    std::string_view name;
    std::string_view body; // the lines after the section line, up to the next section
    std::uint32_t hash = 0;
    bool erased = false;
    bool marked = false;
    bool parsed = false; // `entries` hold the section
    bool clean = false;  // `body` is known to be exactly its entries' lines
    std::vector<Entry> entries;
    std::unique_ptr<std::vector<std::string_view>> more; // bodies of the name met again
};

// The body without the empty lines that end it.
std::string_view trimmedBody(std::string_view body) {
    while (body.size() >= 2 && body.substr(body.size() - 2) == "\r\n" &&
           (body.size() == 2 || body[body.size() - 3] == '\n'))
        body.remove_suffix(2);
    return body;
}

void parseLines(std::string_view body, std::vector<Entry>& entries) {
    for (std::size_t at = 0; at < body.size();) {
        std::size_t end = body.find('\n', at);
        if (end == std::string_view::npos)
            end = body.size();
        std::string_view line = body.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        const std::size_t eq = line.find('=');
        // A name met twice stays twice; reads and writes take the first, as lookups find it.
        entries.push_back({line.substr(0, eq), eq == std::string_view::npos
                                                   ? std::string_view("", 0)
                                                   : line.substr(eq + 1)});
    }
}

} // namespace

bool snapshotNamesEqual(std::string_view a, std::string_view b) {
    return foldEqual(a, b);
}

// --- escaping -----------------------------------------------------------------------------------

std::string snapshotValueName(const StoredName& name) {
    std::string out;
    appendName(out, name);
    return out;
}

std::string snapshotSectionName(std::string_view rootName, std::string_view keyPathCp932) {
    std::string out(rootName);
    out += '\\';
    appendEscaped(out, keyPathCp932, Role::KeyName, false);
    return out;
}

std::string snapshotText(std::string_view cp932) {
    std::string out;
    appendEscaped(out, cp932, Role::Text, false);
    return out;
}

std::string snapshotValueText(const RawValue& v) {
    std::string out;
    appendValueText(out, v);
    return out;
}

std::string snapshotShown(std::string_view s) {
    if (s.find(kEsc) == std::string_view::npos)
        return std::string(s);
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (Cp932Table::charLength(s, i) == 2) { // as the escaping paired them
            out += s[i];
            out += s[++i];
        } else if (c == 0x7F && i + 5 < s.size() && s[i + 1] == 'u') {
            // One "〓" per character: a surrogate pair's two units make one.
            out += kCp932Geta;
            const bool high = (hexDigitValue(s[i + 2]) == 0xD && hexDigitValue(s[i + 3]) >= 8 &&
                               hexDigitValue(s[i + 3]) <= 0xB);
            i += 5;
            if (high && i + 6 < s.size() && s[i + 1] == 0x7F && s[i + 2] == 'u')
                i += 6;
        } else if (c == 0x7F && i + 2 < s.size() && hexDigitValue(s[i + 1]) >= 0 &&
                   hexDigitValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexDigitValue(s[i + 1]) << 4 | hexDigitValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// --- the file -----------------------------------------------------------------------------------

struct SnapshotDatabase::Impl {
    std::string buffer;            // the file's bytes; views point into it
    std::deque<std::string> arena; // texts written since (a deque keeps them in place)
    std::vector<Section> sections;
    std::vector<std::uint32_t> slots; // open addressing: section index + 1, 0 = empty
    std::size_t live = 0;
    bool changed = false;

    std::string_view keep(std::string_view s) { return arena.emplace_back(s); }

    std::optional<std::size_t> find(std::string_view name) const {
        if (slots.empty())
            return std::nullopt;
        const std::size_t mask = slots.size() - 1;
        const auto h = static_cast<std::uint32_t>(foldHash(name));
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const std::uint32_t s = slots[i];
            if (s == 0)
                return std::nullopt;
            // Erased sections keep their slot, so that the probe chains through them hold.
            const Section& sec = sections[s - 1];
            if (sec.hash == h && !sec.erased && foldEqual(sec.name, name))
                return s - 1;
        }
    }

    void place(std::size_t section) {
        const std::size_t mask = slots.size() - 1;
        std::size_t i = sections[section].hash & mask;
        while (slots[i] != 0)
            i = (i + 1) & mask;
        slots[i] = static_cast<std::uint32_t>(section + 1);
        ++live;
    }

    std::size_t addSection(std::string_view name) {
        Section s;
        s.name = name;
        s.hash = static_cast<std::uint32_t>(foldHash(name));
        sections.push_back(std::move(s));
        if ((live + 1) * 2 > slots.size()) {
            slots.assign(std::max<std::size_t>(64, slots.size() * 2), 0);
            live = 0;
            for (std::size_t i = 0; i < sections.size(); ++i)
                place(i);
        } else {
            place(sections.size() - 1);
        }
        return sections.size() - 1;
    }

    Section& parsed(Section& s) {
        if (!s.parsed) {
            parseLines(s.body, s.entries);
            if (s.more)
                for (std::string_view body : *s.more)
                    parseLines(body, s.entries);
            s.parsed = true;
        }
        return s;
    }

    // Visits the live entries of a section in order; stops when `visit` returns true.
    template <class F> Entry* scan(Section& s, F&& visit) {
        for (Entry& e : parsed(s).entries)
            if (!e.erased() && visit(e))
                return &e;
        return nullptr;
    }
    Entry* entry(Section& s, std::string_view name) {
        return scan(s, [name](const Entry& e) { return foldEqual(e.name, name); });
    }
};

SnapshotDatabase::SnapshotDatabase() : d_(std::make_unique<Impl>()) {}
SnapshotDatabase::~SnapshotDatabase() = default;
SnapshotDatabase::SnapshotDatabase(SnapshotDatabase&&) noexcept = default;
SnapshotDatabase& SnapshotDatabase::operator=(SnapshotDatabase&&) noexcept = default;

SnapshotDatabase SnapshotDatabase::load(const std::filesystem::path& file) {
    std::optional<std::string> bytes = readFileBytes(file);
    return parse(bytes ? std::move(*bytes) : std::string());
}

SnapshotDatabase SnapshotDatabase::parse(std::string bytes) {
    SnapshotDatabase db;
    Impl& d = *db.d_;
    d.buffer = std::move(bytes);
    const std::string_view all = d.buffer;
    d.sections.reserve(all.size() / 150 + 16); // about one section per 180 bytes
    std::optional<std::size_t> current;
    std::size_t bodyStart = 0;
    const auto endBody = [&](std::size_t end) {
        if (!current)
            return; // lines before the first section belong to none
        const std::string_view body = all.substr(bodyStart, end - bodyStart);
        Section& s = d.sections[*current];
        if (s.body.data() == nullptr) {
            s.body = body;
        } else {
            // A section met again later in the file adds its entries to the first one.
            if (!s.more)
                s.more = std::make_unique<std::vector<std::string_view>>();
            s.more->push_back(body);
        }
    };
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t lineStart = at;
        const void* nl = std::memchr(all.data() + at, '\n', all.size() - at);
        const std::size_t end =
            nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - all.data()) : all.size();
        at = end + 1;
        if (all[lineStart] != '[')
            continue;
        std::string_view line = all.substr(lineStart, end - lineStart);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() < 2 || line.back() != ']')
            continue;
        endBody(lineStart);
        const std::string_view name = line.substr(1, line.size() - 2);
        current = d.find(name);
        if (!current)
            current = d.addSection(name);
        bodyStart = std::min(at, all.size());
    }
    endBody(all.size());
    return db;
}

std::optional<std::string_view> SnapshotDatabase::read(std::string_view section,
                                                       std::string_view name) const {
    const auto s = d_->find(section);
    if (!s)
        return std::nullopt;
    if (const Entry* e = d_->entry(d_->sections[*s], name))
        return e->value;
    return std::nullopt;
}

void SnapshotDatabase::write(std::string_view section, std::string_view name,
                             std::string_view value) {
    Impl& d = *d_;
    d.changed = true;
    std::optional<std::size_t> s = d.find(section);
    if (!s) {
        s = d.addSection(d.keep(section));
        d.sections[*s].parsed = true;
    }
    Section& sec = d.sections[*s];
    if (Entry* e = d.entry(sec, name))
        e->value = d.keep(value);
    else
        sec.entries.push_back({d.keep(name), d.keep(value)});
}

void SnapshotDatabase::eraseSection(std::string_view section) {
    const auto s = d_->find(section);
    if (!s)
        return;
    d_->sections[*s].erased = true;
    d_->changed = true;
}

void SnapshotDatabase::eraseEntry(std::string_view section, std::string_view name) {
    const auto s = d_->find(section);
    if (!s)
        return;
    if (Entry* e = d_->entry(d_->sections[*s], name)) {
        e->name = std::string_view();
        d_->changed = true;
    }
}

std::vector<std::string> SnapshotDatabase::sectionNames() const {
    std::vector<std::string> out;
    for (const Section& s : d_->sections)
        if (!s.erased)
            out.emplace_back(s.name);
    return out;
}

std::vector<std::string> SnapshotDatabase::entryNames(std::string_view section) const {
    std::vector<std::string> out;
    forEachEntry(section, [&out](std::string_view name) { out.emplace_back(name); });
    return out;
}

void SnapshotDatabase::forEachSection(
    const std::function<void(std::string_view name, bool marked)>& visit) const {
    // By index: erasing a section during the visit leaves the list in place.
    for (std::size_t i = 0; i < d_->sections.size(); ++i)
        if (!d_->sections[i].erased)
            visit(d_->sections[i].name, d_->sections[i].marked);
}

void SnapshotDatabase::forEachEntry(std::string_view section,
                                    const std::function<void(std::string_view name)>& visit) const {
    if (const auto s = d_->find(section))
        d_->scan(d_->sections[*s], [&visit](const Entry& e) {
            visit(e.name);
            return false;
        });
}

std::optional<std::size_t> SnapshotDatabase::findSection(std::string_view section,
                                                         std::size_t hint) const {
    const auto& all = d_->sections;
    if (hint < all.size() && !all[hint].erased && foldEqual(all[hint].name, section))
        return hint;
    return d_->find(section);
}

void SnapshotDatabase::mark(std::size_t section) {
    d_->sections[section].marked = true;
}

bool SnapshotDatabase::sameEntries(std::size_t section, std::string_view lines) const {
    Section& s = d_->sections[section];
    if (!s.parsed && !s.more) {
        // The text as it stands: equal means nothing in it needs reading. Otherwise the
        // entries are read, as the text may hold the same in another layout.
        s.clean = trimmedBody(s.body) == lines;
        if (s.clean)
            return true;
    }
    const Entry* differs = d_->scan(s, [&lines](const Entry& e) {
        const std::size_t n = e.name.size() + 1 + e.value.size() + 2;
        if (lines.size() < n || lines.compare(0, e.name.size(), e.name) != 0 ||
            lines[e.name.size()] != '=' ||
            lines.compare(e.name.size() + 1, e.value.size(), e.value) != 0 ||
            lines.compare(n - 2, 2, "\r\n") != 0)
            return true;
        lines.remove_prefix(n);
        return false;
    });
    return !differs && lines.empty();
}

bool SnapshotDatabase::hasSection(std::string_view section) const {
    return d_->find(section).has_value();
}

bool SnapshotDatabase::changed() const {
    return d_->changed;
}

std::string SnapshotDatabase::text() const {
    std::string out;
    writeText([&out](std::string_view piece) { out += piece; });
    return out;
}

void SnapshotDatabase::writeText(const std::function<void(std::string_view)>& sink) const {
    std::string out;
    out.reserve(kSnapshotBufferSize + 4096);
    for (Section& s : d_->sections) {
        if (s.erased)
            continue;
        if (!s.parsed && s.clean) {
            const std::string_view body = trimmedBody(s.body);
            if (!body.empty()) {
                out += '[';
                out += s.name;
                out += "]\r\n";
                out += body;
                out += "\r\n";
            }
        } else {
            bool any = false;
            d_->scan(s, [&](const Entry& e) {
                if (!any) {
                    out += '[';
                    out += s.name;
                    out += "]\r\n";
                    any = true;
                }
                out += e.name;
                out += '=';
                out += e.value;
                out += "\r\n";
                return false;
            });
            if (any)
                out += "\r\n";
        }
        if (out.size() >= kSnapshotBufferSize) {
            sink(out);
            out.clear();
        }
    }
    sink(out);
}

void SnapshotDatabase::save(const std::filesystem::path& file) const {
    AtomicFileWriter writer(file);
    writeText([&writer](std::string_view piece) { writer.write(piece); });
    writer.commit();
}

// --- the build layout ---------------------------------------------------------------------------

void appendSnapshotSection(std::string& out, std::string_view section) {
    out += "\r\n[";
    out += section;
    out += "]\r\n";
}

namespace {
// Hex text lines of binary data: this many bytes per line.
constexpr std::size_t kBytesPerLine = 32;
} // namespace

SnapshotForm snapshotFormOf(const RawValue& v) {
    const ValueKind kind = valueKindOf(v.type);
    if (kind == ValueKind::String || kind == ValueKind::ExpandString)
        return SnapshotForm::Text;
    // A number longer than four bytes cannot be read as one: its bytes are kept as lines.
    if (kind == ValueKind::Integer && v.data.size() <= 4)
        return SnapshotForm::Number;
    return SnapshotForm::Lines;
}

std::uint32_t snapshotNumber(const RawValue& v) {
    unsigned char b[4] = {0, 0, 0, 0};
    std::memcpy(b, v.data.data(), std::min<std::size_t>(v.data.size(), 4));
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
           std::uint32_t(b[3]) << 24;
}

std::vector<std::string> snapshotLines(const RawValue& v) {
    std::vector<std::string> lines;
    if (valueKindOf(v.type) == ValueKind::MultiString) {
        if (!v.dataWide) {
            for (const std::string& item : multiStringItems(v.data))
                lines.push_back(snapshotText(item));
            return lines;
        }
        // UTF-16 items end at a NUL unit; an empty item ends the list.
        const std::string_view d = v.data;
        std::size_t start = 0;
        for (std::size_t i = 0; i + 1 < d.size(); i += 2) {
            if (d[i] != '\0' || d[i + 1] != '\0')
                continue;
            if (i == start)
                break;
            std::string item;
            appendWide(item, d.substr(start, i - start), Role::Text, false);
            lines.push_back(std::move(item));
            start = i + 2;
        }
        return lines;
    }
    for (std::size_t i = 0; i < v.data.size(); i += kBytesPerLine) {
        std::string line;
        for (std::size_t k = i; k < std::min(v.data.size(), i + kBytesPerLine); ++k) {
            const auto c = static_cast<unsigned char>(v.data[k]);
            line += kHex[c >> 4];
            line += kHex[c & 15];
            line += ' ';
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

void appendSnapshotValue(std::string& out, const RawValue& v) {
    switch (snapshotFormOf(v)) {
    case SnapshotForm::Text:
        appendName(out, v.name);
        out += '=';
        appendValueText(out, v);
        out += "\r\n";
        return;
    case SnapshotForm::Number: {
        appendName(out, v.name);
        out += '=';
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, snapshotNumber(v)).ptr;
        out.append(digits, end);
        out += "\r\n";
        return;
    }
    case SnapshotForm::Lines:
        break;
    }
    // The name's escaped form, at the end of `out`, is copied before each line.
    const std::size_t nameAt = out.size();
    appendName(out, v.name);
    const std::size_t nameLength = out.size() - nameAt;
    const auto line = [&](std::size_t i) {
        out.append(out, nameAt, nameLength);
        out += "!.";
        char digits[24];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, i).ptr);
        out += '=';
    };
    if (valueKindOf(v.type) == ValueKind::MultiString) {
        const std::vector<std::string> items = snapshotLines(v);
        out += "!.Count=";
        out += std::to_string(items.size());
        out += "\r\n";
        for (std::size_t i = 0; i < items.size(); ++i) {
            line(i);
            out += items[i];
            out += "\r\n";
        }
        return;
    }
    const std::size_t count = (v.data.size() + kBytesPerLine - 1) / kBytesPerLine;
    out += "!.Count=";
    out += std::to_string(count);
    out += "\r\n";
    for (std::size_t i = 0; i < count; ++i) {
        line(i);
        const std::size_t from = i * kBytesPerLine;
        for (std::size_t k = from; k < std::min(v.data.size(), from + kBytesPerLine); ++k) {
            const auto c = static_cast<unsigned char>(v.data[k]);
            const char hex[3] = {kHex[c >> 4], kHex[c & 15], ' '};
            out.append(hex, 3);
        }
        out += "\r\n";
    }
}

} // namespace klv
