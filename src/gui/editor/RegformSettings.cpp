// The editor window's view settings: bars and panels shown, pane sizes, band order, as the
// settings file remembers them.
#include "gui/editor/Regform.h"

#include "core/settings/SettingsFile.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QMenu>
#include <QSplitter>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace klv {

void TRegform::showPanelTab(int index) {
    if (PageControl1->isHidden())
        FunctionPanelClick();
    PageControl1->setCurrentIndex(index);
}

void TRegform::FunctionPanelClick() {
    toggleBar(PageControl1, QStringLiteral("FunctionPanel"), "FP");
}

void TRegform::ToolBarClick() {
    toggleBar(ToolBar1, QStringLiteral("ToolBarToggle"), "TB");
}

void TRegform::AddressBarClick() {
    toggleBar(AddressBar, QStringLiteral("AddressBarToggle"), "AB");
}

// Flips a bar's visibility and its menu check mark, and remembers it while SAVE is on.
void TRegform::toggleBar(QWidget* bar, const QString& action, const char* key) {
    const bool show = bar->isHidden();
    bar->setVisible(show);
    for (QMenu* m : menus_)
        for (QAction* a : m->actions())
            if (a->objectName() == action)
                a->setChecked(show);
    SettingsFile& s = form1_.settings();
    if (s.readBool("OPTION", "SAVE", true))
        s.writeBool("VIEW", key, show);
}

// The bars, the function panel's height and the order of the toolbar bands as the last window
// left them; remembered state is read only while SAVE is on.
void TRegform::restoreViewState() {
    SettingsFile& s = form1_.settings();
    const bool save = s.readBool("OPTION", "SAVE", true);
    const struct {
        QWidget* bar;
        const char* action;
        const char* key;
    } bars[] = {{ToolBar1, "ToolBarToggle", "TB"},
                {AddressBar, "AddressBarToggle", "AB"},
                {PageControl1, "FunctionPanel", "FP"}};
    for (const auto& b : bars) {
        const bool show = !save || s.readBool("VIEW", b.key, true);
        b.bar->setVisible(show);
        for (QMenu* m : menus_)
            for (QAction* a : m->actions())
                if (a->objectName() == QLatin1String(b.action))
                    a->setChecked(show);
    }
    if (!save)
        return;
    if (const int h = s.readInt("VIEW", "VIEW_H", -1); h > 0) {
        const QList<int> sizes = Splitter2->sizes();
        const int total = std::max(sizes.value(0) + sizes.value(1), h + 100);
        Splitter2->setSizes({total - h, h});
    }
    // Bands top to bottom as BansPositions lists them; names it does not know are skipped.
    auto* box = static_cast<QVBoxLayout*>(layout());
    const int count = std::clamp(s.readInt("BansPositions", "ControlCount", 0), 0, 16);
    int row = 0;
    for (int i = 1; i <= count; ++i) {
        const QString name =
            toQString(s.readString("BansPositions", "Control" + std::to_string(i)));
        for (QWidget* band : {static_cast<QWidget*>(ToolBar1), AddressBar})
            if (band->objectName() == name && box->indexOf(band) >= row) {
                box->removeWidget(band);
                box->insertWidget(row++, band);
            }
    }
}

} // namespace klv
