#include "gui/widgets/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace klv {

void installQtTranslations(QCoreApplication& app) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ja"), folder))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace klv
