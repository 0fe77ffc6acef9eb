#include "gui/regfiles/RegFileCommands.h"

#include "gui/widgets/DialogService.h"
#include "gui/widgets/RegistryEditorCheck.h"
#include "gui/widgets/RegistryProgramRunner.h"

namespace klv {
namespace {
// Qt's own file dialog matches patterns without regard to case: one pattern serves ".REG" and
// ".reg" files alike.
const QString kRegistryFiles = QStringLiteral("レジストリファイル (*.REG)");
} // namespace

void importRegistryFile(QWidget* parent) {
    if (!checkRegistryEditor(parent))
        return;
    const QString file = DialogService::instance().openFileName(
        parent, QStringLiteral("レジストリファイルの取り込み"), QString(), kRegistryFiles);
    if (file.isEmpty())
        return;
    RegistryProgramRunner::runShell(parent, RegistryProgramRunner::Program::Editor, {file});
}

void quickExport(QWidget* parent, const QString& keyPath) {
    const QString file = withDefaultExtension(
        DialogService::instance().saveFileName(
            parent, QStringLiteral("レジストリファイルの書き出し - ") + keyPath, QString(),
            kRegistryFiles),
        QStringLiteral("reg"));
    if (file.isEmpty())
        return;
    RegistryProgramRunner::runShell(parent, RegistryProgramRunner::Program::Editor,
                                    {QStringLiteral("/E"), file, keyPath});
}

} // namespace klv
