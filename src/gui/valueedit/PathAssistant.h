#pragma once
// The full-path assistant of the string editor: a file dialog with the icons of the chosen file
// (where they can be read) and two check boxes that quote the path and add an icon number.
#include <QFileDialog>

class QCheckBox;
class QListWidget;

namespace klv {

class TPathAssistant : public QFileDialog {
    Q_OBJECT
public:
    explicit TPathAssistant(QWidget* parent = nullptr);

    QListWidget* IconList = nullptr;
    QCheckBox* CheckBox1 = nullptr; // アイコン番号をフルパスに付け足す(&P)...
    QCheckBox* CheckBox2 = nullptr; // フルパスを " " （ダブルクオータ）で囲む(&W)

    // Shows the icons of `file` when it exists and holds any that can be read.
    void showIconsOf(const QString& file);
    // The text for the data field: the Windows path of `file` as the boxes ask.
    QString result(const QString& file) const;
};

} // namespace klv
