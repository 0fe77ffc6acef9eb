#pragma once
// How the windows run the registry programs of the system folder.
#include "core/platform/ProcessRunner.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace klv {

class RegistryProgramRunner {
public:
    enum class Program {
        Editor, // REGEDIT.EXE
        Tool,   // REG.EXE
    };

    // Waited run of the registry editor, started in the system folder, with its arguments one
    // by one ({"/E", file, key}), never joined into one text. The hourglass cursor shows and
    // the program keeps processing its events until the child has ended.
    static ProcessRunner::Result runEditorWaited(const QStringList& arguments);

    // Shell run: returns at once. When the child ends with a failure its error text is shown
    // in an error box over `parent` (or none, when the window has gone meanwhile).
    static void runShell(QWidget* parent, Program program, const QStringList& arguments);
};

} // namespace klv
