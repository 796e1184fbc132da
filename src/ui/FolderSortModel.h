#pragma once

#include <QSortFilterProxyModel>

namespace kadmel {

// The order a folder list shows when the user clicks a column header. Numbers, dates and sizes sort
// by value, the other texts alphabetically without regard to case; equal cells keep the folder order.
// Without a sort column the rows stand in folder order.
class FolderSortModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

} // namespace kadmel
