#pragma once
// The registry-file commands that need no window of their own: importing a registry file and
// the quick export of one key. The registry editor program does the reading and writing.
#include <QString>

class QWidget;

namespace klv {

// Asks for a registry file and hands it to the registry editor, which asks the user and
// reports the result itself.
void importRegistryFile(QWidget* parent);

// Asks where to write the key `keyPath` and has the registry editor export it there.
void quickExport(QWidget* parent, const QString& keyPath);

} // namespace klv
