#pragma once
// Where the export dialog writes and how it runs the exporter: the file name's extension, the
// target path from the file name and the folder field, and the exporter's command line.
// Paths are Windows paths (CP932); whether a folder exists is asked of the caller (through the
// drive map).
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

enum class ExportNameError {
    NoFileName, // "ファイル名が指定されていません。再度、操作をやり直してください。"
    NoFolder, // "フォルダ名が指定されていません。再度、操作をやり直してください。"
};

struct ExportTarget {
    std::string fileName; // with its extension replaced, as the field then shows it
    std::string target;   // the file written (Windows path); empty on an error
    std::optional<ExportNameError> error;
};

// The text of an error (CP932).
std::string exportNameErrorText(ExportNameError e);

// The name's extension replaced by ".txt" (text box checked) or ".reg", or appended.
std::string withExportExtension(std::string_view fileName, bool asText);

// A name with a folder of its own is written there (the folder error when it is not there);
// a bare name goes into the folder field's folder. `folderExists` answers for a Windows path.
ExportTarget exportTarget(std::string_view fileName, std::string_view folder, bool asText,
                          const std::function<bool(const std::string&)>& folderExists);

enum class ExportScope { Everything, Root, Key };

// The Unicode choice of the export windows: offered (and preset) on the NT family from major
// version 5 on.
bool unicodeFormOffered();

struct ExporterCommand {
    bool consoleTool = false; // REG.EXE rather than REGEDIT.EXE
    std::vector<std::string> arguments;
};

// The console tool ("EXPORT", key, target, "/nt4") when the Unicode choice is enabled but
// REGEDIT4 is chosen; else the registry editor ("/E", target, key). The key is nothing for
// the whole registry, else the root's name or the key path text as typed.
ExporterCommand exporterCommand(bool unicodeEnabled, bool regedit4Chosen, ExportScope scope,
                                const std::string& key, const std::string& target);

} // namespace klv
