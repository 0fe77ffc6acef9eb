#pragma once
// Checks of key path texts typed by the user, telling what is wrong in the program's words.
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace klv {

// True when the key path text names an existing key; otherwise the error box "指定された
// レジストリキーは存在しません。" (or the message for text CP932 cannot hold) over `parent`.
bool keyPresentOrTell(QWidget* parent, const QString& keyPathText);

// The texts in CP932; nullopt, after telling which one cannot be held, when one cannot.
std::optional<std::vector<std::string>> cp932TextsOrTell(QWidget* parent, const QStringList& texts);

} // namespace klv
