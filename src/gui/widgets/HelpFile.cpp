#include "gui/widgets/HelpFile.h"

#include "core/platform/Folders.h"
#include "gui/widgets/DialogService.h"

namespace klv {

void showHelpPage(QWidget* parent, const QString& page) {
    if (const auto dir = findNoCase(programFolder(), "HELP")) {
        const auto file = findNoCase(*dir, page.toStdString());
        if (file &&
            DialogService::instance().openWithDesktop(QString::fromStdString(file->string())))
            return;
    }
    showInformation(parent, QStringLiteral("ヘルプ"),
                    QStringLiteral("ヘルプファイルがインストールされていません。"));
}

void showHelpTopic(QWidget* parent, int topic) {
    showHelpPage(parent, QStringLiteral("topic%1.html").arg(topic));
}

} // namespace klv
