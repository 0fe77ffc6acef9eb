#include "regfiles/RegistryEditorCheck.h"

#include "app/DialogService.h"
#include "platform/Folders.h"
#include "regfiles/RegistryPrograms.h"

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

} // namespace klv
