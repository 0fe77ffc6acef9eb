#pragma once
// The script files: reading one into editor lines, and the open dialog of the editor window's
// "実行(&R)" and "スクリプトの編集(&E)", which previews the file under the cursor.
#include <QFileDialog>
#include <QStringList>
#include <functional>

class QPlainTextEdit;

namespace klv {

// The lines of a script file (CP932; a file in UTF-8, as Linux text editors save it, is read
// as UTF-8). Line ends CR LF, LF or CR; a last line end adds no line.
// Throws FileReadError when the file cannot be read.
QStringList readScriptFile(const QString& path);
// The same over bytes already read.
QStringList scriptLinesOf(const std::string& bytes);

class TScriptFileDialog : public QFileDialog {
    Q_OBJECT
public:
    TScriptFileDialog(QWidget* parent, const QString& caption);

    // Asks for a script file; empty when cancelled. Tests install a stand-in that gets the
    // caption; nullptr restores the dialog.
    static QString choose(QWidget* parent, const QString& caption);
    static void setChooserForTesting(std::function<QString(const QString& caption)> chooser);

    QPlainTextEdit* Memo1 = nullptr; // the preview

    // The file under the cursor changed: its text, when it is a file that exists.
    void FileListChange(const QString& path);
};

} // namespace klv
