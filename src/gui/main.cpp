// klovante: the registry editor. Wires the application and the main window together.
#include "gui/frame/Form1.h"
#include "gui/frame/SelfTest.h"
#include "gui/frame/WineSession.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/QtTranslations.h"
#include "gui/widgets/TextBridge.h"

#include <QApplication>
#include <exception>
#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quimbo Registry Editor"));
    klv::installQtTranslations(app);
    QStringList args = QApplication::arguments();
    args.removeFirst();
    try {
        if (!args.isEmpty() && args.first() == QStringLiteral("--self-test")) {
            args.removeFirst();
            return klv::runSelfTest(args);
        }
        // The prefix is opened before any window: every window works on its registry.
        std::unique_ptr<klv::WineSession> wine;
        if (!args.isEmpty() && args.first() == QStringLiteral("--wine-prefix")) {
            if (args.size() < 2 || args.at(1).isEmpty()) {
                klv::showError(nullptr, QStringLiteral("--wine-prefix には Wine のプレフィックスの"
                                                       "フォルダを指定します"));
                return 1;
            }
            wine = klv::WineSession::open(args.at(1));
            if (!wine)
                return 1;
            args.remove(0, 2);
        }
        auto form = std::make_unique<klv::TForm1>(args);
        form->show();
        if (wine && !wine->notesText().isEmpty())
            klv::showInformation(form.get(), QStringLiteral("Wine のレジストリ"),
                                 wine->notesText());
        return QApplication::exec();
    } catch (const std::exception& e) {
        // The program folder cannot be made, or the like: nothing to show a window on.
        klv::showError(nullptr, klv::toQString(e.what()));
        return 1;
    }
}
