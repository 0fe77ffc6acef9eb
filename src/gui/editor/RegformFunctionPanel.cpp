// The function panel below the editor window's panes: the undo log, favorites, access history
// and value holder lists.
#include "gui/editor/Regform.h"

#include "gui/widgets/ImageLists.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>

namespace klv {

void TRegform::buildFunctionPanel() {
    PageControl1 = new QTabWidget(Splitter2);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    auto list = [this](const QString& name, const QStringList& columns, const QString& tab,
                       const QIcon& icon) {
        auto* l = new QTreeWidget(PageControl1);
        l->setObjectName(name);
        l->setColumnCount(static_cast<int>(columns.size()));
        l->setHeaderLabels(columns);
        l->setRootIsDecorated(false);
        l->setUniformRowHeights(true);
        l->setIconSize(QSize(16, 16));
        PageControl1->addTab(l, icon, tab);
        return l;
    };
    ListView2 =
        list(QStringLiteral("ListView2"),
             {QStringLiteral("日時"), QStringLiteral("操作"), QStringLiteral("該当ルートキー"),
              QStringLiteral("該当キー"), QStringLiteral("該当データ"), QStringLiteral("変更前"),
              QStringLiteral("変更後"), QStringLiteral("アンドゥファイル")},
             QStringLiteral("元に戻す"), ImageLists::sharedImage(ImageLists::ImgUndo));
    ListView3 =
        list(QStringLiteral("ListView3"), {QStringLiteral("場所"), QStringLiteral("コメント")},
             QStringLiteral("お気に入り"), ImageLists::sharedImage(ImageLists::ImgFavorite));
    ListView4 =
        list(QStringLiteral("ListView4"), {QStringLiteral("日時"), QStringLiteral("履歴")},
             QStringLiteral("アクセス履歴"), ImageLists::sharedImage(ImageLists::ImgHistory));
    ListView5 = list(
        QStringLiteral("ListView5"),
        {QStringLiteral("名前"), QStringLiteral("データ"), QStringLiteral("種類"),
         QStringLiteral("貼り付け"), QStringLiteral("保管日時"), QStringLiteral("保管元")},
        QStringLiteral("バリューホルダー"), ImageLists::sharedImage(ImageLists::ImgValueHolder));
    ListView4->header()->resizeSection(0, 150);
    ListView2->header()->resizeSection(0, 150);
}

} // namespace klv
