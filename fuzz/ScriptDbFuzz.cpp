// libFuzzer target: any bytes as SCRIPT_DB.DAT, the script editor's command help, read for
// each of the 21 commands as the editor reads it. A help text is one line taken from the file
// (never made up), shows as valid text, and is found whatever the case of the section name;
// the help of one command rewritten leaves the others as they were.
#include "FuzzFolder.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/script/ScriptCommands.h"
#include "core/script/ScriptHelp.h"
#include "core/settings/SettingsFile.h"

#include <array>
#include <cstdint>
#include <string>

namespace {

klv::fuzz::FuzzFolder& folder() {
    static klv::fuzz::FuzzFolder f("scriptdb");
    return f;
}

// The file's text as the settings file reads it: UTF-8 files are taken in CP932.
std::string readableText(std::string_view bytes) {
    if (const auto utf8 = klv::utf8FileText(bytes))
        return klv::utf16ToCp932Lossy(klv::utf8ToUtf16(*utf8));
    return std::string(bytes);
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void checkText(const std::string& text, const std::string& file) {
    FUZZ_CHECK(text.find('\n') == std::string::npos);
    FUZZ_CHECK(file.find(text) != std::string::npos);
    FUZZ_CHECK(klv::isValidUtf8(klv::cp932ToUtf8(text)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto file = folder().path() / "SCRIPT_DB.DAT";
    try {
        klv::writeFileAtomically(file, bytes);
    } catch (const klv::FileError&) {
        std::abort();
    }
    const std::string text = readableText(bytes);
    std::array<klv::ScriptHelp, klv::kScriptCommands.size()> helps;
    for (std::size_t i = 0; i < helps.size(); ++i) {
        const std::string_view name = klv::kScriptCommands[i].name;
        helps[i] = klv::readScriptHelp(file, name);
        checkText(helps[i].parameters, text);
        checkText(helps[i].example, text);
    }
    const std::size_t pick = size > 0 ? data[0] % helps.size() : 0;
    const klv::ScriptHelp lower =
        klv::readScriptHelp(file, lowerAscii(klv::kScriptCommands[pick].name));
    FUZZ_CHECK(lower.parameters == helps[pick].parameters && lower.example == helps[pick].example);

    // That command's parameters rewritten (the value from the file's first line).
    // The program writes CP932 text only; a UTF-8 file that stays UTF-8 takes characters.
    std::string value(bytes.substr(0, bytes.find_first_of("\r\n")));
    if (klv::utf8FileText(bytes))
        value = klv::utf16ToCp932Lossy(klv::cp932ToUtf16(value));
    klv::SettingsFile ini(file);
    try {
        ini.writeString(klv::kScriptCommands[pick].name, "P", value);
    } catch (const std::invalid_argument&) {
        std::abort(); // a command name and a value without line breaks are always written
    } catch (const klv::FileError&) {
        std::abort();
    }
    for (std::size_t i = 0; i < helps.size(); ++i) {
        const klv::ScriptHelp now = klv::readScriptHelp(file, klv::kScriptCommands[i].name);
        FUZZ_CHECK(now.example == helps[i].example);
        FUZZ_CHECK(now.parameters == (i == pick ? value : helps[i].parameters));
    }
    return 0;
}
