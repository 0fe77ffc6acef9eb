#include "core/registry/RegistryError.h"

#include "core/platform/Encoding.h"

namespace klv {

std::string RegistryError::fullText() const {
    if (detail_.empty())
        return what();
    return std::string(what()) + "\r\n" + detail_;
}

std::string msgSetFailed(std::string_view valueName) {
    return "'" + std::string(valueName) + sj("' の設定に失敗しました");
}

std::string msgGetFailed(std::string_view valueName) {
    return "'" + std::string(valueName) + sj("' の取得に失敗しました");
}

std::string msgBadDataType(std::string_view valueName) {
    return "'" + std::string(valueName) + sj("' のデータ型が不正です");
}

std::string msgCreateKeyFailed(std::string_view path) {
    return sj("キー ") + std::string(path) + sj(" の作成に失敗しました");
}

} // namespace klv
