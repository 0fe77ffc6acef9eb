#pragma once
// The result list of the change-tracking window over the rows vector itself: no item per cell,
// so that 100,000s of rows stay quick. While a comparison appends to the vector, the list shows
// only the rows it has been told of, so a repaint between two steps never reads a half-made row.
#include "core/snapshot/ChangeTracking.h"
#include "gui/widgets/RowVectorModel.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <array>
#include <vector>

namespace klv {

class ChangeTableModel : public RowVectorModel<ChangeRow> {
public:
    static constexpr int kColumns = 6;

    ChangeTableModel(std::vector<ChangeRow>& rows, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Sorts the rows themselves: the report writes them in the order shown.
    void sort(int column, Qt::SortOrder order) override;

private:
    std::array<QIcon, 3> icons_; // by state: created, updated, deleted
};

} // namespace klv
