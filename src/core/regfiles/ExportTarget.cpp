#include "core/regfiles/ExportTarget.h"

#include "core/platform/Encoding.h"
#include "core/platform/PlatformFamily.h"

namespace klv {

namespace {

// The position after the last "\" or ":" (0 when there is none), character by character: the
// second byte of a double-byte character is no separator.
std::size_t afterLastSeparator(std::string_view s) {
    std::size_t after = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (isCp932Lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
            ++i;
            continue;
        }
        if (s[i] == '\\' || s[i] == ':')
            after = i + 1;
    }
    return after;
}

} // namespace

std::string exportNameErrorText(ExportNameError e) {
    return e == ExportNameError::NoFileName
               ? sj("ファイル名が指定されていません。再度、操作をやり直してください。")
               : sj("フォルダ名が指定されていません。再度、操作をやり直してください。");
}

std::string withExportExtension(std::string_view fileName, bool asText) {
    const std::size_t nameStart = afterLastSeparator(fileName);
    std::size_t dot = std::string_view::npos;
    for (std::size_t i = nameStart; i < fileName.size(); ++i) {
        if (isCp932Lead(static_cast<unsigned char>(fileName[i])) && i + 1 < fileName.size()) {
            ++i;
            continue;
        }
        if (fileName[i] == '.')
            dot = i;
    }
    std::string out(fileName.substr(0, dot));
    return out + (asText ? ".txt" : ".reg");
}

ExportTarget exportTarget(std::string_view fileName, std::string_view folder, bool asText,
                          const std::function<bool(const std::string&)>& folderExists) {
    ExportTarget t;
    if (fileName.empty()) {
        t.error = ExportNameError::NoFileName;
        return t;
    }
    t.fileName = withExportExtension(fileName, asText);
    const std::string own = t.fileName.substr(0, afterLastSeparator(t.fileName));
    if (!own.empty()) {
        // A path of its own: the folder field does not count. A folder that is not there is
        // the folder error, not a name glued onto the folder field.
        if (folderExists(own))
            t.target = t.fileName;
        else
            t.error = ExportNameError::NoFolder;
        return t;
    }
    const std::string dir(folder);
    if (dir.empty() || !folderExists(dir)) {
        t.error = ExportNameError::NoFolder;
        return t;
    }
    t.target = dir;
    if (t.target.back() != '\\' || afterLastSeparator(t.target) != t.target.size())
        t.target += '\\';
    t.target += t.fileName;
    return t;
}

bool unicodeFormOffered() {
    const PlatformVersion v = platformVersion();
    return v.platformId == 2 && v.major > 4;
}

ExporterCommand exporterCommand(bool unicodeEnabled, bool regedit4Chosen, ExportScope scope,
                                const std::string& key, const std::string& target) {
    ExporterCommand c;
    const std::string k = scope == ExportScope::Everything ? std::string() : key;
    if (unicodeEnabled && regedit4Chosen) {
        c.consoleTool = true;
        // The whole registry has no key: nothing stands in its place.
        c.arguments = {"EXPORT"};
        if (!k.empty())
            c.arguments.push_back(k);
        c.arguments.insert(c.arguments.end(), {target, "/nt4"});
        return c;
    }
    c.arguments = {"/E", target};
    if (!k.empty())
        c.arguments.push_back(k);
    return c;
}

} // namespace klv
