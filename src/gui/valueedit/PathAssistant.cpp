#include "gui/valueedit/PathAssistant.h"

#include "core/platform/DriveMap.h"
#include "core/platform/Folders.h"
#include "core/valueedit/ValueEdit.h"
#include "gui/widgets/TextBridge.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QImageReader>
#include <QListWidget>

namespace klv {

TPathAssistant::TPathAssistant(QWidget* parent) : QFileDialog(parent) {
    setObjectName(QStringLiteral("PathAssistant"));
    setWindowTitle(QStringLiteral("フルパス指定アシスタント"));
    setOption(QFileDialog::DontUseNativeDialog); // the icon list and the boxes live in it
    setFileMode(QFileDialog::ExistingFile);
    setNameFilters(
        {QStringLiteral("すべてのファイル (*)"), QStringLiteral("アイコン (*.ico)"),
         QStringLiteral("アイコンを含むファイル (*.exe *.dll *.cpl *.drv *.sys *.ocx)")});
    IconList = new QListWidget(this);
    IconList->setObjectName(QStringLiteral("IconList"));
    IconList->setViewMode(QListView::IconMode);
    IconList->setIconSize(QSize(32, 32));
    IconList->setFlow(QListView::LeftToRight);
    IconList->setWrapping(false);
    IconList->setFixedHeight(64);
    IconList->hide();
    CheckBox1 = new QCheckBox(QStringLiteral("アイコン番号をフルパスに付け足す(&P)..."), this);
    CheckBox2 =
        new QCheckBox(QStringLiteral("フルパスを \" \" （ダブルクオータ）で囲む(&W)"), this);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        const int row = grid->rowCount();
        grid->addWidget(IconList, row, 0, 1, grid->columnCount());
        grid->addWidget(CheckBox1, row + 1, 0, 1, grid->columnCount());
        grid->addWidget(CheckBox2, row + 2, 0, 1, grid->columnCount());
    }
    connect(this, &QFileDialog::currentChanged, this,
            [this](const QString& file) { showIconsOf(file); });
}

void TPathAssistant::showIconsOf(const QString& file) {
    IconList->clear();
    if (QFileInfo(file).isFile()) {
        QImageReader reader(file);
        // Every image the file holds that Qt can read (an .ico holds several).
        for (int i = 0; reader.canRead() && i < 256; ++i) {
            const QImage image = reader.read();
            if (image.isNull())
                break;
            auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(image)), QString::number(i));
            IconList->addItem(item);
            if (!reader.jumpToNextImage())
                break;
        }
    }
    IconList->setVisible(IconList->count() > 0);
}

QString TPathAssistant::result(const QString& file) const {
    // The data field holds a Windows path, through the drive map; a file below no drive keeps
    // its own path.
    const auto windows = DriveMap(systemFolder()).toWindowsPath(file.toStdString());
    const QString path = windows ? QString::fromStdString(*windows) : file;
    const auto cp = toCp932(path);
    return toQString(assistedPath(cp.value_or(std::string()), CheckBox2->isChecked(),
                                  CheckBox1->isChecked(), IconList->currentRow()));
}

} // namespace klv
