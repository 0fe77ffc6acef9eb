#pragma once
// The check that features needing the registry editor make before they run it.
class QWidget;

namespace klv {

enum class RegistryEditorUse {
    General, // export windows and the import command
    Restore, // restoring a deleted key from its undo file
};

// True when the system folder's registry editor is present; otherwise shows the program's
// error box ("エラー") with the text for that use and returns false.
bool checkRegistryEditor(QWidget* parent, RegistryEditorUse use = RegistryEditorUse::General);

// The check a window makes each time it is activated: the error box once when the program has
// gone missing (the box's own closing activates the window again), then silent answers until
// the program is back.
class ActivationEditorCheck {
public:
    bool present(QWidget* window);

private:
    bool told_ = false;
};

} // namespace klv
