#pragma once
// The result list of the orphan entry search over the rows vector itself, with a check box and
// the one icon on every row. While a scan appends to the vector, the list shows only the rows
// it has been told of, so a repaint between two steps never reads a half-made row.
#include "core/orphans/OrphanScan.h"
#include "gui/widgets/RowVectorModel.h"

#include <QIcon>
#include <string>
#include <vector>

namespace klv {

class OrphanTableModel : public RowVectorModel<OrphanRow> {
public:
    enum Column { ColData, ColRoot, ColKey, ColName, ColPath, ColumnCount };

    OrphanTableModel(std::vector<OrphanRow>& rows, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // The check box of a row is its `checked`.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Sorts the rows themselves: deletion runs from the last row shown up, and the report
    // writes them in the order shown.
    void sort(int column, Qt::SortOrder order) override;

    // Every row's check box may have changed.
    void checksChanged();

private:
    QIcon icon_;
};

} // namespace klv
