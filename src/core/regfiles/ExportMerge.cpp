#include "core/regfiles/ExportMerge.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/platform/Folders.h"

#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace klv {
namespace {

constexpr std::string_view kBom = "\xFF\xFE";
constexpr std::string_view kCrLf16 = std::string_view("\r\0\n\0", 4);
// An export list is a few key paths; anything far larger is not one.
constexpr std::uintmax_t kMaxExportListFile = 64u * 1024 * 1024;

std::string perKeyName(std::size_t index) {
    return std::to_string(index) + ".reg";
}

std::string header(RegFileForm form) {
    return form == RegFileForm::Unicode ? utf8ToUtf16(kUnicodeHeader)
                                        : std::string(kRegedit4Header);
}

std::string named(std::string_view before, const fs::path& file, std::string_view after) {
    return sj(before) + pathForMessage(file) + sj(after);
}

// Whether the bytes start like a UTF-16LE text: the header's first character is ASCII, so its
// high byte is zero.
bool looksUtf16(std::string_view bytes) {
    return bytes.starts_with(kBom) ||
           (bytes.size() >= 2 && bytes[1] == '\0' && static_cast<unsigned char>(bytes[0]) < 0x80);
}

} // namespace

fs::path perKeyFile(const fs::path& programFolder, std::size_t index) {
    return programFolder / perKeyName(index);
}

fs::path existingPerKeyFile(const fs::path& programFolder, std::size_t index) {
    std::error_code ec;
    const auto found = findNoCase(programFolder, perKeyName(index));
    if (!found || !fs::is_regular_file(*found, ec))
        return {};
    return *found;
}

void removePerKeyFiles(const fs::path& programFolder, std::size_t first, std::size_t count) {
    for (std::size_t i = first; i < first + count; ++i) {
        // "0.REG" beside "0.reg" is the same name to the exporter.
        for (int spelling = 0; spelling < 8; ++spelling) {
            const auto found = findNoCase(programFolder, perKeyName(i));
            std::error_code ec;
            if (!found || !fs::remove(*found, ec))
                break;
        }
    }
}

std::vector<std::string> splitRegLines(std::string_view bytes, RegFileForm form) {
    const bool wide = form == RegFileForm::Unicode;
    const std::size_t unit = wide ? 2 : 1;
    if (wide && bytes.size() % 2 != 0)
        throw ExportMergeError(sj("Unicode 形式のファイルのバイト数が奇数です。"));
    auto isUnit = [&](std::size_t at, char c) {
        return bytes[at] == c && (!wide || bytes[at + 1] == '\0');
    };
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at = 0; at < bytes.size(); at += unit) {
        if (!isUnit(at, '\n'))
            continue;
        std::size_t end = at;
        if (end >= start + unit && isUnit(end - unit, '\r'))
            end -= unit;
        lines.emplace_back(bytes.substr(start, end - start));
        start = at + unit;
    }
    if (start < bytes.size())
        lines.emplace_back(bytes.substr(start));
    return lines;
}

RegFileLines readRegFileLines(const fs::path& file, RegFileForm form) {
    std::optional<std::string> bytes;
    try {
        bytes = readFileBytes(file);
    } catch (const FileReadError& e) {
        throw ExportMergeError(e.what());
    }
    if (!bytes)
        throw ExportMergeError(named("書き出されたファイル ", file, " が見つかりません。"));
    std::string_view text = *bytes;
    const bool wide = form == RegFileForm::Unicode;
    if (!text.empty() && looksUtf16(text) != wide)
        throw ExportMergeError(
            named("ファイル ", file,
                  wide ? " は Unicode 形式のレジストリファイルではありません。"
                       : " は REGEDIT4 形式のレジストリファイルではありません。"));
    if (wide && text.starts_with(kBom))
        text.remove_prefix(kBom.size());
    try {
        return RegFileLines{form, splitRegLines(text, form)};
    } catch (const ExportMergeError& e) {
        throw ExportMergeError(named("ファイル ", file, " を読み込めません。\r\n") + e.what());
    }
}

RegFileLines mergePerKeyFiles(const fs::path& programFolder, std::size_t count, RegFileForm form) {
    if (count == 0)
        throw ExportMergeError(sj("書き出すキーがありません。"));
    auto locate = [&](std::size_t i) {
        const fs::path found = existingPerKeyFile(programFolder, i);
        return found.empty() ? perKeyFile(programFolder, i) : found;
    };
    RegFileLines merged = readRegFileLines(locate(0), form);
    if (merged.lines.empty())
        throw ExportMergeError(named("書き出されたファイル ", locate(0), " が空です。"));
    merged.lines.front() = header(form);
    for (std::size_t i = 1; i < count; ++i) {
        RegFileLines next = readRegFileLines(locate(i), form);
        if (next.lines.size() <= 2)
            continue;
        merged.lines.insert(merged.lines.end(), std::make_move_iterator(next.lines.begin() + 2),
                            std::make_move_iterator(next.lines.end()));
    }
    return merged;
}

std::string regFileBytes(const RegFileLines& text) {
    const bool wide = text.form == RegFileForm::Unicode;
    const std::string_view end = wide ? kCrLf16 : std::string_view("\r\n");
    std::size_t size = wide ? kBom.size() : 0;
    for (const std::string& line : text.lines)
        size += line.size() + end.size();
    std::string out;
    out.reserve(size);
    if (wide)
        out += kBom;
    for (const std::string& line : text.lines) {
        out += line;
        out += end;
    }
    return out;
}

void saveMergedExport(const RegFileLines& text, const fs::path& target,
                      const fs::path& programFolder) {
    writeFileAtomically(target, regFileBytes(text));
    const fs::path first = existingPerKeyFile(programFolder, 0);
    std::error_code ec;
    if (first.empty() || fs::equivalent(first, target, ec))
        return; // saved over "0.reg" itself: that file is now the result
    fs::remove(first, ec);
}

std::vector<std::string> readExportList(const fs::path& file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (!ec && size > kMaxExportListFile)
        throw ExportListError(
            named("ファイル ", file, " はエクスポートリストとして大きすぎます。"));
    std::optional<std::string> bytes;
    try {
        bytes = readFileBytes(file);
    } catch (const FileReadError& e) {
        throw ExportListError(e.what());
    }
    if (!bytes)
        throw ExportListError(named("ファイル ", file, " が見つかりません。"));
    std::vector<std::string> keys;
    const std::vector<std::string> lines = splitRegLines(*bytes, RegFileForm::Regedit4);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        // Stray CRs before the line end (a last line without LF, a file converted twice)
        // end the line too; a CR inside it names no key and could not be saved again.
        while (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string where =
            named("エクスポートリスト ", file, " の ") + std::to_string(i + 1) + sj(" 行目");
        if (line.size() > kMaxExportListLine)
            throw ExportListError(where + sj("が長すぎます。キーのパスとして読めません。"));
        if (line.find('\r') != std::string_view::npos)
            throw ExportListError(where + sj("に改行文字があります。キーのパスとして読めません。"));
        if (line.find('\0') != std::string_view::npos || !tryCp932ToUtf8(line))
            throw ExportListError(where + sj("に CP932 として読めない文字があります。"));
        // A blank line names no key; kept, it would export the whole registry.
        if (!line.empty())
            keys.emplace_back(line);
    }
    return keys;
}

void writeExportList(const fs::path& file, const std::vector<std::string>& keys) {
    for (const std::string& key : keys)
        if (key.find_first_of("\r\n") != std::string::npos)
            throw ExportListError(sj("改行を含むキーはエクスポートリストに保存できません。"));
    writeFileAtomically(file, regFileBytes(RegFileLines{RegFileForm::Regedit4, keys}));
}

} // namespace klv
