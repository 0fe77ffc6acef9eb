#include "gui/widgets/RegistryProgramRunner.h"

#include "core/platform/Folders.h"
#include "gui/widgets/ChildWatcher.h"
#include "gui/widgets/WaitCursor.h"

#include <QCoreApplication>

namespace klv {
namespace {

std::filesystem::path programPath(const std::filesystem::path& folder, std::string_view name) {
    return findNoCase(folder, name).value_or(folder / name);
}

} // namespace

ProcessRunner::Result RegistryProgramRunner::runEditorWaited(const QString& parameters) {
    const WaitCursor hourglass;
    const auto folder = systemFolder();
    return ProcessRunner::runWaited(programPath(folder, "REGEDIT.EXE"),
                                    ProcessRunner::splitParameters(parameters.toStdString()),
                                    folder, [] { QCoreApplication::processEvents(); });
}

void RegistryProgramRunner::runShell(QWidget* parent, Program program, const QString& parameters) {
    const WaitCursor hourglass;
    const bool editor = program == Program::Editor;
    ProcessRunner::Child child =
        ProcessRunner::start(programPath(systemFolder(), editor ? "REGEDIT.EXE" : "REG.EXE"),
                             ProcessRunner::splitParameters(parameters.toStdString()), {});
    ChildWatcher::watch(std::move(child), parent,
                        editor ? QStringLiteral("Regedit.exe") : QStringLiteral("Reg"));
}

} // namespace klv
