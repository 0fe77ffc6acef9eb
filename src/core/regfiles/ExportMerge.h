#pragma once
// The several-keys export joins the registry files that one exporter per key left in the
// program folder ("0.reg", "1.reg", ...) into one file, and keeps its key list in export list
// files. Texts stay in the form they were read in: a REGEDIT4 file's lines are its CP932 bytes,
// a Unicode file's lines are UTF-16LE bytes, so that nothing is converted and nothing is lost.
#include "core/regfiles/RegFileForm.h"
#include "core/registry/Store.h"

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

// what() is the CP932 message for the user.
class ExportMergeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ExportListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The lines of a registry file without their line ends, in the file's own encoding.
struct RegFileLines {
    RegFileForm form = RegFileForm::Regedit4;
    std::vector<std::string> lines;
};

// The per-key file of list entry `index`: "<index>.reg" in the program folder.
std::filesystem::path perKeyFile(const std::filesystem::path& programFolder, std::size_t index);
// The per-key file as it stands on disk (found without regard to case); empty when missing.
std::filesystem::path existingPerKeyFile(const std::filesystem::path& programFolder,
                                         std::size_t index);
// Removes the per-key files first .. first+count-1 (every spelling of each name).
void removePerKeyFiles(const std::filesystem::path& programFolder, std::size_t first,
                       std::size_t count);

// Splits a file's bytes (after any byte order mark) into lines: LF ends a line, a CR right
// before it belongs to the line end. A final line end adds no empty line. Unicode bytes are
// split at UTF-16LE code units; throws ExportMergeError for an odd byte count.
std::vector<std::string> splitRegLines(std::string_view bytes, RegFileForm form);

// Reads a per-key file in the form its exporter wrote. Unicode: UTF-16LE with or without a
// byte order mark. Throws ExportMergeError when the file is missing, unreadable or plainly in
// the other form (a file that would otherwise be merged as garbage).
RegFileLines readRegFileLines(const std::filesystem::path& file, RegFileForm form);

// The merged text: "0.reg" with its first line replaced by the form's header, then the lines of
// each further file from its third line on (files of two lines or fewer add nothing). Reads
// `count` files; deletes none. Throws ExportMergeError (an empty "0.reg" is one: the first key
// would be silently missing).
RegFileLines mergePerKeyFiles(const std::filesystem::path& programFolder, std::size_t count,
                              RegFileForm form);

// The file's bytes: Unicode as UTF-16LE with a byte order mark, REGEDIT4 as its CP932 bytes;
// every line ended by CR LF.
std::string regFileBytes(const RegFileLines& text);

// Writes the merged text to `target` atomically (throws FileWriteError, the old file kept) and
// then removes "0.reg", unless the target is that very file.
void saveMergedExport(const RegFileLines& text, const std::filesystem::path& target,
                      const std::filesystem::path& programFolder);

// Export list files: CP932 text, one key path text per line, CR LF. Reading accepts LF too,
// takes CRs right before a line end as part of it, and skips empty lines (they name no key);
// lines are kept as they are otherwise. A line that is not CP932, holds a NUL or a CR, or is
// longer than any key path can be is an ExportListError naming the file and the line; a
// missing or unreadable file is one too.
inline constexpr std::size_t kMaxExportListLine =
    sizeof("HKEY_CURRENT_CONFIG") + static_cast<std::size_t>(kMaxKeyDepth) * (kMaxKeyNameBytes + 1);
std::vector<std::string> readExportList(const std::filesystem::path& file);
// Throws ExportListError for an entry holding a line break (it would come back as two keys)
// and FileWriteError when the file cannot be written; the old file is then kept.
void writeExportList(const std::filesystem::path& file, const std::vector<std::string>& keys);

} // namespace klv
