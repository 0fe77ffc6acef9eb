#include "core/wine/WineRegFile.h"

#include "core/platform/Encoding.h"

#include <algorithm>
#include <clocale>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <optional>
#include <unordered_map>

namespace klv::wine {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr std::string_view kRelative = ";; All keys relative to ";
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::size_t kMaxDepth = 512;

// Wine compares names lower-cased, with its own full Unicode table; the C.UTF-8 locale's table
// is the same simple case mapping. (Lower, not upper: "_" sorts before letters.)
char16_t lowerUnit(char16_t c) {
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c + 32) : c;
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!utf8 || (c >= 0xD800 && c <= 0xDFFF))
        return c;
    const wint_t l = towlower_l(static_cast<wint_t>(c), utf8);
    return l <= 0xFFFF ? static_cast<char16_t>(l) : c;
}

std::u16string foldOf(std::u16string_view s) {
    std::u16string f(s);
    for (char16_t& c : f)
        c = lowerUnit(c);
    return f;
}

// ---------------------------------------------------------------------------------------------
// Reading

void utf8Char(std::string_view s, std::size_t& i, std::u16string& out);

// Wine's escapes: \a \b \e \f \n \r \t \v, \x with up to four hex digits (one UTF-16 unit),
// octal with up to three digits, and a backslash before any other character. Bytes past
// ASCII are UTF-8 (Wine writes none; an editor may have).
std::u16string unescape(std::string_view s, std::size_t& i, char end) {
    std::u16string out;
    while (i < s.size() && (end == '\0' || s[i] != end)) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '\\' && i + 1 < s.size()) {
            const char e = s[++i];
            ++i;
            switch (e) {
            case 'a':
                out += u'\a';
                continue;
            case 'b':
                out += u'\b';
                continue;
            case 'e':
                out += u'\x1b';
                continue;
            case 'f':
                out += u'\f';
                continue;
            case 'n':
                out += u'\n';
                continue;
            case 'r':
                out += u'\r';
                continue;
            case 't':
                out += u'\t';
                continue;
            case 'v':
                out += u'\v';
                continue;
            case 'x': {
                unsigned v = 0;
                int digits = 0;
                for (int h; digits < 4 && i < s.size() && (h = hexDigitValue(s[i])) >= 0;
                     ++i, ++digits)
                    v = v * 16 + static_cast<unsigned>(h);
                out += digits ? static_cast<char16_t>(v) : u'x';
                continue;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned v = static_cast<unsigned>(e - '0');
                    for (int n = 0; n < 2 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++n, ++i)
                        v = v * 8 + static_cast<unsigned>(s[i] - '0');
                    out += static_cast<char16_t>(v);
                    continue;
                }
                out += static_cast<char16_t>(static_cast<unsigned char>(e));
                continue;
            }
        }
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        utf8Char(s, i, out);
    }
    return out;
}

void utf8Char(std::string_view s, std::size_t& i, std::u16string& out) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (n > 1 && i + static_cast<std::size_t>(n) <= s.size() &&
        isValidUtf8(s.substr(i, static_cast<std::size_t>(n)))) {
        out += utf16leUnits(utf8ToUtf16(s.substr(i, static_cast<std::size_t>(n))));
        i += static_cast<std::size_t>(n);
        return;
    }
    out += static_cast<char16_t>(c); // not UTF-8: the byte as Latin-1, as older Wine read it
    ++i;
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : text_(bytes) {}

    WineRegFile run() {
        std::string_view line;
        if (!nextLine(line) || line != kHeader)
            fail("Wine のレジストリファイルではありません（先頭行が \"WINE REGISTRY Version 2\" "
                 "ではありません）");
        WineKey* key = nullptr;
        bool anyKey = false;
        while (nextLine(line)) {
            // Wine reads past leading blanks and takes a line of blanks as empty.
            const std::size_t text = line.find_first_not_of(" \t");
            if (text == std::string_view::npos)
                continue;
            line.remove_prefix(text);
            const char c = line.front();
            if (c == ';') {
                if (line.starts_with(kRelative) && !anyKey) {
                    std::size_t pos = kRelative.size();
                    file_.relativeTo = unescape(line, pos, '\0');
                }
                continue;
            }
            if (c == '#') {
                option(line, key, anyKey);
                continue;
            }
            if (c == '[') {
                key = &keyLine(line);
                anyKey = true;
                continue;
            }
            if (c == '@' || c == '"') {
                if (!key)
                    fail("キーの前に値があります");
                valueLine(line, *key);
                continue;
            }
            fail("解釈できない行です");
        }
        return std::move(file_);
    }

private:
    [[noreturn]] void fail(std::string_view utf8) const {
        throw WineFormatError(sj(utf8) + " (" + std::to_string(lineNo_) + sj(" 行目)"), lineNo_);
    }

    bool nextLine(std::string_view& line) {
        if (pos_ >= text_.size())
            return false;
        const std::size_t end = text_.find('\n', pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        line = text_.substr(pos_, stop - pos_);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos_ = stop + 1;
        ++lineNo_;
        return true;
    }

    void option(std::string_view line, WineKey* key, bool anyKey) {
        if (line.starts_with("#arch=")) {
            if (!anyKey)
                file_.arch = std::string(line.substr(6));
            return;
        }
        if (!key)
            return; // other options belong to a key
        if (line.starts_with("#time=")) {
            std::uint64_t v = 0;
            std::size_t digits = 0;
            for (std::size_t i = 6; i < line.size(); ++i, ++digits) {
                const int h = hexDigitValue(line[i]);
                if (h < 0 || digits == 16)
                    fail("#time= の値が正しくありません");
                v = v << 4 | static_cast<unsigned>(h);
            }
            if (digits == 0)
                fail("#time= の値が正しくありません");
            key->modified = v;
        } else if (line.starts_with("#class=\"")) {
            std::size_t i = 8;
            std::u16string cls = unescape(line, i, '"');
            if (i >= line.size())
                fail("#class= の文字列が閉じていません");
            key->keyClass = std::move(cls);
        } else if (line == "#link") {
            key->link = true;
        }
    }

    WineKey& keyLine(std::string_view line) {
        std::size_t i = 1;
        const std::u16string path = unescape(line, i, ']');
        if (i >= line.size())
            fail("キーの行に ] がありません");
        ++i;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        FileTime modified = 0;
        std::size_t digits = 0;
        std::uint64_t secs = 0;
        for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i, ++digits)
            secs = secs * 10 + static_cast<unsigned>(line[i] - '0');
        if (digits > 0 && digits <= 10 && secs <= 0xFFFFFFFFULL)
            modified = secs * 10000000ULL + kFileTimeOf1970;
        else if (digits > 0)
            fail("キーの時刻が正しくありません");
        else
            modified = nowFileTime(); // as Wine does for a key line without a time
        WineKey* k = &file_.root();
        std::size_t start = 0;
        std::size_t depth = 0;
        if (!path.empty()) {
            for (;;) {
                // Windows' limit, as the store's; the writer recurses once per level.
                if (++depth > kMaxDepth)
                    fail("キーの階層が深すぎます（512 階層まで）");
                const std::size_t sep = path.find(u'\\', start);
                const std::u16string_view part = std::u16string_view(path).substr(
                    start, sep == std::u16string::npos ? std::u16string::npos : sep - start);
                if (part.empty())
                    fail("キーの名前が空です");
                const std::size_t before = file_.keyCount();
                k = &file_.child(*k, part);
                // A key made on the way gets the line's time, as Wine gives it.
                if (file_.keyCount() != before)
                    k->modified = modified;
                if (sep == std::u16string::npos)
                    break;
                start = sep + 1;
            }
        }
        k->modified = modified;
        return *k;
    }

    void valueLine(std::string_view line, WineKey& key) {
        WineValue v;
        std::size_t i = 0;
        if (line[0] == '@') {
            i = 1;
        } else {
            i = 1;
            v.name = unescape(line, i, '"');
            if (i >= line.size())
                fail("値の名前が閉じていません");
            ++i;
        }
        i = skipBlanks(line, i);
        if (i >= line.size() || line[i] != '=')
            fail("値の名前の後に = がありません");
        i = skipBlanks(line, i + 1);
        std::string_view rest = line.substr(i);
        if (rest.starts_with("\"")) {
            v.type = kRegSz;
            stringData(line, i + 1, v);
        } else if (rest.starts_with("str:\"")) {
            v.type = kRegSz; // read as Wine reads it; written back in the usual form
            stringData(line, i + 5, v);
        } else if (rest.starts_with("str(")) {
            std::size_t j = i + 4;
            v.type = typeCode(line, j);
            if (j + 1 >= line.size() || line[j] != ':' || line[j + 1] != '"')
                fail("str(n): の後に文字列がありません");
            stringData(line, j + 2, v);
        } else if (rest.starts_with("dword:")) {
            v.type = kRegDword;
            std::uint32_t d = 0;
            std::size_t digits = 0;
            for (std::size_t j = i + 6; j < line.size(); ++j, ++digits) {
                const int h = hexDigitValue(line[j]);
                if (h < 0 || digits == 8)
                    fail("dword: の値が正しくありません");
                d = d << 4 | static_cast<unsigned>(h);
            }
            if (digits == 0)
                fail("dword: の値が正しくありません");
            v.data.resize(4);
            for (int b = 0; b < 4; ++b)
                v.data[static_cast<std::size_t>(b)] = static_cast<char>(d >> (8 * b) & 0xFF);
        } else if (rest.starts_with("hex:")) {
            v.type = kRegBinary;
            hexData(line.substr(i + 4), v);
        } else if (rest.starts_with("hex(")) {
            std::size_t j = i + 4;
            v.type = typeCode(line, j);
            if (j >= line.size() || line[j] != ':')
                fail("hex(n) の後に : がありません");
            hexData(line.substr(j + 1), v);
        } else {
            fail("値の形式が解釈できません");
        }
        // A name given twice: the later line wins, as when Wine loads the file.
        if (auto i = findValue(key, v.name)) {
            key.values[*i] = std::move(v);
            return;
        }
        if (indexedKey_ == &key)
            valueIndex_.emplace(foldOf(v.name), key.values.size());
        key.values.push_back(std::move(v));
    }

    std::optional<std::size_t> findValue(const WineKey& key, std::u16string_view name) {
        if (key.values.size() < 32) {
            for (std::size_t i = 0; i < key.values.size(); ++i)
                if (compareWineNames(key.values[i].name, name) == 0)
                    return i;
            return std::nullopt;
        }
        if (indexedKey_ != &key) {
            indexedKey_ = &key;
            valueIndex_.clear();
            for (std::size_t i = 0; i < key.values.size(); ++i)
                valueIndex_.emplace(foldOf(key.values[i].name), i);
        }
        auto it = valueIndex_.find(foldOf(name));
        return it == valueIndex_.end() ? std::nullopt : std::optional<std::size_t>(it->second);
    }

    // "n)" after "hex(" or "str(": the type in hexadecimal.
    std::uint32_t typeCode(std::string_view line, std::size_t& j) {
        std::uint64_t t = 0;
        std::size_t digits = 0;
        for (int h; j < line.size() && (h = hexDigitValue(line[j])) >= 0; ++j, ++digits)
            t = t << 4 | static_cast<unsigned>(h);
        if (digits == 0 || digits > 8 || j >= line.size() || line[j] != ')')
            fail("型の番号が正しくありません");
        ++j;
        return static_cast<std::uint32_t>(t);
    }

    static std::size_t skipBlanks(std::string_view line, std::size_t i) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        return i;
    }

    void stringData(std::string_view line, std::size_t i, WineValue& v) {
        const std::u16string s = unescape(line, i, '"');
        if (i >= line.size())
            fail("文字列が閉じていません");
        if (skipBlanks(line, i + 1) != line.size())
            fail("文字列の後に余分な文字があります");
        v.data = utf16leBytes(s);
        v.data.append(2, '\0');
    }

    // Bytes "xx,xx,..." continued over lines that end in a backslash.
    void hexData(std::string_view first, WineValue& v) {
        std::string_view part = first;
        for (;;) {
            std::size_t i = 0;
            bool more = false;
            while (i < part.size()) {
                const char c = part[i];
                if (c == ' ' || c == '\t' || c == ',') {
                    ++i;
                    continue;
                }
                if (c == '\\' && part.find_first_not_of(" \t", i + 1) == std::string_view::npos) {
                    more = true;
                    break;
                }
                const int hi = hexDigitValue(c);
                const int lo = i + 1 < part.size() ? hexDigitValue(part[i + 1]) : -1;
                if (hi < 0 || lo < 0)
                    fail("16 進数のデータが正しくありません");
                v.data.push_back(static_cast<char>(hi << 4 | lo));
                i += 2;
                if (i < part.size() && part[i] != ',' && part[i] != ' ' && part[i] != '\t' &&
                    part[i] != '\\')
                    fail("16 進数のデータが正しくありません");
            }
            if (!more)
                return;
            if (!nextLine(part))
                fail("続きの行がありません");
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t lineNo_ = 0;
    WineRegFile file_;
    const WineKey* indexedKey_ = nullptr; // the key whose values valueIndex_ holds
    std::unordered_map<std::u16string, std::size_t> valueIndex_;
};

// ---------------------------------------------------------------------------------------------
// Writing

// Wine's own escaping: past ASCII as \x (four digits when a hex digit follows), controls as C
// or octal escapes, a backslash before the backslash and the two given characters; the
// terminating NUL of a name or a string is left out (a class keeps it). Returns the characters
// written.
std::size_t putEscaped(std::string& out, std::u16string_view s, char e0, char e1,
                       bool dropFinalNul = true) {
    static constexpr std::string_view kEscapes = ".......abtnvfr.............e....";
    static constexpr char kHex[] = "0123456789abcdef";
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        const std::size_t left = s.size() - i;
        if (c > 127) {
            const char16_t next = left > 1 ? s[i + 1] : 0;
            const bool hexNext = next < 128 && hexDigitValue(static_cast<char>(next)) >= 0;
            out += "\\x";
            bool started = hexNext;
            for (int shift = 12; shift >= 0; shift -= 4) {
                const unsigned d = (c >> shift) & 15;
                if (d != 0 || shift == 0)
                    started = true;
                if (started)
                    out += kHex[d];
            }
            continue;
        }
        if (c < 32) {
            if (c == 0 && left == 1 && dropFinalNul)
                continue;
            if (kEscapes[c] != '.') {
                out += '\\';
                out += kEscapes[c];
            } else if (left > 1 && s[i + 1] >= '0' && s[i + 1] <= '7') {
                out += '\\';
                out += static_cast<char>('0' + (c >> 6));
                out += static_cast<char>('0' + ((c >> 3) & 7));
                out += static_cast<char>('0' + (c & 7));
            } else {
                out += '\\';
                if (c >= 8)
                    out += static_cast<char>('0' + (c >> 3));
                out += static_cast<char>('0' + (c & 7));
            }
            continue;
        }
        const char a = static_cast<char>(c);
        if (a == '\\' || a == e0 || a == e1)
            out += '\\';
        out += a;
    }
    return out.size() - start;
}

void putHex32(std::string& out, std::uint32_t v, int minDigits) {
    static constexpr char kHex[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = kHex[v & 15];
        v >>= 4;
    } while (v != 0);
    for (int i = n; i < minDigits; ++i)
        out += '0';
    while (n > 0)
        out += buf[--n];
}

class Writer {
public:
    explicit Writer(const WineRegFile* f) : f_(f) {}

    // One key's own lines, `path` its names below the file's base key.
    std::string block(const std::vector<std::u16string>& path, const WineKey& k, bool hasSubkeys) {
        for (const std::u16string& name : path)
            path_.push_back(&name);
        if (written(k, hasSubkeys))
            ownLines(k, path.empty());
        path_.clear();
        return std::move(out_);
    }

    std::string run() {
        out_.reserve(1 << 16);
        out_ += kHeader;
        out_ += '\n';
        out_ += kRelative;
        // The path as Wine prints it: a doubled backslash between names.
        std::size_t start = 0;
        const std::u16string_view rel = f_->relativeTo;
        for (;;) {
            const std::size_t sep = rel.find(u'\\', start);
            putEscaped(out_,
                       rel.substr(start, sep == std::u16string_view::npos ? sep : sep - start), '[',
                       ']');
            if (sep == std::u16string_view::npos)
                break;
            out_ += "\\\\";
            start = sep + 1;
        }
        out_ += '\n';
        if (!f_->arch.empty()) {
            out_ += "\n#arch=";
            out_ += f_->arch;
            out_ += '\n';
        }
        key(f_->root(), true);
        return std::move(out_);
    }

private:
    // Wine writes a key that has values, a class or a link mark, or no subkeys; the others
    // are implied by their subkeys' paths.
    static bool written(const WineKey& k, bool hasSubkeys) {
        return !k.values.empty() || !hasSubkeys || k.keyClass || k.link;
    }

    void key(const WineKey& k, bool isBase) {
        if (written(k, !k.subkeys.empty()))
            ownLines(k, isBase);
        std::vector<const WineKey*> subs(k.subkeys.begin(), k.subkeys.end());
        std::sort(subs.begin(), subs.end(), [](const WineKey* a, const WineKey* b) {
            return compareWineNames(a->name, b->name) < 0;
        });
        for (const WineKey* s : subs) {
            path_.push_back(&s->name);
            key(*s, false);
            path_.pop_back();
        }
    }

    void ownLines(const WineKey& k, bool isBase) {
        {
            out_ += "\n[";
            if (!isBase)
                putPath();
            out_ += "] ";
            out_ += std::to_string(wineKeySeconds(k.modified));
            out_ += "\n#time=";
            putHex32(out_, static_cast<std::uint32_t>(k.modified >> 32), 1);
            putHex32(out_, static_cast<std::uint32_t>(k.modified), 8);
            out_ += '\n';
            if (k.keyClass) {
                out_ += "#class=\"";
                putEscaped(out_, *k.keyClass, '"', '"', false); // Wine keeps a class whole
                out_ += "\"\n";
            }
            if (k.link)
                out_ += "#link\n";
            std::vector<const WineValue*> vals;
            vals.reserve(k.values.size());
            for (const WineValue& v : k.values)
                vals.push_back(&v);
            std::sort(vals.begin(), vals.end(), [](const WineValue* a, const WineValue* b) {
                return compareWineNames(a->name, b->name) < 0;
            });
            for (const WineValue* v : vals)
                value(*v);
        }
    }

    void putPath() {
        for (std::size_t i = 0; i < path_.size(); ++i) {
            if (i > 0)
                out_ += "\\\\";
            putEscaped(out_, *path_[i], '[', ']');
        }
    }

    void value(const WineValue& v) {
        std::size_t count;
        if (!v.name.empty()) {
            out_ += '"';
            count = 1 + putEscaped(out_, v.name, '"', '"');
            out_ += "\"=";
            count += 2;
        } else {
            out_ += "@=";
            count = 2;
        }
        const std::size_t len = v.data.size();
        if (v.type == 1 || v.type == 2 || v.type == 7) {
            if (len >= 2 && len % 2 == 0 && v.data[len - 1] == '\0' && v.data[len - 2] == '\0') {
                if (v.type != kRegSz) {
                    out_ += "str(";
                    putHex32(out_, v.type, 1);
                    out_ += "):";
                }
                out_ += '"';
                putEscaped(out_, utf16leUnits(v.data), '"', '"');
                out_ += "\"\n";
                return;
            }
        } else if (v.type == kRegDword && len == 4) {
            std::uint32_t d = 0;
            for (int b = 3; b >= 0; --b)
                d = d << 8 | static_cast<unsigned char>(v.data[static_cast<std::size_t>(b)]);
            out_ += "dword:";
            putHex32(out_, d, 8);
            out_ += '\n';
            return;
        }
        const std::size_t before = out_.size();
        if (v.type == kRegBinary) {
            out_ += "hex:";
        } else {
            out_ += "hex(";
            putHex32(out_, v.type, 1);
            out_ += "):";
        }
        count += out_.size() - before;
        static constexpr char kHex[] = "0123456789abcdef";
        for (std::size_t i = 0; i < len; ++i) {
            const auto b = static_cast<unsigned char>(v.data[i]);
            out_ += kHex[b >> 4];
            out_ += kHex[b & 15];
            count += 2;
            if (i + 1 < len) {
                out_ += ',';
                if (++count > 76) {
                    out_ += "\\\n  ";
                    count = 2;
                }
            }
        }
        out_ += '\n';
    }

    const WineRegFile* f_;
    std::string out_;
    std::vector<const std::u16string*> path_;
};

} // namespace

int compareWineNames(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = lowerUnit(a[i]);
        const char16_t y = lowerUnit(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::uint32_t wineKeySeconds(FileTime modified) {
    // Wine computes in signed 64 bits and prints the low 32 bits unsigned.
    const auto signedTicks = static_cast<std::int64_t>(modified - kFileTimeOf1970);
    return static_cast<std::uint32_t>(signedTicks / 10000000);
}

WineRegFile::WineRegFile() {
    pool_.emplace_back();
    root_ = &pool_.back();
}

WineRegFile::WineRegFile(WineRegFile&&) noexcept = default;
WineRegFile& WineRegFile::operator=(WineRegFile&&) noexcept = default;

WineKey& WineRegFile::newKey(std::u16string name) {
    pool_.emplace_back();
    pool_.back().name = std::move(name);
    return pool_.back();
}

namespace {
// Index entry of a subkey: its parent's address, then its folded name.
std::u16string childIndexKey(const WineKey& parent, std::u16string_view name) {
    std::u16string k(sizeof(&parent) / sizeof(char16_t), u'\0');
    const WineKey* p = &parent;
    std::memcpy(k.data(), &p, sizeof(p));
    k += foldOf(name);
    return k;
}
} // namespace

WineKey& WineRegFile::child(WineKey& parent, std::u16string_view name) {
    // Files list a key's subtree in one run, so the last subkey is the usual match.
    if (!parent.subkeys.empty() && compareWineNames(parent.subkeys.back()->name, name) == 0)
        return *parent.subkeys.back();
    std::u16string indexKey = childIndexKey(parent, name);
    if (auto it = childIndex_.find(indexKey); it != childIndex_.end())
        return *it->second;
    WineKey& k = newKey(std::u16string(name));
    parent.subkeys.push_back(&k);
    childIndex_.emplace(std::move(indexKey), &k);
    return k;
}

bool WineRegFile::hasNameEndingInNul() const {
    for (std::size_t at = relativeTo.find(u'\0'); at != std::u16string::npos;
         at = relativeTo.find(u'\0', at + 1))
        if (at + 1 == relativeTo.size() || relativeTo[at + 1] == u'\\')
            return true;
    const auto endsInNul = [](const std::u16string& n) { return !n.empty() && n.back() == u'\0'; };
    for (const WineKey& k : pool_) {
        if (endsInNul(k.name))
            return true;
        for (const WineValue& v : k.values)
            if (endsInNul(v.name))
                return true;
    }
    return false;
}

WineRegFile WineRegFile::parse(std::string_view bytes) {
    return Reader(bytes).run();
}

std::string WineRegFile::write() const {
    return Writer(this).run();
}

std::optional<std::vector<std::u16string>> wineKeyLinePath(std::string_view line) {
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    std::size_t i = 1;
    const std::u16string path = unescape(line, i, ']');
    if (i >= line.size())
        return std::nullopt;
    std::vector<std::u16string> names;
    for (std::size_t start = 0; !path.empty();) {
        const std::size_t sep = path.find(u'\\', start);
        names.push_back(path.substr(start, sep == std::u16string::npos ? sep : sep - start));
        if (names.back().empty())
            return std::nullopt;
        if (sep == std::u16string::npos)
            break;
        start = sep + 1;
    }
    return names;
}

int compareWinePaths(const std::vector<std::u16string>& a, const std::vector<std::u16string>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (const int c = compareWineNames(a[i], b[i]); c != 0)
            return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::string writeWineKey(const std::vector<std::u16string>& path, const WineKey& key,
                         bool hasSubkeys) {
    return Writer(nullptr).block(path, key, hasSubkeys);
}

} // namespace klv::wine
