#pragma once
// The undo log of the editor windows, opened afresh from UNDO.DAT for a run of a tool window
// (a deletion or replacement outside an editor window), so that its entries join that list.
#include <exception>
#include <memory>

class QWidget;

namespace klv {

class SettingsFile;
class UndoLog;

// The log as UNDO.DAT holds it, with the limit of the settings; null (after saying so over
// `parent`) when the file cannot be read, since writing it then would lose its entries.
std::unique_ptr<UndoLog> openSharedUndoLog(QWidget* parent, SettingsFile& settings);

// The error box of the list files.
void showListFileError(QWidget* parent, const std::exception& e);

} // namespace klv
