#include "core/regfiles/RegFileWriter.h"

#include "core/platform/Cp932Table.h"
#include "core/platform/Encoding.h"

#include <cstring>

namespace klv {
namespace {

// Windows' registry editor breaks a hex list once a line has reached this many characters.
constexpr long kHexLineLimit = 77;

constexpr char kHexDigits[] = "0123456789abcdef";

bool canonicalNarrowText(std::string_view d) {
    return !d.empty() && d.back() == '\0' && d.find('\0') == d.size() - 1;
}

std::u16string unitsOf(std::string_view le) {
    std::u16string u;
    u.reserve(le.size() / 2);
    for (std::size_t i = 0; i + 1 < le.size(); i += 2)
        u.push_back(static_cast<char16_t>(static_cast<unsigned char>(le[i]) |
                                          static_cast<unsigned char>(le[i + 1]) << 8));
    return u;
}

bool canonicalWideText(std::string_view d) {
    if (d.size() < 2 || d.size() % 2 != 0)
        return false;
    const std::u16string u = unitsOf(d);
    return u.back() == 0 && u.find(u'\0') == u.size() - 1;
}

// A CP932 text can stand between quotes when reading it back gives the same characters: a
// lone lead byte must not be followed by a character that is written escaped, or the reader
// would pair it with the escaping backslash, nor end the text, or it would pair with the
// closing quote.
bool quotable(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = Cp932Table::charLength(s, i);
        if (len == 1 && Cp932Table::isLead(static_cast<unsigned char>(s[i]))) {
            if (i + 1 == s.size())
                return false;
            const char next = s[i + 1];
            if (next == '"' || next == '\r' || next == '\n')
                return false;
        }
        i += len;
    }
    return true;
}

// A key name can stand in "[...]" when no character of it reads as a separator or a line end
// and it does not end in a lone lead byte (which would pair with the "\" or "]" after it).
bool keyNameFits(std::string_view s) {
    if (s.empty())
        return false;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = Cp932Table::charLength(s, i);
        if (len == 1) {
            const char c = s[i];
            if (c == '\\' || c == '\r' || c == '\n')
                return false;
            if (Cp932Table::isLead(static_cast<unsigned char>(c)) && i + 1 == s.size())
                return false;
        }
        i += len;
    }
    return true;
}

bool keyNameFits(std::u16string_view s) {
    return !s.empty() && s.find_first_of(u"\\\r\n") == std::u16string_view::npos;
}

std::string leBytes(std::u16string_view u) {
    std::string b;
    b.reserve(u.size() * 2);
    for (char16_t c : u) {
        b.push_back(static_cast<char>(c & 0xFF));
        b.push_back(static_cast<char>(c >> 8));
    }
    return b;
}

} // namespace

RegFileWriter::RegFileWriter(RegFileForm form, Flush flush, std::size_t bufferBytes)
    : form_(form), flush_(std::move(flush)), bufferBytes_(bufferBytes) {
    buf_.reserve(bufferBytes_ + 65536);
}

void RegFileWriter::ascii(std::string_view s) {
    if (!wide()) {
        buf_.append(s);
        return;
    }
    const std::size_t at = buf_.size();
    buf_.resize(at + 2 * s.size());
    char* p = buf_.data() + at;
    for (char c : s) {
        *p++ = c;
        *p++ = '\0';
    }
}

void RegFileWriter::ascii(char c) {
    buf_.push_back(c);
    if (wide())
        buf_.push_back('\0');
}

void RegFileWriter::escaped(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = Cp932Table::charLength(s, i);
        if (len == 2) {
            buf_.append(s.data() + i, 2);
        } else {
            switch (s[i]) {
            case '\\':
                buf_.append("\\\\");
                break;
            case '"':
                buf_.append("\\\"");
                break;
            case '\r':
                buf_.append("\\r");
                break;
            case '\n':
                buf_.append("\\n");
                break;
            default:
                buf_.push_back(s[i]);
            }
        }
        i += len;
    }
}

void RegFileWriter::escaped(std::u16string_view s) {
    for (char16_t c : s) {
        switch (c) {
        case u'\\':
            ascii("\\\\");
            break;
        case u'"':
            ascii("\\\"");
            break;
        case u'\r':
            ascii("\\r");
            break;
        case u'\n':
            ascii("\\n");
            break;
        default:
            buf_.push_back(static_cast<char>(c & 0xFF));
            buf_.push_back(static_cast<char>(c >> 8));
        }
    }
}

void RegFileWriter::maybeFlush() {
    if (buf_.size() >= bufferBytes_) {
        flush_(buf_);
        written_ += buf_.size();
        buf_.clear();
    }
}

void RegFileWriter::writeHeader() {
    if (wide())
        buf_.append("\xFF\xFE");
    ascii(wide() ? kUnicodeHeader : kRegedit4Header);
    ascii("\r\n");
}

void RegFileWriter::startRoot(std::string_view rootName) {
    path_.clear();
    pathLengths_.clear();
    if (!wide()) {
        path_.assign(rootName);
        return;
    }
    for (char c : rootName) {
        path_.push_back(c);
        path_.push_back('\0');
    }
}

namespace {
// The name as the form writes it: CP932 bytes, or UTF-16 units; false when it cannot.
bool keyNameIn(RegFileForm form, const StoredName& name, std::u16string& units) {
    if (form == RegFileForm::Regedit4)
        return !name.wide && keyNameFits(name.bytes);
    units.clear();
    if (name.wide) {
        if (name.bytes.size() % 2 != 0)
            return false;
        units = unitsOf(name.bytes);
    } else if (!Cp932Table::instance().toUtf16(name.bytes, units)) {
        return false;
    }
    return keyNameFits(units);
}
} // namespace

bool RegFileWriter::canHoldKeyName(RegFileForm form, const StoredName& name) {
    std::u16string units;
    return keyNameIn(form, name, units);
}

bool RegFileWriter::pushName(const StoredName& name) {
    if (!keyNameIn(form_, name, units_))
        return false;
    pathLengths_.push_back(path_.size());
    if (!wide()) {
        path_.push_back('\\');
        path_.append(name.bytes);
    } else {
        path_.append("\\\0", 2);
        path_.append(leBytes(units_));
    }
    return true;
}

void RegFileWriter::popName() {
    if (pathLengths_.empty())
        return;
    path_.resize(pathLengths_.back());
    pathLengths_.pop_back();
}

void RegFileWriter::writeKeyLine() {
    ascii("\r\n[");
    buf_.append(path_);
    ascii("]\r\n");
    maybeFlush();
}

long RegFileWriter::valueName(const StoredName& name) {
    const std::size_t mark = buf_.size();
    if (name.bytes.empty()) {
        ascii("@=");
        return 2;
    }
    if (!wide()) {
        if (name.wide || !quotable(name.bytes))
            return -1;
        buf_.push_back('"');
        escaped(name.bytes);
        buf_.append("\"=");
        return static_cast<long>(buf_.size() - mark);
    }
    units_.clear();
    if (name.wide) {
        if (name.bytes.size() % 2 != 0)
            return -1;
        units_ = unitsOf(name.bytes);
    } else if (!Cp932Table::instance().toUtf16(name.bytes, units_)) {
        return -1;
    }
    ascii('"');
    escaped(std::u16string_view(units_));
    ascii("\"=");
    return static_cast<long>((buf_.size() - mark) / 2);
}

RegFileWriter::Outcome RegFileWriter::writeValue(const RawValue& v) {
    const std::size_t mark = buf_.size();
    const long lineLen = valueName(v.name);
    if (lineLen < 0) {
        buf_.resize(mark);
        return Outcome::Skipped;
    }
    Outcome outcome = Outcome::Exact;
    if (v.type == REG_SZ) {
        outcome = stringData(v);
        if (outcome == Outcome::Skipped) // not one quotable text: as bytes
            outcome = textHexData(v, lineLen);
    } else if (isTextType(v.type)) {
        outcome = textHexData(v, lineLen);
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < 4; ++i)
            n |= static_cast<std::uint32_t>(static_cast<unsigned char>(v.data[i])) << (8 * i);
        char digits[9];
        for (int i = 7; i >= 0; --i, n >>= 4)
            digits[i] = kHexDigits[n & 0xF];
        ascii("dword:");
        ascii(std::string_view(digits, 8));
    } else {
        hexData(v.type, false, v.data, lineLen);
    }
    ascii("\r\n");
    maybeFlush();
    return outcome;
}

// A REG_SZ that is exactly one text with its NUL, written between quotes. Skipped means it is
// not such a text (the caller writes its bytes instead).
RegFileWriter::Outcome RegFileWriter::stringData(const RawValue& v) {
    if (!wide()) {
        if (!v.dataWide) {
            if (!canonicalNarrowText(v.data))
                return Outcome::Skipped;
            const std::string_view text(v.data.data(), v.data.size() - 1);
            if (!quotable(text))
                return Outcome::Skipped;
            buf_.push_back('"');
            escaped(text);
            buf_.push_back('"');
            return Outcome::Exact;
        }
        if (!canonicalWideText(v.data))
            return Outcome::Skipped;
        const std::string text =
            utf16ToCp932Lossy(std::string_view(v.data).substr(0, v.data.size() - 2));
        buf_.push_back('"');
        escaped(text);
        buf_.push_back('"');
        return Outcome::Approximate;
    }
    units_.clear();
    bool exact = true;
    if (!v.dataWide) {
        if (!canonicalNarrowText(v.data))
            return Outcome::Skipped;
        exact = Cp932Table::instance().toUtf16(
            std::string_view(v.data).substr(0, v.data.size() - 1), units_);
    } else {
        if (!canonicalWideText(v.data))
            return Outcome::Skipped;
        units_ = unitsOf(std::string_view(v.data).substr(0, v.data.size() - 2));
    }
    ascii('"');
    escaped(std::u16string_view(units_));
    ascii('"');
    return exact ? Outcome::Exact : Outcome::Approximate;
}

// hex(1), hex(2), hex(7): CP932 bytes in a REGEDIT4 file, UTF-16LE in a Unicode one.
RegFileWriter::Outcome RegFileWriter::textHexData(const RawValue& v, long lineLen) {
    bool exact = true;
    std::string_view bytes = v.data;
    if (!wide()) {
        if (v.dataWide) {
            bool lossy = false;
            scratch_ = utf16ToCp932Lossy(v.data, &lossy);
            bytes = scratch_;
            exact = false; // read back as CP932, no longer marked as UTF-16
        }
    } else if (!v.dataWide) {
        units_.clear();
        exact = Cp932Table::instance().toUtf16(v.data, units_);
        scratch_ = leBytes(units_);
        bytes = scratch_;
    }
    // Without a NUL at its end the reader would add one: the "hex(0N)" form keeps it out.
    bool keep;
    if (!wide())
        keep = !bytes.empty() && bytes.back() != '\0';
    else
        keep = bytes.size() >= 2 && bytes.size() % 2 == 0 &&
               (bytes[bytes.size() - 2] != '\0' || bytes.back() != '\0');
    hexData(v.type, keep, bytes, lineLen);
    return exact ? Outcome::Exact : Outcome::Approximate;
}

void RegFileWriter::hexData(std::uint32_t type, bool keepExact, std::string_view bytes,
                            long lineLen) {
    if (type == REG_BINARY && !keepExact) {
        ascii("hex:");
        lineLen += 4;
    } else {
        char digits[9];
        int n = 0;
        for (std::uint32_t t = type; n == 0 || t != 0; t >>= 4)
            digits[n++] = kHexDigits[t & 0xF];
        std::string prefix = keepExact ? "hex(0" : "hex(";
        while (n > 0)
            prefix.push_back(digits[--n]);
        prefix += "):";
        ascii(prefix);
        lineLen += static_cast<long>(prefix.size());
    }
    if (bytes.empty())
        return;
    // Most of a big export is hex lists: written through a pointer into room made beforehand
    // (three characters a byte, a line break at most every 25 bytes), narrow and widened after.
    hexLine_.clear();
    std::string& line = wide() ? hexLine_ : buf_;
    const std::size_t at = line.size();
    line.resize(at + bytes.size() * 3 + (bytes.size() / 25 + 2) * 5);
    char* p = line.data() + at;
    const std::size_t last = bytes.size() - 1;
    for (std::size_t i = 0;; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        *p++ = kHexDigits[b >> 4];
        *p++ = kHexDigits[b & 0xF];
        if (i == last)
            break;
        *p++ = ',';
        lineLen += 3;
        if (lineLen >= kHexLineLimit) {
            std::memcpy(p, "\\\r\n  ", 5);
            p += 5;
            lineLen = 2;
        }
    }
    line.resize(static_cast<std::size_t>(p - line.data()));
    if (wide())
        ascii(std::string_view(line));
}

void RegFileWriter::writeEnd() {
    ascii("\r\n");
}

void RegFileWriter::flush() {
    if (buf_.empty())
        return;
    flush_(buf_);
    written_ += buf_.size();
    buf_.clear();
}

void RegFileWriter::finish() {
    writeEnd();
    flush();
}

} // namespace klv
