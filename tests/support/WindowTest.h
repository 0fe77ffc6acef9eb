#pragma once
// Fixture of the window tests: fresh program and system folders (so a first start, with a
// freshly seeded registry), the test dialog service, and the main window started with
// arguments.
#include "core/registry/Store.h"
#include "core/settings/SettingsFile.h"
#include "gui/frame/Form1.h"
#include "support/FakeDialogs.h"
#include "support/TempFolders.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace klv::test {

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        unsetenv("KLOVANTE_PLATFORM");
        Store::resetShared();
    }
    ~WindowTest() override {
        form.reset();
        Store::resetShared();
        unsetenv("KLOVANTE_PLATFORM");
    }

    TForm1& start(const QStringList& arguments = {}) {
        form = std::make_unique<TForm1>(arguments);
        form->show();
        QApplication::processEvents();
        return *form;
    }
    SettingsFile settings() const { return SettingsFile(SettingsFile::defaultPath()); }

    TempFolders folders;
    FakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

} // namespace klv::test
