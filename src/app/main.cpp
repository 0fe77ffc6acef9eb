// klovante: the registry editor. Wires the application and the main window together.
#include "app/Form1.h"
#include "app/SelfTest.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quimbo Registry Editor"));
    QStringList args = QApplication::arguments();
    args.removeFirst();
    if (!args.isEmpty() && args.first() == QStringLiteral("--self-test")) {
        args.removeFirst();
        return klv::runSelfTest(args);
    }
    klv::TForm1 form(args);
    form.show();
    return QApplication::exec();
}
