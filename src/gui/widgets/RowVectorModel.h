#pragma once
// A table model over a vector of rows that its window owns, with no item per cell, so that
// lists of 100,000s of rows stay quick. Sorting moves the rows themselves (what a window then
// saves or runs over is the order shown), keeping the selection and the current row on their
// rows.
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>
#include <array>
#include <numeric>
#include <string>
#include <vector>

namespace klv {

template <class Row> class RowVectorModel : public QAbstractTableModel {
public:
    RowVectorModel(std::vector<Row>& rows, QObject* parent)
        : QAbstractTableModel(parent), rows_(rows) {}

    // While a loop appends to the vector, the list shows only the rows it has been told of, so
    // a repaint between two steps never reads a half-made row.
    // Shows the rows appended since the last call.
    void sync() {
        const int total = static_cast<int>(rows_.size());
        if (total <= shown_)
            return;
        beginInsertRows({}, shown_, total - 1);
        shown_ = total;
        endInsertRows();
    }
    // Shows the rows as they are now, after they were replaced or removed.
    void reload() {
        beginResetModel();
        shown_ = static_cast<int>(rows_.size());
        endResetModel();
    }

protected:
    bool allShown() const { return shown_ == static_cast<int>(rows_.size()); }
    // The header texts of the columns; a header clicked for the first time sorts ascending.
    template <std::size_t N>
    static QVariant headerText(const std::array<QString, N>& headers, int section,
                               Qt::Orientation orientation, int role) {
        if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(N))
            return {};
        if (role == Qt::DisplayRole)
            return headers[static_cast<std::size_t>(section)];
        if (role == Qt::InitialSortOrderRole)
            return static_cast<int>(Qt::AscendingOrder);
        return {};
    }

    // `key(row)` gives the text a row sorts by (CP932 bytes compare as the lists show them).
    template <class Key> void sortRows(Qt::SortOrder order, Key key) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<std::size_t> perm(rows_.size());
        std::iota(perm.begin(), perm.end(), 0);
        std::stable_sort(perm.begin(), perm.end(), [&](std::size_t a, std::size_t b) {
            const std::string& x = key(rows_[a]);
            const std::string& y = key(rows_[b]);
            return order == Qt::AscendingOrder ? x < y : y < x;
        });
        std::vector<Row> sorted;
        sorted.reserve(rows_.size());
        std::vector<int> newRow(rows_.size());
        for (std::size_t i = 0; i < perm.size(); ++i) {
            sorted.push_back(std::move(rows_[perm[i]]));
            newRow[perm[i]] = static_cast<int>(i);
        }
        rows_ = std::move(sorted);
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        for (const QModelIndex& i : from)
            to.append(index(newRow[static_cast<std::size_t>(i.row())], i.column()));
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    std::vector<Row>& rows_;
    int shown_ = 0;
};

// A flat, read-only list view of whole rows, one selected at a time, as the tool windows show
// their result lists.
inline void setUpResultView(QTreeView* view) {
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setStretchLastSection(false);
}

} // namespace klv
