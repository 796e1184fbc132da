#include "ui/StatusCellDelegate.h"

#include <QTableView>

namespace kadmel {

QString StatusCellDelegate::shownText(const QTableView& view, const QModelIndex& index) const
{
    QStyleOptionViewItem option;
    option.initFrom(view.viewport());
    option.rect = view.visualRect(index);
    option.decorationSize = view.iconSize();
    initStyleOption(&option, index);
    // As the common style lays the text out: its rectangle less the focus frame's margin on either side.
    QStyle* style = view.style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &option, &view);
    return option.fontMetrics.elidedText(option.text, option.textElideMode, text.width() - 2 * margin);
}

void StatusCellDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideRight;
}

} // namespace kadmel
