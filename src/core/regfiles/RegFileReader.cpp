#include "core/regfiles/RegFileReader.h"

#include "core/platform/Cp932Table.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/RegFileError.h"

#include <cstring>
#include <optional>
#include <type_traits>

namespace klv {
namespace {

constexpr std::size_t npos = std::string_view::npos;

int hexDigit(unsigned c) {
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

bool isBlank(unsigned c) {
    return c == ' ' || c == '\t';
}

unsigned asciiLower(unsigned c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

StoredName nameFromUtf16(std::u16string_view units) {
    StoredName n;
    if (Cp932Table::instance().toCp932(units, n.bytes))
        return n;
    n.bytes.clear();
    n.bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
        n.bytes.push_back(static_cast<char>(u & 0xFF));
        n.bytes.push_back(static_cast<char>(u >> 8));
    }
    n.wide = true;
    return n;
}

// Parses the body of a file, CP932 bytes or (Wide) UTF-16LE units.
template <bool Wide> class Parser {
public:
    using Text = std::conditional_t<Wide, std::u16string, std::string>;

    Parser(std::string_view body, int rootCount, RegFileSink& sink)
        : data_(body.data()), size_(Wide ? body.size() / 2 : body.size()),
          oddByte_(Wide && body.size() % 2 != 0), rootCount_(rootCount), sink_(sink) {}

    RegFileForm run() {
        const RegFileForm form = header();
        while (const auto start = nextContentLine()) {
            const std::size_t i = *start;
            const unsigned c = unit(i);
            if (c == '[')
                keyLine(i + 1);
            else if (c == '"' || c == '@')
                valueLine(i);
            else
                fail("解釈できない行です（キー、値、コメントのどれでもありません）");
        }
        if (oddByte_)
            fail("UTF-16 のファイルが文字の途中で終わっています");
        return form;
    }

private:
    // --- units and lines ---

    unsigned unit(std::size_t i) const {
        if constexpr (Wide)
            return static_cast<unsigned char>(data_[2 * i]) |
                   static_cast<unsigned>(static_cast<unsigned char>(data_[2 * i + 1])) << 8;
        else
            return static_cast<unsigned char>(data_[i]);
    }

    // Length of the character at i within the current line.
    std::size_t charLen(std::size_t i) const {
        if constexpr (Wide)
            return 1;
        else
            return Cp932Table::isLead(static_cast<unsigned char>(data_[i])) && i + 1 < le_ &&
                           Cp932Table::isTrail(static_cast<unsigned char>(data_[i + 1]))
                       ? 2
                       : 1;
    }

    std::size_t skipBlanks(std::size_t i) const {
        while (i < le_ && isBlank(unit(i)))
            ++i;
        return i;
    }

    // Moves to the next line; CR LF, LF and CR each end one.
    bool nextLine() {
        if (pos_ >= size_ && !(pos_ == 0 && lineNo_ == 0 && size_ == 0))
            return false;
        ++lineNo_;
        ls_ = pos_;
        le_ = findLineEnd(pos_);
        pos_ = le_;
        // A NUL is never text: a file holding one is damaged or not a registry file at all.
        // (The header line is left to the header's own checks, which tell UTF-16 without its
        // mark apart.)
        if (lineNo_ > 1 && hasNul(ls_, le_))
            fail("行に NUL 文字があります");
        if (pos_ < size_) {
            const bool cr = unit(pos_) == '\r';
            ++pos_;
            if (cr && pos_ < size_ && unit(pos_) == '\n')
                ++pos_;
        }
        return true;
    }

    bool hasNul(std::size_t from, std::size_t to) const {
        if constexpr (Wide) {
            for (std::size_t i = from; i < to; ++i)
                if (unit(i) == 0)
                    return true;
            return false;
        } else {
            return std::memchr(data_ + from, 0, to - from) != nullptr;
        }
    }

    std::size_t findLineEnd(std::size_t from) {
        if constexpr (Wide) {
            std::size_t i = from;
            while (i < size_) {
                const unsigned u = unit(i);
                if (u == '\n' || u == '\r')
                    break;
                ++i;
            }
            return i;
        } else {
            // The next CR and LF are remembered, so a file with only one kind of line end is
            // not searched to its end for the other at every line.
            if (nextLf_ == npos || nextLf_ < from)
                nextLf_ = search('\n', from);
            if (nextCr_ == npos || nextCr_ < from)
                nextCr_ = search('\r', from);
            return std::min(nextLf_, nextCr_);
        }
    }

    std::size_t search(char c, std::size_t from) const {
        if (from >= size_)
            return size_;
        const void* p = std::memchr(data_ + from, c, size_ - from);
        return p ? static_cast<std::size_t>(static_cast<const char*>(p) - data_) : size_;
    }

    [[noreturn]] void fail(std::string_view utf8Reason) const {
        throw RegFileError({}, lineNo_, sj(utf8Reason));
    }
    [[noreturn]] void failWith(std::string reason) const {
        throw RegFileError({}, lineNo_, std::move(reason));
    }

    // The sink's refusal reported at the line that asked for it.
    template <class F> void call(F&& f) {
        sink_.atLine(lineNo_);
        try {
            f();
        } catch (const RegFileError&) {
            throw;
        } catch (const RegistryError& e) {
            failWith(e.detail().empty() ? std::string(e.what())
                                        : std::string(e.what()) + sj("（") + e.detail() + sj("）"));
        }
    }

    // --- header ---

    bool lineIs(std::size_t i, std::string_view ascii) const {
        if (le_ - i != ascii.size())
            return false;
        for (std::size_t k = 0; k < ascii.size(); ++k)
            if (unit(i + k) != static_cast<unsigned char>(ascii[k]))
                return false;
        return true;
    }

    RegFileForm header() {
        nextLine();
        const std::size_t i = skipBlanks(ls_);
        if (lineIs(i, kRegedit4Header))
            return RegFileForm::Regedit4;
        if (lineIs(i, kUnicodeHeader))
            return RegFileForm::Unicode;
        if (!Wide && size_ >= 2 && (data_[0] == '\0' || data_[1] == '\0'))
            fail("UTF-16 の登録ファイルにはバイトオーダーマーク（FF FE）が必要です");
        fail("先頭の行が \"REGEDIT4\" または \"Windows Registry Editor Version 5.00\" "
             "ではありません");
    }

    // --- names and texts ---

    void append(Text& out, std::size_t i, std::size_t len) const {
        if constexpr (Wide) {
            out.push_back(static_cast<char16_t>(unit(i)));
        } else {
            // Bytes that are no CP932 character (a lead byte without its trail byte, an unused
            // code) would be stored as they are and shown as a substitute: refused instead.
            if (static_cast<unsigned char>(data_[i]) >= 0x80 &&
                !Cp932Table::instance().isCharacter(std::string_view(data_ + i, len)))
                failWith(sj("CP932 の文字ではないバイトがあります（") +
                         hexBytesText(std::string_view(data_ + i, len)) + sj("）"));
            out.append(data_ + i, len);
        }
    }

    static std::string hexBytesText(std::string_view bytes) {
        static const char digits[] = "0123456789ABCDEF";
        std::string t;
        for (const char c : bytes) {
            if (!t.empty())
                t += ' ';
            t += digits[static_cast<unsigned char>(c) >> 4];
            t += digits[static_cast<unsigned char>(c) & 15];
        }
        return t;
    }

    StoredName storedName(const Text& t) const {
        if constexpr (Wide)
            return nameFromUtf16(t);
        else
            return StoredName{t, false};
    }

    // A quoted text from just after its opening quote; returns the index after the closing one.
    std::size_t quoted(std::size_t i, Text& out) {
        out.clear();
        while (i < le_) {
            const std::size_t len = charLen(i);
            const unsigned c = unit(i);
            if (len == 1 && c == '"')
                return i + 1;
            if (len == 1 && c == '\\') {
                ++i;
                if (i >= le_)
                    break;
                const std::size_t next = charLen(i);
                const unsigned e = unit(i);
                if (next == 1 && e == '0')
                    fail("文字列に \\0 は使えません");
                if (next == 1 && e == 'n')
                    out.push_back('\n');
                else if (next == 1 && e == 'r')
                    out.push_back('\r');
                else
                    append(out, i, next); // \\, \" and any other character stand for themselves
                i += next;
                continue;
            }
            append(out, i, len);
            i += len;
        }
        fail("文字列の終わりの \" がありません");
    }

    // --- key lines ---

    void keyLine(std::size_t i) {
        bool remove = false;
        if (i < le_ && unit(i) == '-') {
            remove = true;
            ++i;
        }
        std::size_t close = npos;
        for (std::size_t j = i; j < le_; j += charLen(j))
            if (unit(j) == ']')
                close = j;
        if (close == npos)
            fail("キー名の終わりの ] がありません");
        path_.components.clear();
        bool rootDone = false;
        std::size_t start = i;
        for (std::size_t j = i;;) {
            const bool end = j >= close;
            if (end || unit(j) == '\\') {
                if (!rootDone) {
                    path_.root = rootIndex(start, j);
                    rootDone = true;
                } else if (j > start) {
                    text_.clear();
                    for (std::size_t k = start; k < j;) {
                        const std::size_t len = charLen(k);
                        append(text_, k, len);
                        k += len;
                    }
                    path_.components.push_back(storedName(text_));
                }
                if (end)
                    break;
                start = ++j;
                continue;
            }
            j += charLen(j);
        }
        if (remove) {
            if (path_.components.empty())
                fail("ルートキーは削除できません");
            call([&] { sink_.deleteKey(path_); });
            haveKey_ = false;
        } else {
            call([&] { sink_.openKey(path_); });
            haveKey_ = true;
        }
    }

    int rootIndex(std::size_t from, std::size_t to) const {
        for (int r = 0; r < rootCount_ && r < kRootKeyCount; ++r) {
            const std::string_view name = kRootKeys[static_cast<std::size_t>(r)].name;
            if (to - from != name.size())
                continue;
            std::size_t k = 0;
            while (k < name.size() &&
                   asciiLower(unit(from + k)) == asciiLower(static_cast<unsigned char>(name[k])))
                ++k;
            if (k == name.size())
                return r;
        }
        Text t;
        for (std::size_t k = from; k < to; ++k)
            append(t, k, 1);
        std::string shown;
        if constexpr (Wide)
            shown = listedName(nameFromUtf16(t));
        else
            shown = t;
        failWith(sj("ルートキーの名前が正しくありません: \"") + shown + "\"");
    }

    // --- value lines ---

    void valueLine(std::size_t i) {
        if (!haveKey_)
            fail("値を書き込むキーがありません（値の前にキーの行が必要です）");
        value_.name = StoredName{};
        if (unit(i) == '@') {
            ++i;
        } else {
            i = quoted(i + 1, text_);
            value_.name = storedName(text_);
        }
        i = skipBlanks(i);
        if (i >= le_ || unit(i) != '=')
            fail("値の名前の後に = がありません");
        i = skipBlanks(i + 1);
        if (i >= le_)
            fail("= の後にデータがありません");
        const unsigned c = unit(i);
        if (c == '-') {
            endOfValue(i + 1);
            call([&] { sink_.deleteValue(value_.name); });
        } else if (c == '"') {
            i = quoted(i + 1, text_);
            endOfValue(i);
            stringValue();
            call([&] { sink_.setValue(value_); });
        } else if (startsWith(i, "dword:")) {
            dwordValue(i + 6);
            call([&] { sink_.setValue(value_); });
        } else if (startsWith(i, "hex")) {
            hexValue(i + 3);
            call([&] { sink_.setValue(value_); });
        } else {
            fail("データの形式が正しくありません（\"文字列\"、dword:、hex: のどれでもありません）");
        }
    }

    bool startsWith(std::size_t i, std::string_view ascii) const {
        if (le_ - i < ascii.size())
            return false;
        for (std::size_t k = 0; k < ascii.size(); ++k)
            if (unit(i + k) != static_cast<unsigned char>(ascii[k]))
                return false;
        return true;
    }

    // After a complete value only blanks and a comment may follow.
    void endOfValue(std::size_t i) const {
        i = skipBlanks(i);
        if (i < le_ && unit(i) != ';')
            fail("値の後に余分な文字があります");
    }

    void stringValue() {
        value_.type = REG_SZ;
        value_.dataWide = false;
        if constexpr (Wide) {
            value_.data.clear();
            if (Cp932Table::instance().toCp932(text_, value_.data)) {
                value_.data.push_back('\0');
                return;
            }
            setWideData(text_);
            value_.data.append(2, '\0');
        } else {
            value_.data.assign(text_);
            value_.data.push_back('\0');
        }
    }

    void setWideData(std::u16string_view units) {
        value_.data.clear();
        for (char16_t u : units) {
            value_.data.push_back(static_cast<char>(u & 0xFF));
            value_.data.push_back(static_cast<char>(u >> 8));
        }
        value_.dataWide = true;
    }

    void dwordValue(std::size_t i) {
        i = skipBlanks(i);
        std::uint32_t v = 0;
        std::size_t digits = 0;
        for (int h; i < le_ && (h = hexDigit(unit(i))) >= 0; ++i) {
            if (++digits > 8)
                break;
            v = v << 4 | static_cast<std::uint32_t>(h);
        }
        const std::size_t rest = skipBlanks(i);
        if (digits == 0 || digits > 8 || (rest < le_ && unit(rest) != ';'))
            fail("dword: の後には 1 から 8 桁の 16 進数が必要です");
        value_.type = REG_DWORD;
        value_.dataWide = false;
        value_.data.assign(4, '\0');
        for (std::size_t b = 0; b < 4; ++b)
            value_.data[b] = static_cast<char>((v >> (8 * b)) & 0xFF);
    }

    void hexValue(std::size_t i) {
        std::uint32_t type = REG_BINARY;
        // A type written with a leading zero ("hex(01):") keeps its bytes exactly as given:
        // it is how text without its terminating NUL is written.
        bool exact = false;
        if (i < le_ && unit(i) == '(') {
            ++i;
            std::size_t digits = 0;
            type = 0;
            const bool leadingZero = i < le_ && unit(i) == '0';
            for (int h; i < le_ && (h = hexDigit(unit(i))) >= 0; ++i) {
                if (++digits > 8)
                    break;
                type = type << 4 | static_cast<std::uint32_t>(h);
            }
            if (digits == 0 || digits > 8 || i >= le_ || unit(i) != ')')
                fail("hex( ) の型番号は 1 から 8 桁の 16 進数です");
            exact = leadingZero && digits > 1;
            ++i;
        }
        if (i >= le_ || unit(i) != ':')
            fail("データの形式が正しくありません（hex の後に : がありません）");
        hexBytes(i + 1);
        value_.type = type;
        value_.dataWide = false;
        if (isTextType(type))
            textBytes(exact);
    }

    // Comma-separated bytes of one or two hex digits, continued over lines ending with "\".
    void hexBytes(std::size_t i) {
        value_.data.clear();
        bool afterByte = false;
        for (;;) {
            // Blanks may only end a line (before its end or a comment): inside the list they
            // are an error, as in "hex: 01 , 02". A continued line may begin with blanks.
            if (i < le_ && isBlank(unit(i))) {
                i = skipBlanks(i);
                if (i < le_ && unit(i) != ';')
                    fail("16 進数のバイトの並びに空白は置けません");
            }
            if (i >= le_)
                return;
            const unsigned c = unit(i);
            if (c == ';')
                return;
            if (c == '\\') {
                if (skipBlanks(i + 1) != le_)
                    fail("\\ の後に文字があります（行の継続の \\ は行末に置きます）");
                if (!continuation())
                    return;
                i = skipBlanks(ls_);
                continue;
            }
            if (afterByte) {
                if (c != ',')
                    fail("16 進数のバイトはカンマで区切ります");
                afterByte = false;
                ++i;
                continue;
            }
            const int hi = hexDigit(c);
            if (hi < 0)
                fail("16 進数のバイトが正しくありません");
            int b = hi;
            ++i;
            if (i < le_ && hexDigit(unit(i)) >= 0) {
                b = b * 16 + hexDigit(unit(i));
                ++i;
                if (i < le_ && hexDigit(unit(i)) >= 0)
                    fail("16 進数のバイトは 1 桁か 2 桁です");
            }
            value_.data.push_back(static_cast<char>(b));
            afterByte = true;
        }
    }

    // Finds the line that continues a hex list; blank and comment lines may come between.
    bool continuation() { return nextContentLine().has_value(); }

    // Moves to the next line that is neither blank nor a comment; where its text begins.
    std::optional<std::size_t> nextContentLine() {
        while (nextLine()) {
            const std::size_t i = skipBlanks(ls_);
            if (i == le_)
                continue;
            const unsigned c = unit(i);
            if (c == ';' || c == '#')
                continue;
            return i;
        }
        return std::nullopt;
    }

    // hex(1), hex(2), hex(7): CP932 bytes in a CP932 file, UTF-16LE in a UTF-16 file; a text
    // that lacks its terminating NUL gets one.
    void textBytes(bool exact) {
        std::string& d = value_.data;
        if constexpr (!Wide) {
            if (!exact && !d.empty() && d.back() != '\0')
                d.push_back('\0');
        } else {
            if (d.size() % 2 != 0) {
                value_.dataWide = true; // not UTF-16 text: kept as it is
                return;
            }
            if (!exact && !d.empty() && (d[d.size() - 2] != '\0' || d.back() != '\0'))
                d.append(2, '\0');
            units_.clear();
            for (std::size_t k = 0; k < d.size(); k += 2)
                units_.push_back(static_cast<char16_t>(static_cast<unsigned char>(d[k]) |
                                                       static_cast<unsigned char>(d[k + 1]) << 8));
            std::string narrow;
            if (Cp932Table::instance().toCp932(units_, narrow))
                d = std::move(narrow);
            else
                value_.dataWide = true;
        }
    }

    const char* data_;
    std::size_t size_;
    bool oddByte_;
    int rootCount_;
    RegFileSink& sink_;

    std::size_t pos_ = 0;
    std::size_t ls_ = 0, le_ = 0;
    int lineNo_ = 0;
    std::size_t nextLf_ = npos, nextCr_ = npos; // npos: not searched yet
    bool haveKey_ = false;

    RegKeyPath path_;
    RawValue value_;
    Text text_;
    std::u16string units_;
};

} // namespace

RegFileForm RegFileReader::read(std::string_view bytes, RegFileSink& sink) const {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        throw RegFileError({}, 1,
                           sj("UTF-8 の登録ファイルは読み込めません（REGEDIT4 は CP932、"
                              "Version 5.00 は FF FE で始まる UTF-16LE で書きます）"));
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
        throw RegFileError({}, 1, sj("UTF-16 ビッグエンディアンの登録ファイルは読み込めません"));
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
        return Parser<true>(bytes.substr(2), rootCount_, sink).run();
    return Parser<false>(bytes, rootCount_, sink).run();
}

} // namespace klv
