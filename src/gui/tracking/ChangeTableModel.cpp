#include "gui/tracking/ChangeTableModel.h"

#include "gui/widgets/ImageLists.h"
#include "gui/widgets/TextBridge.h"

#include <algorithm>

namespace klv {
namespace {

const std::string& cellText(const ChangeRow& row, int column) {
    switch (column) {
    case 0:
        return changeStateText(row.state);
    case 1:
        return row.type;
    case 2:
        return row.key;
    case 3:
        return row.name;
    case 4:
        return row.before;
    default:
        return row.after;
    }
}

} // namespace

ChangeTableModel::ChangeTableModel(std::vector<ChangeRow>& rows, QObject* parent)
    : RowVectorModel<ChangeRow>(rows, parent) {
    icons_ = {ImageLists::toolImage(ImageLists::ToolImage::ChangeCreated),
              ImageLists::toolImage(ImageLists::ToolImage::ChangeUpdated),
              ImageLists::toolImage(ImageLists::ToolImage::ChangeDeleted)};
}

int ChangeTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int ChangeTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant ChangeTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_)
        return {};
    const ChangeRow& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return toQString(cellText(row, index.column()));
    if (role == Qt::DecorationRole && index.column() == 0)
        return icons_[static_cast<std::size_t>(row.state)];
    return {};
}

Qt::ItemFlags ChangeTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

QVariant ChangeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<QString, kColumns> headers{
        QStringLiteral("状態"), QStringLiteral("形式"),           QStringLiteral("対象キー"),
        QStringLiteral("値"),   QStringLiteral("検証前のデータ"), QStringLiteral("現在のデータ")};
    return headerText(headers, section, orientation, role);
}

void ChangeTableModel::sort(int column, Qt::SortOrder order) {
    // Rows not shown yet belong to a comparison that is still appending.
    if (column < 0 || column >= kColumns || !allShown())
        return;
    sortRows(order,
             [column](const ChangeRow& r) -> const std::string& { return cellText(r, column); });
}

} // namespace klv
