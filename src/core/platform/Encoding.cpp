#include "core/platform/Encoding.h"

#include <algorithm>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>

namespace klv {
namespace {

enum class Codec { Utf8ToCp932, Cp932ToUtf8, Utf16ToCp932, Cp932ToUtf16, Utf8ToUtf16, Utf16ToUtf8 };
constexpr std::size_t kCodecCount = 6;

struct CodecNames {
    const char* to;
    const char* from;
};

constexpr std::array<CodecNames, kCodecCount> kCodecNames{{
    {"CP932", "UTF-8"},
    {"UTF-8", "CP932"},
    {"CP932", "UTF-16LE"},
    {"UTF-16LE", "CP932"},
    {"UTF-16LE", "UTF-8"},
    {"UTF-8", "UTF-16LE"},
}};

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";
constexpr std::string_view kReplacementUtf16 = "\xFD\xFF";

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == invalid())
            throw EncodingError(std::string("iconv cannot convert from ") + from + " to " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    iconv_t get() const { return cd_; }

private:
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); }
    iconv_t cd_;
};

// Opening a descriptor costs far more than a conversion, and a descriptor must not be shared
// between threads, so each thread keeps its own.
iconv_t descriptor(Codec codec) {
    thread_local std::array<std::unique_ptr<Iconv>, kCodecCount> cache;
    const auto i = static_cast<std::size_t>(codec);
    if (!cache[i])
        cache[i] = std::make_unique<Iconv>(kCodecNames[i].to, kCodecNames[i].from);
    iconv_t cd = cache[i]->get();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return cd;
}

// Runs a conversion. At input that iconv refuses (invalid, incomplete or not representable),
// onError(rest, out) appends a stand-in to out and returns how many bytes of rest to skip;
// returning 0 gives up the whole conversion.
template <class OnError>
std::optional<std::string> convert(Codec codec, std::string_view in, OnError&& onError) {
    iconv_t cd = descriptor(codec);
    std::string out(in.size() * 2 + 16, '\0');
    std::size_t used = 0;
    // iconv takes a non-const input pointer but never writes through it.
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    bool flushed = false;
    while (!flushed) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        const bool flushing = srcLeft == 0;
        const std::size_t r = flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                                       : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        const int err = errno;
        used = static_cast<std::size_t>(dst - out.data());
        if (r != static_cast<std::size_t>(-1)) {
            flushed = flushing;
            continue;
        }
        if (err == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (err != EILSEQ && err != EINVAL)
            throw EncodingError(std::string("iconv failed: ") + std::strerror(err));
        std::string standIn;
        const std::size_t skip = onError(std::string_view(src, srcLeft), standIn);
        if (skip == 0)
            return std::nullopt;
        // The stand-in goes where the output stopped. The buffer only ever doubles: making
        // room for the whole rest at every bad byte cost quadratic time on a damaged file.
        while (out.size() - used < standIn.size() + 16)
            out.resize(out.size() * 2);
        out.replace(used, standIn.size(), standIn);
        used += standIn.size();
        src += skip;
        srcLeft -= skip;
    }
    out.resize(used);
    return out;
}

std::optional<std::string> strict(Codec codec, std::string_view in) {
    return convert(codec, in, [](std::string_view, std::string&) { return std::size_t{0}; });
}

// The converter also maps some characters one way only ("¥" to 0x5C, a path separator; "‾" to
// "~"; "〜" to the code that reads back as "～"): a conversion counts only when its result
// reads back as the text it came from.
std::optional<std::string> strictToCp932(Codec to, Codec back, std::string_view in) {
    std::optional<std::string> out = strict(to, in);
    if (!out)
        return out;
    const std::optional<std::string> again = strict(back, *out);
    if (!again || *again != in)
        return std::nullopt;
    return out;
}

bool isCp932Trail(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// One stand-in per bad character: a lead byte with a proper trail byte is skipped as a pair,
// anything else byte by byte so that a following ASCII character survives.
std::size_t skipBadCp932(std::string_view rest) {
    if (rest.size() >= 2 && isCp932Lead(static_cast<unsigned char>(rest[0])) &&
        isCp932Trail(static_cast<unsigned char>(rest[1])))
        return 2;
    return 1;
}

unsigned utf16Unit(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]) | (static_cast<unsigned>(s[i + 1]) & 0xFF) << 8;
}

// One stand-in per UTF-16 character: a surrogate pair as a whole, an unpaired surrogate or a
// stray odd byte alone.
std::size_t skipBadUtf16(std::string_view rest) {
    if (rest.size() < 2)
        return rest.size();
    const unsigned unit = utf16Unit(rest, 0);
    if (unit >= 0xD800 && unit <= 0xDBFF && rest.size() >= 4) {
        const unsigned next = utf16Unit(rest, 2);
        if (next >= 0xDC00 && next <= 0xDFFF)
            return 4;
    }
    return 2;
}

// Lenient conversion that puts `replacement` for each bad character.
std::string replacing(Codec codec, std::string_view in, std::string_view replacement,
                      std::size_t (*skip)(std::string_view)) {
    return *convert(codec, in, [&](std::string_view rest, std::string& out) {
        out += replacement;
        return skip(rest);
    });
}

std::size_t skipOneByte(std::string_view) {
    return 1;
}

bool sameLetter(char a, char b, bool ignoreCase) {
    if (a == b)
        return true;
    if (!ignoreCase)
        return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(a) == lower(b);
}

std::size_t charLength(std::string_view s, std::size_t i) {
    return isCp932Lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

// Whether needle matches hay at the character start `at`, character by character.
bool matchesAt(std::string_view hay, std::size_t at, std::string_view needle, bool ignoreCase) {
    if (hay.size() - at < needle.size())
        return false;
    for (std::size_t i = 0; i < needle.size();) {
        const std::size_t len = charLength(needle, i);
        if (len == 2) {
            if (hay[at + i] != needle[i] || hay[at + i + 1] != needle[i + 1])
                return false;
        } else if (isCp932Lead(static_cast<unsigned char>(needle[i]))) {
            // A needle cut after a lead byte only matches a hay cut the same way.
            if (hay[at + i] != needle[i] || at + i + 1 != hay.size())
                return false;
        } else if (!sameLetter(hay[at + i], needle[i], ignoreCase)) {
            return false;
        }
        i += len;
    }
    return true;
}

} // namespace

std::optional<std::string> tryUtf8ToCp932(std::string_view utf8) {
    return strictToCp932(Codec::Utf8ToCp932, Codec::Cp932ToUtf8, utf8);
}

std::optional<std::string> tryCp932ToUtf8(std::string_view cp932) {
    return strict(Codec::Cp932ToUtf8, cp932);
}

std::optional<std::string> tryUtf16ToCp932(std::string_view utf16le) {
    return strictToCp932(Codec::Utf16ToCp932, Codec::Cp932ToUtf16, utf16le);
}

std::optional<std::string_view> utf8FileText(std::string_view bytes) {
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    if (bytes.starts_with(kMark))
        return bytes.substr(kMark.size());
    const bool multiByte = std::any_of(
        bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (multiByte && isValidUtf8(bytes))
        return bytes;
    // A UTF-8 file cut short inside its last character (a copy that stopped, a full disk) is
    // still UTF-8, when what comes before holds a multi-byte character: read as CP932, all of
    // its text would turn into other characters. The cut character reads as U+FFFD.
    std::size_t lead = bytes.size();
    while (lead > 0 && bytes.size() - lead < 3 &&
           (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0)
        return std::nullopt;
    --lead;
    const auto c = static_cast<unsigned char>(bytes[lead]);
    const std::size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    const std::string_view before = bytes.substr(0, lead);
    if (need > bytes.size() - lead && c <= 0xF4 && isValidUtf8(before) &&
        std::any_of(before.begin(), before.end(),
                    [](char b) { return static_cast<unsigned char>(b) >= 0x80; }))
        return bytes;
    return std::nullopt;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t len;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > text.size())
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (t & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

std::string utf8ToCp932(std::string_view utf8) {
    if (auto cp932 = tryUtf8ToCp932(utf8))
        return std::move(*cp932);
    throw EncodingError("text cannot be held in CP932: " + std::string(utf8));
}

std::string sj(std::string_view utf8) {
    return utf8ToCp932(utf8);
}

std::string cp932ToUtf8(std::string_view cp932) {
    return replacing(Codec::Cp932ToUtf8, cp932, kReplacementUtf8, skipBadCp932);
}

std::string utf16ToCp932Lossy(std::string_view utf16le, bool* lossy) {
    if (auto exact = tryUtf16ToCp932(utf16le)) {
        if (lossy)
            *lossy = false;
        return std::move(*exact);
    }
    // Character by character: each one that does not come back unchanged becomes "〓".
    std::string out;
    for (std::size_t i = 0; i < utf16le.size();) {
        const std::size_t len = skipBadUtf16(utf16le.substr(i));
        if (auto one = tryUtf16ToCp932(utf16le.substr(i, len)))
            out += *one;
        else
            out += kCp932Geta;
        i += len;
    }
    if (lossy)
        *lossy = true;
    return out;
}

// The remaining conversions feed display and files; like cp932ToUtf8 they never fail but put
// U+FFFD for input that is not valid text.
std::string cp932ToUtf16(std::string_view cp932) {
    return replacing(Codec::Cp932ToUtf16, cp932, kReplacementUtf16, skipBadCp932);
}

std::string utf8ToUtf16(std::string_view utf8) {
    return replacing(Codec::Utf8ToUtf16, utf8, kReplacementUtf16, skipOneByte);
}

std::string utf16ToUtf8(std::string_view utf16le) {
    return replacing(Codec::Utf16ToUtf8, utf16le, kReplacementUtf8, skipBadUtf16);
}

std::string utf16leBytes(std::u16string_view units) {
    std::string b;
    b.reserve(units.size() * 2);
    for (const char16_t c : units) {
        b.push_back(static_cast<char>(c & 0xFF));
        b.push_back(static_cast<char>(c >> 8));
    }
    return b;
}

std::u16string utf16leUnits(std::string_view bytes) {
    std::u16string u(bytes.size() / 2, u'\0');
    for (std::size_t k = 0; k < u.size(); ++k)
        u[k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                     static_cast<unsigned char>(bytes[2 * k + 1]) << 8);
    return u;
}

bool equalsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string cp932Upper(std::string_view s) {
    std::string out;
    cp932UpperInto(s, out);
    return out;
}

void cp932UpperInto(std::string_view s, std::string& out) {
    out.assign(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (isCp932Lead(static_cast<unsigned char>(out[i])))
            ++i;
        else if (out[i] >= 'a' && out[i] <= 'z')
            out[i] = static_cast<char>(out[i] - 32);
    }
}

size_t cp932Find(std::string_view hay, std::string_view needle, size_t from, bool ignoreCase) {
    if (from > hay.size())
        return std::string_view::npos;
    if (needle.empty())
        return from;
    for (std::size_t i = 0; i < hay.size(); i += charLength(hay, i)) {
        if (i >= from && matchesAt(hay, i, needle, ignoreCase))
            return i;
    }
    return std::string_view::npos;
}

} // namespace klv
