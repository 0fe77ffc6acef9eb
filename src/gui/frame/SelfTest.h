#pragma once
#include <QStringList>

namespace klv {

// Starts the program as a first start would, opens the first editor window, selects a key
// and checks what the window shows. Returns the process exit status (0 on success); failures
// are printed on stderr.
int runSelfTest(const QStringList& arguments);

} // namespace klv
