#include "core/platform/ErrorText.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace klv {

std::string systemErrorText(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return sj("アクセスが拒否されました");
    case ENOSPC:
    case EDQUOT:
        return sj("ディスクの空き容量が不足しています");
    case EROFS:
        return sj("読み取り専用のファイル システムです");
    case ENOTDIR:
        return sj("パスの途中にフォルダではないファイルがあります");
    case EEXIST:
        return sj("同じ名前のファイルがすでにあります");
    case ENOENT:
        return sj("ファイルまたはフォルダが見つかりません");
    case ENAMETOOLONG:
        return sj("パスが長すぎます");
    case EISDIR:
        return sj("ファイルではなくフォルダです");
    case EIO:
        return sj("入出力エラーが発生しました");
    default:
        break;
    }
    char buf[256];
    const std::string text = strerror_r(err, buf, sizeof buf);
    const auto cp932 = tryUtf8ToCp932(text);
    return sj("システム エラー ") + std::to_string(err) + sj("（") + cp932.value_or("") + sj("）");
}

std::string describeError(const std::exception& e) {
    if (const auto* fs = dynamic_cast<const std::filesystem::filesystem_error*>(&e)) {
        std::string text = systemErrorText(fs->code().value());
        if (!fs->path1().empty())
            text = pathForMessage(fs->path1()) + "\n" + text;
        return text;
    }
    if (const auto* sys = dynamic_cast<const std::system_error*>(&e))
        return systemErrorText(sys->code().value());
    return e.what();
}

} // namespace klv
