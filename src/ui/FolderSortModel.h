#pragma once

#include "engine/FailureReason.h"

#include <QSortFilterProxyModel>

namespace kadmel {

class FolderListModel;

// The order a folder list shows when the user clicks a column header. Numbers, dates and sizes sort
// by value, the other texts alphabetically without regard to case; equal cells keep the folder order.
// Without a sort column the rows stand in folder order. A filter shows only the rows whose ID, sender,
// recipient or subject holds a text (without regard to case), and of one kind of failure.
class FolderSortModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setSourceModel(QAbstractItemModel* model) override;
    // An empty text and FailureKind::None show every row.
    void setFilter(const QString& text, FailureKind kind = FailureKind::None);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    FolderListModel* m_list = nullptr; // the rows' precomputed keys, read without a QVariant per row
    QString m_text;
    FailureKind m_kind = FailureKind::None;
};

} // namespace kadmel
