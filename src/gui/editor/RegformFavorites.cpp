// The favorites and access history tabs: adding and editing favorites, moving them, and going
// to a location from either list. Their rules (rows, limits, moves) are the core's.
#include "gui/editor/Regform.h"

#include "core/lists/PanelLists.h"
#include "core/platform/TimeText.h"
#include "core/registry/RootKeys.h"
#include "core/settings/SettingsFile.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/FrameHost.h"
#include "gui/widgets/TextBridge.h"

#include <QTreeWidget>

namespace klv {

void TRegform::AddFavoriteClick() {
    const QString location = currentKeyText();
    if (location.isEmpty())
        return; // no key selected yet
    const auto comment = DialogService::instance().inputText(
        this, QStringLiteral("お気に入りの追加"), QStringLiteral("コメント :"), QString());
    if (!comment)
        return;
    const auto cpComment = toCp932(*comment);
    const auto cpLocation = toCp932(location);
    if (!cpComment || !cpLocation) {
        showError(this, unconvertibleTextMessage(cpComment ? location : *comment));
        return;
    }
    std::vector<ListRow> rows = listRows(ListView3);
    insertNewest(rows, favoriteRow(*cpLocation, *cpComment),
                 form1_.settings().readInt("OPTION", "HIS_1", kDefaultFavoriteLimit));
    fillList(ListView3, rows);
    saveListView(ListView3);
}

void TRegform::EditCommentClick() {
    QTreeWidgetItem* item = ListView3->currentItem();
    if (currentPanelList() != ListView3 || !item)
        return;
    const auto comment = DialogService::instance().inputText(
        this, QStringLiteral("コメントの編集"), QStringLiteral("コメント :"), item->text(1));
    if (!comment)
        return;
    if (!toCp932(*comment)) {
        showError(this, unconvertibleTextMessage(*comment));
        return;
    }
    item->setText(1, *comment);
    saveListView(ListView3);
}

void TRegform::MoveFavoriteClick(int step) {
    QTreeWidgetItem* item = ListView3->currentItem();
    if (!item)
        return;
    const int index = ListView3->indexOfTopLevelItem(item);
    std::vector<ListRow> rows = listRows(ListView3);
    if (!moveRow(rows, static_cast<std::size_t>(index), step))
        return;
    fillList(ListView3, rows);
    QTreeWidgetItem* moved = ListView3->topLevelItem(index + step);
    ListView3->setCurrentItem(moved);
    ListView3->setFocus();
    favoritesChanged_ = true;
}

void TRegform::GoToFavoriteClick() {
    if (QTreeWidgetItem* item = ListView3->currentItem())
        goToLocation(ListView3, item->text(0));
}

void TRegform::GoToHistoryClick() {
    if (QTreeWidgetItem* item = ListView4->currentItem())
        goToLocation(ListView4, item->text(1));
}

// A location whose key is gone is offered for removal; otherwise the tree goes there by the
// exact names, passing each level through the usual selection (and its history rows).
void TRegform::goToLocation(QTreeWidget* list, const QString& location) {
    const auto text = toCp932(location);
    const LocationParts parts = splitLocation(text.value_or(std::string()));
    const std::optional<RootHandle> root = splitKeyPath(parts.root).root;
    bool present = false;
    if (text && root) {
        TRegistry reg;
        reg.RootKey(*root);
        present = reg.KeyPresent(parts.keyPath);
    }
    if (!present) {
        if (askYesNo(this, QStringLiteral("削除の確認"),
                     QStringLiteral("指定されたキーは既に存在しません。この項目を削除してよろしい"
                                    "ですか？")))
            delete list->currentItem(); // written at the next save point
        return;
    }
    form1_.Label19 = QStringLiteral("0");
    NavigateTo(location);
}

} // namespace klv
