#include "gui/script/ScriptFileDialog.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "gui/widgets/TextBridge.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QPlainTextEdit>
#include <algorithm>
#include <fstream>

namespace klv {

namespace {

// A preview needs the start of a file only; a large file must not stall the dialog.
constexpr std::streamsize kPreviewBytes = 64 * 1024;

std::function<QString(const QString&)>& testChooser() {
    static std::function<QString(const QString&)> chooser;
    return chooser;
}

} // namespace

QStringList scriptLinesOf(const std::string& bytes) {
    // UTF-8 as the settings file takes it: with its mark, or valid and holding multi-byte
    // characters; CP932 otherwise, where bytes that are not CP932 show as U+FFFD, never "?".
    QString text;
    if (const auto utf8 = utf8FileText(bytes))
        text = QString::fromUtf8(utf8->data(), static_cast<qsizetype>(utf8->size()));
    else
        text = toQString(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (text.isEmpty())
        return {};
    return text.split(QLatin1Char('\n'));
}

QStringList readScriptFile(const QString& path) {
    const std::filesystem::path p = path.toStdString();
    const std::optional<std::string> bytes = readFileBytes(p);
    if (!bytes)
        throw FileReadError(p, sj("ファイルが見つかりません"));
    return scriptLinesOf(*bytes);
}

TScriptFileDialog::TScriptFileDialog(QWidget* parent, const QString& caption)
    : QFileDialog(parent, caption, QString(), QStringLiteral("QB スクリプト (*.HVS)")) {
    setObjectName(QStringLiteral("ScriptFileDialog"));
    // The preview sits inside the dialog, which a native dialog does not allow.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setMinimumWidth(260);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(Memo1, 0, grid->columnCount(), grid->rowCount(), 1);
    connect(this, &QFileDialog::currentChanged, this,
            [this](const QString& path) { FileListChange(path); });
    resize(960, 460);
}

void TScriptFileDialog::FileListChange(const QString& path) {
    Memo1->clear();
    if (!QFileInfo(path).isFile())
        return;
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::string bytes(static_cast<std::size_t>(kPreviewBytes), '\0');
    in.read(bytes.data(), kPreviewBytes);
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    Memo1->setPlainText(scriptLinesOf(bytes).join(QLatin1Char('\n')));
}

QString TScriptFileDialog::choose(QWidget* parent, const QString& caption) {
    if (testChooser())
        return testChooser()(caption);
    TScriptFileDialog d(parent, caption);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
        return {};
    return d.selectedFiles().constFirst();
}

void TScriptFileDialog::setChooserForTesting(std::function<QString(const QString&)> chooser) {
    testChooser() = std::move(chooser);
}

} // namespace klv
