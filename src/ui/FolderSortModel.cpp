#include "ui/FolderSortModel.h"

#include "ui/FolderListModel.h"

namespace kadmel {
namespace {

// "532 Bytes", "1,23 KB", "12,3 MB": the bytes the text stands for, as far as its digits tell.
qint64 sizeValue(const QString& text)
{
    static const QString units[] = {QStringLiteral("Bytes"), QStringLiteral("KB"), QStringLiteral("MB"),
                                    QStringLiteral("GB")};
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    const QStringView unitText = QStringView(text).mid(space + 1);
    int unit = 0;
    while (unit < 4 && unitText != units[unit])
        ++unit;
    bool ok = false;
    const double number = text.left(space).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (space < 0 || unit == 4 || !ok || number < 0)
        return -1;
    return qint64(number * double(qint64(1) << (10 * unit)));
}

// "dd.MM.yyyy HH:mm:ss" as the number yyyyMMddHHmmss, so that later is larger.
qint64 dateValue(const QString& text)
{
    static constexpr int digitsInOrder[] = {6, 7, 8, 9, 3, 4, 0, 1, 11, 12, 14, 15, 17, 18};
    if (text.size() != 19)
        return -1;
    qint64 value = 0;
    for (const int i : digitsInOrder) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// What a cell sorts by: a number for the ID, date and size columns (-1 when the text is none of ours),
// otherwise the text itself.
QVariant sortKey(int column, const QString& text)
{
    switch (column) {
    case FolderListModel::IdColumn: {
        bool ok = false;
        const int id = text.toInt(&ok);
        return ok ? id : -1;
    }
    case FolderListModel::EntryColumn:
    case FolderListModel::DateColumn:
        return dateValue(text);
    case FolderListModel::SizeColumn:
        return sizeValue(text);
    default:
        return text;
    }
}

} // namespace

void FolderSortModel::setSourceModel(QAbstractItemModel* model)
{
    m_list = qobject_cast<FolderListModel*>(model);
    QSortFilterProxyModel::setSourceModel(model);
}

void FolderSortModel::setFilter(const QString& text, FailureKind kind)
{
    const QString lower = text.trimmed().toLower();
    if (lower == m_text && kind == m_kind)
        return;
    m_text = lower;
    m_kind = kind;
    invalidateFilter();
}

bool FolderSortModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (!m_list || sourceParent.isValid())
        return true;
    return (m_kind == FailureKind::None || m_list->kindAt(sourceRow) == m_kind) &&
           (m_text.isEmpty() || m_list->searchKeyAt(sourceRow).contains(m_text));
}

bool FolderSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int column = left.column();
    const bool text = column != FolderListModel::IdColumn && column != FolderListModel::EntryColumn &&
                      column != FolderListModel::DateColumn && column != FolderListModel::SizeColumn;
    if (text && m_list && left.model() == m_list)
        return m_list->sortKeyAt(left.row(), column).compare(m_list->sortKeyAt(right.row(), column)) < 0;
    const QVariant a = sortKey(column, left.data().toString());
    const QVariant b = sortKey(column, right.data().toString());
    if (a.typeId() == QMetaType::QString)
        return a.toString().toLower().localeAwareCompare(b.toString().toLower()) < 0;
    return a.toLongLong() < b.toLongLong();
}

} // namespace kadmel
