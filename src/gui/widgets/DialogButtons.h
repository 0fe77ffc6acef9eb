#pragma once
// The "OK" / "キャンセル" row at the foot of the program's dialogs.

class QHBoxLayout;
class QPushButton;
class QWidget;

namespace klv {

// Makes the two buttons (named Button1 and Button2, OK the default) in a right-aligned row;
// the caller adds `layout` where the row goes.
struct OkCancelRow {
    QPushButton* ok;
    QPushButton* cancel;
    QHBoxLayout* layout;
};
OkCancelRow makeOkCancelRow(QWidget* dialog);

} // namespace klv
