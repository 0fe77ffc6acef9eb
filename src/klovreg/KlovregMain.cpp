// klovreg: wires the command to a user interface; everything else is in KlovregCommand.
#include "gui/widgets/QtTranslations.h"
#include "klovreg/DialogKlovregUi.h"
#include "klovreg/KlovregCommand.h"
#include "klovreg/TerminalKlovregUi.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
bool hasDisplay() {
    // A box on the offscreen platform is one nobody can answer: klovreg would never end.
    if (const char* platform = std::getenv("QT_QPA_PLATFORM");
        platform && std::string(platform) == "offscreen")
        return false;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* v = std::getenv(name); v && *v)
            return true;
    return false;
}
} // namespace

int main(int argc, char** argv) {
    const klv::KlovregCommand command(std::vector<std::string>(argv + 1, argv + argc));
    const klv::KlovregSetup setup = klv::KlovregSetup::forProcess(argv[0]);
    if (command.asksUser() && hasDisplay()) {
        QApplication app(argc, argv);
        klv::installQtTranslations(app);
        klv::DialogKlovregUi ui;
        return command.run(setup, ui);
    }
    klv::TerminalKlovregUi ui(stdin, stderr);
    return command.run(setup, ui);
}
