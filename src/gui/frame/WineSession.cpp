#include "gui/frame/WineSession.h"

#include "core/platform/ErrorText.h"
#include "core/platform/Folders.h"
#include "core/regfiles/RegistryPrograms.h"
#include "core/registry/RegistryError.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/TextBridge.h"
#include "gui/widgets/WaitCursor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cstdlib>
#include <exception>

namespace klv {
namespace {

namespace fs = std::filesystem;

WineSession* currentSession = nullptr;
WineSession::Launcher& testLauncher() {
    static WineSession::Launcher launcher;
    return launcher;
}

std::optional<std::string> environmentValue(const char* name) {
    if (const char* v = std::getenv(name))
        return std::string(v);
    return std::nullopt;
}

void restoreEnvironment(const char* name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

void restoreEnvironment(QProcessEnvironment& env, const QString& name,
                        const std::optional<std::string>& value) {
    if (value)
        env.insert(name, QFile::decodeName(QByteArray::fromStdString(*value)));
    else
        env.remove(name);
}

QString caption() {
    return QStringLiteral("Wine のレジストリ");
}

QString errorText(const std::exception& e) {
    if (const auto* r = dynamic_cast<const RegistryError*>(&e))
        return toQString(r->fullText());
    return toQString(describeError(e));
}

bool launch(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& environment) {
    if (testLauncher())
        return testLauncher()(program, arguments, environment);
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace

WineSession::WineSession(const fs::path& prefix)
    : previousHome_(environmentValue("KLOVANTE_HOME")),
      previousWindir_(environmentValue("KLOVANTE_WINDIR")), prefix_(prefix, programFolder()) {
    prefix_.open();
    // A new prefix folder has no registry programs yet; the import and export windows run them.
    ensureRegistryPrograms(prefix_.systemFolder());
    prefix_.useInThisProcess();
    currentSession = this;
}

WineSession::~WineSession() {
    if (currentSession == this)
        currentSession = nullptr;
    restoreEnvironment("KLOVANTE_HOME", previousHome_);
    restoreEnvironment("KLOVANTE_WINDIR", previousWindir_);
}

std::unique_ptr<WineSession> WineSession::open(const QString& folder) {
    try {
        return std::make_unique<WineSession>(fs::path(QFile::encodeName(folder).toStdString()));
    } catch (const std::exception& e) {
        showError(nullptr, errorText(e));
        return nullptr;
    }
}

WineSession* WineSession::current() {
    return currentSession;
}

QString WineSession::prefixText() const {
    std::error_code ec;
    fs::path p = fs::absolute(prefix_.prefix(), ec);
    if (ec)
        p = prefix_.prefix();
    return QFile::decodeName(QByteArray::fromStdString(p.lexically_normal().string()));
}

QString WineSession::notesText() const {
    QStringList notes;
    for (const std::string& n : prefix_.notes())
        notes << toQString(n);
    return notes.join(QStringLiteral("\n\n"));
}

bool WineSession::writeBack(QWidget* parent, bool closing) {
    const QString kept =
        closing ? QStringLiteral("\n「いいえ」を選ぶと、変更はこのプログラムに残ります。次にこの"
                                 "プレフィックスを開いて書き戻すとき、または klovreg "
                                 "--wine-prefix %1 --write-back で書き込まれます。")
                      .arg(prefixText())
                : QStringLiteral("\n「いいえ」を選ぶと、変更はこのプログラムに残り、次に書き戻す"
                                 "ときに書き込まれます。");
    for (;;) {
        try {
            const WaitCursor hourglass;
            prefix_.writeBack();
            return true;
        } catch (const wine::WineServerRunningError& e) {
            if (!askYesNo(parent, caption(),
                          toQString(e.what()) + kept + QStringLiteral("\n\nもう一度確認しますか?")))
                return false;
        } catch (const std::exception& e) {
            showError(parent, errorText(e));
            return false;
        }
    }
}

QString WineSession::defaultPrefixFolder() {
    const QString wine = QDir::home().filePath(QStringLiteral(".wine"));
    return QFileInfo(wine).isDir() ? wine : QDir::homePath();
}

bool WineSession::openInNewProcess(QWidget* parent, const QString& folder) {
    // Checked here so that the user hears of a wrong folder at once, not from a program that
    // only starts to say so.
    std::error_code ec;
    const fs::path path(QFile::encodeName(folder).toStdString());
    if (!fs::is_regular_file(path / wine::kWineFiles[0], ec)) {
        showError(parent,
                  folder + QStringLiteral(" は Wine のプレフィックスではありません（system.reg "
                                          "がありません）"));
        return false;
    }
    // The new instance makes the prefix's folder below the user's own program folder, not
    // below the prefix this instance has open.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (const WineSession* s = current()) {
        restoreEnvironment(env, QStringLiteral("KLOVANTE_HOME"), s->previousHome_);
        restoreEnvironment(env, QStringLiteral("KLOVANTE_WINDIR"), s->previousWindir_);
    }
    if (!launch(QCoreApplication::applicationFilePath(), {QStringLiteral("--wine-prefix"), folder},
                env)) {
        showError(parent, QStringLiteral("プログラムを起動できないため、") + folder +
                              QStringLiteral(" を開けません。"));
        return false;
    }
    return true;
}

void WineSession::setLauncherForTesting(Launcher launcher) {
    testLauncher() = std::move(launcher);
}

} // namespace klv
