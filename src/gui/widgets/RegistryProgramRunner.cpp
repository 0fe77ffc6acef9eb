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

// Each argument reaches the child as it is: joined into one text and split again, a key name
// holding a quote or a blank would arrive as another key.
std::vector<std::string> argv(const QStringList& arguments) {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(arguments.size()));
    for (const QString& a : arguments)
        out.push_back(a.toStdString());
    return out;
}

} // namespace

ProcessRunner::Result RegistryProgramRunner::runEditorWaited(const QStringList& arguments) {
    const WaitCursor hourglass;
    const auto folder = systemFolder();
    return ProcessRunner::runWaited(programPath(folder, "REGEDIT.EXE"), argv(arguments), folder,
                                    [] { QCoreApplication::processEvents(); });
}

void RegistryProgramRunner::runShell(QWidget* parent, Program program,
                                     const QStringList& arguments) {
    const WaitCursor hourglass;
    const bool editor = program == Program::Editor;
    ProcessRunner::Child child = ProcessRunner::start(
        programPath(systemFolder(), editor ? "REGEDIT.EXE" : "REG.EXE"), argv(arguments), {});
    ChildWatcher::watch(std::move(child), parent,
                        editor ? QStringLiteral("Regedit.exe") : QStringLiteral("Reg"));
}

} // namespace klv
