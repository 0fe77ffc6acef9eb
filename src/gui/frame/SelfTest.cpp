#include "gui/frame/SelfTest.h"

#include "gui/editor/Regform.h"
#include "gui/frame/Form1.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>

namespace klv {
namespace {

int fail(const char* what) {
    std::fprintf(stderr, "klovante --self-test: %s\n", what);
    return 1;
}

} // namespace

int runSelfTest(const QStringList& arguments) {
    TForm1 form(arguments);
    form.show();
    QApplication::processEvents();
    const auto windows = form.editorWindows();
    if (windows.empty())
        return fail("no editor window was opened");
    TRegform* editor = windows.front();
    editor->NavigateTo(QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Desktop"));
    QApplication::processEvents();
    if (editor->caption() != QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Desktop"))
        return fail("the key was not selected");
    if (form.Edit1 != editor->caption())
        return fail("the current key path was not handed to the main window");
    if (editor->ValueModel->rowCount() < 2)
        return fail("the value list of the key is empty");
    if (!form.statusPanel(2).startsWith(QStringLiteral("サブキーの数 : ")))
        return fail("the status bar does not show the key information");
    const int values = editor->ValueModel->rowCount();
    form.close();
    std::printf("klovante --self-test: ok (%d roots, %d values at %s)\n", form.rootCount(), values,
                "HKEY_CURRENT_USER\\Control Panel\\Desktop");
    return 0;
}

} // namespace klv
