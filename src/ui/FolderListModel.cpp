#include "ui/FolderListModel.h"

#include "engine/FailureReason.h"
#include "store/Ansi.h"
#include "store/ResultCode.h"
#include "ui/Pictures.h"

#include "store/MailExtras.h"

#include <QCollator>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace kadmel {
namespace {

// A paper clip drawn once, for the subject of a mail with attachments.
QIcon paperClip()
{
    static const QIcon icon = [] {
        QIcon drawn;
        for (const int scale : {1, 2}) {
            QPixmap pixmap(16 * scale, 16 * scale);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(scale, scale);
            painter.setPen(QPen(QColor(90, 90, 110), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            QPainterPath clip;
            clip.moveTo(9.5, 5.5); // the inner loop, then the outer one
            clip.lineTo(9.5, 11);
            clip.arcTo(6.5, 9.5, 3, 3, 0, -180);
            clip.lineTo(6.5, 3.5);
            clip.arcTo(6.5, 1, 5, 5, 180, -180);
            clip.lineTo(11.5, 12);
            clip.arcTo(4.5, 8.5, 7, 7, 0, -180);
            clip.lineTo(4.5, 6);
            painter.drawPath(clip);
            painter.end();
            drawn.addPixmap(pixmap);
        }
        return drawn;
    }();
    return icon;
}

} // namespace

FolderListModel::FolderListModel(const MailTables& tables, int folder, QObject* parent)
    : QAbstractTableModel(parent), m_tables(tables), m_folder(folder)
{}

int FolderListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FolderListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FolderListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == IdColumn)
            return QString::number(row.id);
        if (index.column() == StatusColumn)
            return fromAnsi(statusCell(row));
        return fromAnsi(row.cells[index.column()]);
    case Qt::ToolTipRole: {
        // The whole text, however narrow the column; a failed mail's status says why, before the time
        // of its next attempt.
        if (index.column() != StatusColumn) {
            const QString text = data(index, Qt::DisplayRole).toString();
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        QByteArray text = row.cells[StatusColumn];
        if (row.id >= 1 && row.id <= m_tables.MailCount()) {
            if (const QByteArray reason = failureReason(m_tables.mail(row.id)); !reason.isEmpty())
                text += (text.isEmpty() ? "(" : " (") + reason + ')';
        }
        text += m_suffixes.value(row.id);
        return text.isEmpty() ? QVariant() : QVariant(fromAnsi(text));
    }
    case Qt::DecorationRole:
        if (index.column() == IdColumn)
            return pictureIcon(Picture::Mail);
        if (index.column() == SubjectColumn && row.attached)
            return paperClip();
        if (index.column() == StatusColumn) {
            switch (m_folder) {
            case SentFolder:
                return pictureIcon(Picture::Mail1);
            case FailedFolder:
                return pictureIcon(Picture::Mail2);
            default:
                return pictureIcon(Picture::Trash);
            }
        }
        return {};
    case Qt::FontRole:
        if (row.bold) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    }
    return {};
}

QVariant FolderListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case IdColumn:
        return QStringLiteral("ID");
    case FromColumn:
        return QStringLiteral("Absender");
    case ToColumn:
        return QStringLiteral("An");
    case SubjectColumn:
        return QStringLiteral("Betreff");
    case EntryColumn:
        return QStringLiteral("Eingang");
    case DateColumn:
        return QStringLiteral("Datum/Zeit");
    case SizeColumn:
        return QStringLiteral("Größe");
    case StatusColumn:
        return QStringLiteral("Status");
    }
    return {};
}

int FolderListModel::columnTwips(int column)
{
    static constexpr int widths[ColumnCount] = {720, 1500, 1500, 2400, 1680, 1680, 800, 1980};
    return widths[column];
}

const QCollatorSortKey& FolderListModel::sortKeyAt(int row, int column) const
{
    static const QCollator collator = [] {
        QCollator made;
        made.setCaseSensitivity(Qt::CaseInsensitive);
        return made;
    }();
    std::optional<QCollatorSortKey>& key = m_rows.at(row).sortKeys.at(column);
    if (!key)
        key = collator.sortKey(data(index(row, column)).toString());
    return *key;
}

QByteArray FolderListModel::statusCell(const Row& row) const
{
    // The kind first, then what to expect, then the server's words, which may be cut at their end: "abgelehnt –
    // 550 5.1.1 …" reads apart from "vorübergehend – nächster Versuch um 14:05 – 451 4.7.1 …".
    const QByteArray suffix = m_suffixes.value(row.id);
    if (row.kind == FailureKind::None)
        return row.cells[StatusColumn] + suffix;
    return failureKindText(row.kind) + suffix + " \x96 " +
           (row.reason.isEmpty() ? row.cells[StatusColumn] : row.reason);
}

FolderListModel::Row FolderListModel::rowOf(qint16 id, bool bold) const
{
    Row row{id, bold, {}, {}, FailureKind::None, false, {}};
    if (id < 1 || id > m_tables.MailCount())
        return row;
    const MailRecord& mail = m_tables.mail(id);
    row.cells[FromColumn] = fieldValue(mail.From);
    row.cells[ToColumn] = fieldValue(mail.To);
    row.cells[SubjectColumn] = fieldValue(mail.Subject);
    row.cells[DateColumn] = mail.Date;
    row.cells[SizeColumn] = mail.Size;
    row.cells[StatusColumn] = ResultText(mail.Status);
    row.kind = failureKind(mail);
    if (row.kind != FailureKind::None)
        row.reason = failureReason(mail);
    const MailExtras extras = extrasOf(mail);
    row.cells[EntryColumn] = extras.entered; // a mail from before it was kept shows none: its Date may be a resend's
    row.attached = !extras.attachments.isEmpty(); // from the record: no copy is read for a row
    row.searchKey = fromAnsi(QByteArray::number(id) + '\n' + row.cells[FromColumn] + '\n' + row.cells[ToColumn] + '\n' +
                             row.cells[SubjectColumn])
                        .toLower();
    return row;
}

void FolderListModel::rebuild()
{
    beginResetModel();
    m_rows.clear();
    const FolderArray& folder = m_tables.folder(m_folder);
    m_rows.reserve(folder.count);
    // int, not qint16: a full folder's last position is 32767, and one more wraps.
    for (int pos = 1; pos <= folder.count && pos < folder.ids.size(); ++pos)
        m_rows.append(rowOf(folder.ids.at(pos), false));
    endResetModel();
}

void FolderListModel::appendRow(qint16 id, bool bold)
{
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append(rowOf(id, bold));
    endInsertRows();
}

void FolderListModel::removeRowAt(qint16 pos)
{
    const int row = pos - 1;
    if (row < 0 || row >= m_rows.size())
        return;
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void FolderListModel::setRowStatus(qint16 pos, const QByteArray& statusText)
{
    const int row = pos - 1;
    if (row < 0 || row >= m_rows.size())
        return;
    Row& shown = m_rows[row];
    shown = rowOf(shown.id, shown.bold);
    shown.cells[StatusColumn] = statusText;
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1), {Qt::DisplayRole});
}

void FolderListModel::refreshMail(qint16 id)
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).id != id)
            continue;
        m_rows[row] = rowOf(id, m_rows.at(row).bold);
        Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1), {Qt::DisplayRole});
    }
}

void FolderListModel::setStatusSuffixes(const QHash<qint16, QByteArray>& suffixes)
{
    if (suffixes == m_suffixes)
        return;
    m_suffixes = suffixes;
    for (const Row& row : m_rows)
        row.sortKeys.at(StatusColumn).reset();
    if (!m_rows.isEmpty())
        Q_EMIT dataChanged(index(0, StatusColumn), index(rowCount() - 1, StatusColumn), {Qt::DisplayRole});
}

} // namespace kadmel
