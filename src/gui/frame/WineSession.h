#pragma once
// The Wine prefix this process edits, when the program was started with "--wine-prefix": its
// registry is the one every window works on, and it goes back to the prefix's files at the save
// points (an editor window closing, the program ending, the menu command).
#include "core/wine/WinePrefix.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace klv {

class WineSession {
public:
    // Opens the prefix and points this process (and the programs it starts) at it. Throws
    // wine::WinePrefixError, RegistryError and FileError.
    explicit WineSession(const std::filesystem::path& prefix);
    // Points the process back at the folders it used before.
    ~WineSession();
    WineSession(const WineSession&) = delete;
    WineSession& operator=(const WineSession&) = delete;

    // Opens the prefix `folder`; on failure the error box says why and the result is empty.
    static std::unique_ptr<WineSession> open(const QString& folder);
    // The open session, or nullptr.
    static WineSession* current();

    wine::WinePrefix& prefix() { return prefix_; }
    QString prefixText() const;
    // What opening found for the user (e.g. where unsaved changes were kept); empty when
    // nothing.
    QString notesText() const;

    // A save point: the changed files go back to the prefix. While Wine runs the user is asked
    // whether to look again; other refusals are shown. Nothing is shown when nothing changed.
    // `closing`: the program ends after this, so the box says how to write the changes later.
    // True when the prefix's files hold every change.
    bool writeBack(QWidget* parent, bool closing);

    // The folder the prefix dialog starts in: ~/.wine when it exists, else the home folder.
    static QString defaultPrefixFolder();
    // Starts another instance of the program on the prefix `folder`, detached, with the
    // folders this process had before any prefix was opened. A folder without system.reg is
    // refused at once in an error box. True when the program started.
    static bool openInNewProcess(QWidget* parent, const QString& folder);

    // Test seam: receives the programs that openInNewProcess would start (nullptr: start them).
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments,
                                        const QProcessEnvironment& environment)>;
    static void setLauncherForTesting(Launcher launcher);

private:
    std::optional<std::string> previousHome_;
    std::optional<std::string> previousWindir_;
    wine::WinePrefix prefix_;
};

} // namespace klv
