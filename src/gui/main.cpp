// klovante: the registry editor. Wires the application and the main window together.
#include "gui/frame/Form1.h"
#include "gui/frame/SelfTest.h"
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
        auto form = std::make_unique<klv::TForm1>(args);
        form->show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        // The program folder cannot be made, or the like: nothing to show a window on.
        klv::showError(nullptr, klv::toQString(e.what()));
        return 1;
    }
}
