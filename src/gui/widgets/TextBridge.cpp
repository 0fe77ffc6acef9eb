#include "gui/widgets/TextBridge.h"

#include "core/platform/Encoding.h"

namespace klv {

QString toQString(std::string_view cp932) {
    return QString::fromStdString(cp932ToUtf8(cp932));
}

std::optional<std::string> toCp932(const QString& text) {
    return tryUtf8ToCp932(text.toStdString());
}

QString unconvertibleTextMessage(const QString& text) {
    return QStringLiteral(
               "「%1」には Shift-JIS (CP932) で表せない文字が含まれているため、使用できません。")
        .arg(text);
}

} // namespace klv
