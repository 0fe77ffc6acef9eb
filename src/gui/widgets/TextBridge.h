#pragma once
// The window boundary: the core's CP932 texts to and from QString.
#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace klv {

// Invalid bytes show as U+FFFD, never as "?".
QString toQString(std::string_view cp932);
// nullopt when the text holds a character that CP932 cannot hold.
std::optional<std::string> toCp932(const QString& text);
// The message a window shows when a typed text cannot be kept.
QString unconvertibleTextMessage(const QString& text);

} // namespace klv
