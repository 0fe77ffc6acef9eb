#include "gui/orphans/OrphanTableModel.h"

#include "gui/widgets/ImageLists.h"
#include "gui/widgets/TextBridge.h"

#include <array>

namespace klv {
namespace {

const std::string& cellText(const OrphanRow& row, int column) {
    switch (column) {
    case OrphanTableModel::ColData:
        return row.data;
    case OrphanTableModel::ColRoot:
        return row.root;
    case OrphanTableModel::ColKey:
        return row.key;
    case OrphanTableModel::ColName:
        return row.name;
    default:
        return row.path;
    }
}

} // namespace

OrphanTableModel::OrphanTableModel(std::vector<OrphanRow>& rows, QObject* parent)
    : RowVectorModel<OrphanRow>(rows, parent),
      icon_(ImageLists::toolImage(ImageLists::ToolImage::OrphanSearch)) {}

int OrphanTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int OrphanTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant OrphanTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_)
        return {};
    const OrphanRow& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return toQString(cellText(row, index.column()));
    if (index.column() != ColData)
        return {};
    if (role == Qt::DecorationRole)
        return icon_;
    if (role == Qt::CheckStateRole)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool OrphanTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != ColData ||
        index.row() >= shown_)
        return false;
    rows_[static_cast<std::size_t>(index.row())].checked =
        value.toInt() == static_cast<int>(Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags OrphanTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == ColData)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant OrphanTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<QString, ColumnCount> headers{
        QStringLiteral("孤立したデータ"), QStringLiteral("ルートキー"), QStringLiteral("キー"),
        QStringLiteral("名前"), QStringLiteral("判定ﾊﾟｽ")};
    return headerText(headers, section, orientation, role);
}

void OrphanTableModel::sort(int column, Qt::SortOrder order) {
    // Rows not shown yet belong to a scan that is still appending.
    if (column < 0 || column >= ColumnCount || !allShown())
        return;
    sortRows(order,
             [column](const OrphanRow& r) -> const std::string& { return cellText(r, column); });
}

void OrphanTableModel::checksChanged() {
    if (shown_ > 0)
        emit dataChanged(index(0, ColData), index(shown_ - 1, ColData), {Qt::CheckStateRole});
}

} // namespace klv
