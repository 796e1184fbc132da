#pragma once

#include <QStyledItemDelegate>

class QTableView;

namespace kadmel {

// The Status cell loses its end when narrow: its kind and the time of a waiting mail's next attempt come
// first, then the server's words, of which the beginning says most.
class StatusCellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The text as the cell at this index of the view paints it, cut where its column's width cuts it.
    QString shownText(const QTableView& view, const QModelIndex& index) const;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace kadmel
