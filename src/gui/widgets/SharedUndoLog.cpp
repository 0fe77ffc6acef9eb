#include "gui/widgets/SharedUndoLog.h"

#include "core/lists/ListFile.h"
#include "core/platform/Folders.h"
#include "core/settings/SettingsFile.h"
#include "core/undo/UndoLog.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/TextBridge.h"

#include <QApplication>

namespace klv {

std::unique_ptr<UndoLog> openSharedUndoLog(QWidget* parent, SettingsFile& settings) {
    UndoPlace place;
    place.home = programFolder();
    place.systemFolder = systemFolder();
    place.pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
    auto log = std::make_unique<UndoLog>(std::move(place));
    log->setLimit(settings.readInt("OPTION", "HIS_2", kDefaultUndoLimit));
    try {
        log->load();
    } catch (const ListFileError& e) {
        showListFileError(parent, e);
        return nullptr;
    }
    return log;
}

void showListFileError(QWidget* parent, const std::exception& e) {
    DialogService::instance().message(parent, QString::fromLatin1(kListFileErrorCaption),
                                      toQString(e.what()), MsgIcon::Error, MsgButtons::Ok);
}

} // namespace klv
