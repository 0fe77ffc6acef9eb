#pragma once
// Every message box, question, input box and file, folder or font dialog of the program goes
// through one dialog service, so that tests can answer them without a screen. Production shows
// Qt dialogs; tests install a service that answers from a queue and records what was shown.
#include <QFont>
#include <QString>
#include <optional>

class QWidget;

namespace klv {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

class DialogService {
public:
    virtual ~DialogService();

    // The service in use: the Qt one unless a test installed another.
    static DialogService& instance();
    // Installs a service (not owned); nullptr restores the Qt one.
    static void setInstance(DialogService* service);

    virtual MsgAnswer message(QWidget* parent, const QString& caption, const QString& text,
                              MsgIcon icon, MsgButtons buttons) = 0;
    // nullopt when cancelled.
    virtual std::optional<QString> inputText(QWidget* parent, const QString& caption,
                                             const QString& prompt, const QString& initial) = 0;
    // Empty when cancelled. Given readOnly, the dialog shows a "read-only" box whose state
    // comes back there.
    virtual QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                                 const QString& filter, bool* readOnly = nullptr) = 0;
    // Given selectedFilter, the dialog starts on that file type (when set) and the type the user
    // chose comes back there.
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& folder,
                                 const QString& filter, QString* selectedFilter = nullptr) = 0;
    virtual QString folderName(QWidget* parent, const QString& caption, const QString& folder) = 0;
    virtual std::optional<QFont> font(QWidget* parent, const QFont& initial) = 0;
    // Opens a file with the desktop's default program; false when none could be started.
    virtual bool openWithDesktop(const QString& file) = 0;
};

// Shorthands with the program's usual captions.
void showError(QWidget* parent, const QString& text);   // "エラー"
void showWarning(QWidget* parent, const QString& text); // "警告"
void showInformation(QWidget* parent, const QString& caption, const QString& text);
bool askYesNo(QWidget* parent, const QString& caption, const QString& text); // true on Yes

// A save dialog's default extension: appended (with its dot) to a chosen file name that has
// none; an empty name stays empty.
QString withDefaultExtension(const QString& file, const QString& extension);

} // namespace klv
