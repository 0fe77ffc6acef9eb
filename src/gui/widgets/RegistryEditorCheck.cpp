#include "gui/widgets/RegistryEditorCheck.h"

#include "core/platform/Folders.h"
#include "core/regfiles/RegistryPrograms.h"
#include "gui/widgets/DialogService.h"

namespace klv {

bool checkRegistryEditor(QWidget* parent, RegistryEditorUse use) {
    if (registryEditorPath(systemFolder()))
        return true;
    showError(parent,
              use == RegistryEditorUse::Restore
                  ? QStringLiteral("キーの削除を復元するためには、OS標準搭載のレジストリエディタ "
                                   "Regedit.exe が必要です。")
                  : QStringLiteral("この機能を使用するためには、OS標準搭載のレジストリエディタ "
                                   "Regedit.exe が必要です。"));
    return false;
}

bool ActivationEditorCheck::present(QWidget* window) {
    if (registryEditorPath(systemFolder())) {
        told_ = false;
        return true;
    }
    if (!told_) {
        told_ = true;
        checkRegistryEditor(window);
    }
    return false;
}

} // namespace klv
