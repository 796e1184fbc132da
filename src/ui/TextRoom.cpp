#include "ui/TextRoom.h"

#include "engine/FailureReason.h"
#include "store/Ansi.h"
#include "store/ResultCode.h"
#include "ui/FolderListModel.h"
#include "ui/SendAllSummary.h"

#include <QHeaderView>
#include <QStyleOptionHeader>
#include <QStyleOptionViewItem>
#include <QTableView>

namespace kadmel {
namespace {

constexpr int IconSize = 16;

QString longestKindText()
{
    QString longest;
    for (const FailureKind kind : AllFailureKinds) {
        if (const QString text = fromAnsi(failureKindText(kind)); text.size() > longest.size())
            longest = text;
    }
    return longest;
}

// As the item delegate measures, so the style's margins count too; a new mail's row is bold.
int cellWidth(const QTableView& view, int column, const QString& text)
{
    QStyleOptionViewItem cell;
    cell.initFrom(&view);
    cell.font = view.font();
    cell.font.setBold(true);
    cell.fontMetrics = QFontMetrics(cell.font);
    cell.text = text;
    cell.features = QStyleOptionViewItem::HasDisplay;
    if (column == FolderListModel::IdColumn || column == FolderListModel::StatusColumn) {
        cell.features |= QStyleOptionViewItem::HasDecoration;
        cell.decorationSize = QSize(IconSize, IconSize);
    }
    return view.style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), &view).width();
}

} // namespace

QStringList resultTexts()
{
    QStringList texts;
    for (const ResultCode code : AllResultCodes)
        texts.append(fromAnsi(ResultText(code)));
    return texts;
}

QStringList messagePanelTexts()
{
    return resultTexts() + QStringList{
                               QStringLiteral("E-Mail wird bearbeitet...  (ID 32767)"),
                               QStringLiteral("Verbindung zum Mailserver wird hergestellt...  (ID 32767)"),
                               QStringLiteral("E-Mail wird gesendet...  (ID 32767)"),
                               sendAllSummaryText(MaxMails, MaxMails),
                           };
}

QString longestCellText(int column)
{
    switch (column) {
    case FolderListModel::IdColumn:
        return QStringLiteral("32767");
    case FolderListModel::EntryColumn:
    case FolderListModel::DateColumn:
        return QStringLiteral("00.00.0000 00:00:00");
    case FolderListModel::SizeColumn:
        return QStringLiteral("1023 Bytes");
    case FolderListModel::StatusColumn: {
        QString longest;
        for (const QString& text : resultTexts()) {
            if (text.size() > longest.size())
                longest = text;
        }
        return longestKindText() + QStringLiteral(" – ") + longest;
    }
    }
    return {};
}

int listColumnWidth(const QTableView& view, int column, int designPixels, bool withLongestText)
{
    // Measured as the header and the item delegate measure, so the style's margins count too.
    const QHeaderView* header = view.horizontalHeader();
    QStyleOptionHeader headerOption;
    headerOption.initFrom(header);
    headerOption.text = view.model()->headerData(column, Qt::Horizontal).toString();
    headerOption.sortIndicator = QStyleOptionHeader::SortDown;
    headerOption.fontMetrics = header->fontMetrics();
    const int headerWidth =
        header->style()->sizeFromContents(QStyle::CT_HeaderSection, &headerOption, QSize(), header).width();

    const QString longest = withLongestText ? longestCellText(column) : QString();
    return std::max({designPixels, headerWidth, longest.isEmpty() ? 0 : cellWidth(view, column, longest)});
}

int statusColumnWidth(const QTableView& view)
{
    return cellWidth(view, FolderListModel::StatusColumn, longestKindText() + QStringLiteral(" – 550"));
}

} // namespace kadmel
