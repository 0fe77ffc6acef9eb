#include "core/regfiles/RegFileError.h"

#include "core/platform/Encoding.h"

namespace klv {
namespace {
std::string compose(const std::string& file, int line, const std::string& reason) {
    std::string m = file.empty() ? sj("登録ファイル") : file;
    if (line > 0)
        m += sj("（") + std::to_string(line) + sj(" 行目）");
    return m + ": " + reason;
}
} // namespace

RegFileError::RegFileError(std::string file, int line, std::string reason)
    : RegistryError(compose(file, line, reason)), file_(std::move(file)), line_(line),
      reason_(std::move(reason)) {}

std::string pathText(const std::filesystem::path& path) {
    if (auto cp932 = tryUtf8ToCp932(path.native()))
        return *cp932;
    return utf16ToCp932Lossy(utf8ToUtf16(path.native()));
}

} // namespace klv
