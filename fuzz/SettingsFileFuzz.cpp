// libFuzzer target: any bytes as KLOVANTE.INI. Every kind of read takes them without harm; a
// write reads back as written and leaves every other key reading as before and every other
// line in place; a write the file cannot hold is refused and changes nothing.
#include "FuzzFolder.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/settings/SettingsFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using klv::SettingsFile;

klv::fuzz::FuzzFolder& folder() {
    static klv::fuzz::FuzzFolder f("settings");
    return f;
}

// Bounds that keep one input fast; the file may name far more.
constexpr std::size_t kSections = 24;
constexpr std::size_t kKeysPerSection = 48;
constexpr std::size_t kComparedLines = 300;

std::string fileBytes(const std::filesystem::path& file) {
    try {
        return klv::readFileBytes(file).value_or(std::string());
    } catch (const klv::FileError&) {
        std::abort();
    }
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.emplace_back(line);
    }
    return lines;
}

// The file's text as the program reads it: UTF-8 files are taken in CP932.
std::string readableText(const std::string& bytes) {
    if (const auto utf8 = klv::utf8FileText(bytes))
        return klv::utf16ToCp932Lossy(klv::utf8ToUtf16(*utf8));
    return bytes;
}

// Section names as the file spells them: "[" name "]" lines, roughly (a line that is no
// section for the reader only yields a name that reads as empty).
std::vector<std::string> sectionsOf(const std::string& text) {
    std::vector<std::string> names;
    for (const std::string& line : splitLines(text)) {
        std::string_view t = line;
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
            t.remove_prefix(1);
        const std::size_t close = t.find(']');
        if (t.empty() || t.front() != '[' || close == std::string_view::npos)
            continue;
        std::string_view name = t.substr(1, close - 1);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
            name.remove_prefix(1);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.remove_suffix(1);
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.emplace_back(name);
        if (names.size() == kSections)
            break;
    }
    return names;
}

struct Setting {
    std::string section, key, value;
};

// Every key of the sections, read every way; what readString gives is kept for comparing.
std::vector<Setting> readAll(const SettingsFile& ini, const std::vector<std::string>& sections) {
    std::vector<Setting> all;
    for (const std::string& s : sections) {
        std::vector<std::string> keys = ini.sectionKeys(s);
        keys.resize(std::min(keys.size(), kKeysPerSection));
        for (const std::string& k : keys) {
            FUZZ_CHECK(ini.hasKey(s, k));
            const std::string v = ini.readString(s, k, "\x01");
            FUZZ_CHECK(v.find('\n') == std::string::npos);
            const int a = ini.readInt(s, k, 1), b = ini.readInt(s, k, 2);
            if (a == b) // a number: the boolean reading follows it
                FUZZ_CHECK(ini.readBool(s, k, false) == (a != 0) &&
                           ini.readBool(s, k, true) == (a != 0));
            all.push_back({s, k, v});
        }
        const int limit = static_cast<int>(keys.size() % 7) * 40;
        FUZZ_CHECK(ini.readList(s, keys.empty() ? "P" : keys[0], {}, limit).size() <=
                   static_cast<std::size_t>(limit));
        (void)ini.readFont(s, "F", klv::FontSetting{});
        (void)ini.readPlacement(s, "W");
    }
    return all;
}

using Touched = bool (*)(const Setting&, std::string_view section, std::string_view key);

bool sameKey(const Setting& s, std::string_view section, std::string_view key) {
    return klv::equalsAsciiNoCase(s.section, section) && klv::equalsAsciiNoCase(s.key, key);
}

bool inList(const Setting& s, std::string_view section, std::string_view prefix) {
    const std::string_view k = s.key;
    return klv::equalsAsciiNoCase(s.section, section) && k.size() > prefix.size() &&
           k[prefix.size()] == '.' && klv::equalsAsciiNoCase(k.substr(0, prefix.size()), prefix);
}

bool inSection(const Setting& s, std::string_view section, std::string_view) {
    return klv::equalsAsciiNoCase(s.section, section);
}

// Every key the write did not touch reads as before.
void othersKept(const SettingsFile& ini, const std::vector<Setting>& before, Touched touched,
                std::string_view section, std::string_view key) {
    for (const Setting& s : before)
        if (!touched(s, section, key))
            FUZZ_CHECK(ini.readString(s.section, s.key, "\x01") == s.value);
}

// The lines before a single-key write are the lines after it but for at most the one replaced.
void linesKept(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    if (before.size() > kComparedLines || after.size() > kComparedLines + 2)
        return;
    std::vector<std::vector<std::uint16_t>> lcs(before.size() + 1,
                                                std::vector<std::uint16_t>(after.size() + 1));
    for (std::size_t i = before.size(); i-- > 0;)
        for (std::size_t j = after.size(); j-- > 0;)
            lcs[i][j] = before[i] == after[j] ? static_cast<std::uint16_t>(lcs[i + 1][j + 1] + 1)
                                              : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    FUZZ_CHECK(lcs[0][0] + 1u >= before.size());
}

// A write the file cannot hold throws invalid_argument and leaves the bytes as they were.
template <class Write> void refused(const std::filesystem::path& file, Write&& write) {
    const std::string old = fileBytes(file);
    try {
        write();
        std::abort();
    } catch (const std::invalid_argument&) {
    }
    FUZZ_CHECK(fileBytes(file) == old);
}

// Calls the write; false when it refused the section or key name (nothing then changed).
template <class Write> bool written(const std::filesystem::path& file, Write&& write) {
    const std::string old = fileBytes(file);
    try {
        write();
        return true;
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(fileBytes(file) == old);
        return false;
    }
}

struct Params {
    std::string section, key, value;
    std::vector<std::string> items;
    int number = 0;
};

// The program writes CP932 text only. A CP932 file takes any bytes as they are; a UTF-8 file
// that stays UTF-8 takes characters, so there the text is one that converts there and back.
std::string writable(const std::string& text, std::string_view file) {
    if (!klv::utf8FileText(file))
        return text;
    return klv::utf16ToCp932Lossy(klv::cp932ToUtf16(text));
}

Params paramsOf(std::string_view input, const std::vector<std::string>& sections,
                const SettingsFile& ini) {
    Params p;
    const auto byte = [&](std::size_t i) {
        return i < input.size() ? static_cast<unsigned char>(input[i]) : 0u;
    };
    const std::size_t pick = byte(0) % (sections.size() + 2);
    p.section = pick < sections.size()    ? sections[pick]
                : pick == sections.size() ? "Fuzz"
                                          : "OPTION";
    const std::vector<std::string> keys = ini.sectionKeys(p.section);
    p.key = !keys.empty() && byte(1) % 2 ? keys[byte(2) % keys.size()] : "Key";
    std::vector<std::string> lines = splitLines(input);
    if (!lines.empty())
        p.value = writable(lines.front().substr(0, lines.front().find('\r')), input);
    for (std::size_t i = 1; i < lines.size() && p.items.size() < 5; ++i) {
        std::erase(lines[i], '\r');
        p.items.push_back(writable(lines[i].substr(0, 200), input));
    }
    p.number = static_cast<int>(byte(3) | byte(4) << 8 | byte(5) << 16 | byte(6) << 24);
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto file = folder().path() / "KLOVANTE.INI";
    try {
        klv::writeFileAtomically(file, input);
    } catch (const klv::FileError&) {
        std::abort();
    }
    SettingsFile ini(file);
    const std::string text = readableText(std::string(input));
    const std::vector<std::string> sections = sectionsOf(text);
    std::vector<Setting> state = readAll(ini, sections);
    const Params p = paramsOf(input, sections, ini);
    // After each write: what it left alone reads as before; then the new state is the base.
    const auto kept = [&](Touched touched, std::string_view section, std::string_view key) {
        othersKept(ini, state, touched, section, key);
        state = readAll(ini, sections);
    };

    refused(file, [&] { ini.writeString(p.section, p.key, p.value + "\r\n"); });
    refused(file, [&] { ini.writeString(p.section, p.key + "=", p.value); });

    if (written(file, [&] { ini.writeString(p.section, p.key, p.value); })) {
        FUZZ_CHECK(ini.readString(p.section, p.key) == p.value);
        kept(sameKey, p.section, p.key);
        linesKept(splitLines(text), splitLines(readableText(fileBytes(file))));
    }
    if (written(file, [&] { ini.writeList(p.section, "L", p.items); })) {
        FUZZ_CHECK(ini.readList(p.section, "L") == p.items);
        kept(inList, p.section, "L");
    }
    if (written(file, [&] { ini.writeInt(p.section, "N", p.number); })) {
        FUZZ_CHECK(ini.readInt(p.section, "N", p.number ^ 1) == p.number &&
                   ini.readBool(p.section, "N", p.number == 0) == (p.number != 0));
        kept(sameKey, p.section, "N");
    }
    const klv::FontSetting font{p.value, p.number, p.number & 15, 128, ~p.number};
    if (written(file, [&] { ini.writeFont(p.section, "F", font); })) {
        FUZZ_CHECK(ini.readFont(p.section, "F", klv::FontSetting{}) == font);
        kept(inList, p.section, "F");
    }
    const klv::WindowPlacement place{1, 2, -1, -1, p.number, ~p.number, 640, 480};
    if (written(file, [&] { ini.writePlacement(p.section, "W", place); })) {
        FUZZ_CHECK(ini.readPlacement(p.section, "W") == place);
        kept(inList, p.section, "W");
    }

    // Erasing a section leaves the others as they were.
    const std::string erased = sections.empty() ? p.section : sections.back();
    ini.eraseSection(erased);
    FUZZ_CHECK(ini.sectionKeys(erased).empty());
    othersKept(ini, state, inSection, erased, {});
    return 0;
}
