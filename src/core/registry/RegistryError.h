#pragma once
// Errors of the registry layer. what() is the message the user sees, in CP932; detail() says
// why, when the cause is known (a limit, a read-only key, a full disk).
#include <stdexcept>
#include <string>
#include <string_view>

namespace klv {

class RegistryError : public std::runtime_error {
public:
    explicit RegistryError(const std::string& message, std::string detail = {})
        : std::runtime_error(message), detail_(std::move(detail)) {}
    const std::string& detail() const { return detail_; }
    // Message and detail on two lines, for display.
    std::string fullText() const;

private:
    std::string detail_;
};

// Failures of the store itself (limits, access, disk, a damaged file). Caught by TRegistry
// and reported under the operation's own message with this text as the detail.
class StoreError : public RegistryError {
public:
    using RegistryError::RegistryError;
};

// The layer's messages, formatted with a CP932 name or path.
std::string msgSetFailed(std::string_view valueName);   // '%s' の設定に失敗しました
std::string msgGetFailed(std::string_view valueName);   // '%s' の取得に失敗しました
std::string msgBadDataType(std::string_view valueName); // '%s' のデータ型が不正です
std::string msgCreateKeyFailed(std::string_view path);  // キー %s の作成に失敗しました

} // namespace klv
