#pragma once

#include <QStyledItemDelegate>

namespace kadmel {

// The Status cell loses its middle, not its end, when narrow: the end tells a refusal from a time-out
// ("… vom Mailserver." / "… von ZUB getrennt.") and holds the time of a waiting mail's next attempt.
class StatusCellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

} // namespace kadmel
