#pragma once

#include "engine/FailureReason.h"
#include "store/MailTables.h"

#include <QAbstractTableModel>
#include <QCollatorSortKey>
#include <QHash>
#include <QList>
#include <array>
#include <optional>

namespace kadmel {

// One folder list of the main window: row k shows the mail at position k of the folder.
// A row keeps the texts of its mail as they were when it was built: a resend that clears the status
// and stamps a new date shows nothing of it until the outcome is filed. The texts share the record's
// bytes, so a list of 32767 rows costs a few hundred bytes per row, not a copy of each mail's texts.
class FolderListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        IdColumn,
        FromColumn,
        ToColumn,
        SubjectColumn,
        EntryColumn, // "Eingang": when the job came in
        DateColumn,  // the last attempt
        SizeColumn,
        StatusColumn,
        ColumnCount
    };

    // A mail with attachments shows a paper clip at its subject.
    FolderListModel(const MailTables& tables, int folder, QObject* parent = nullptr);

    int folder() const { return m_folder; }
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Column widths in twips.
    static int columnTwips(int column);

    qint16 idAt(int row) const { return m_rows.at(row).id; }
    bool isBold(int row) const { return m_rows.at(row).bold; }
    // ID, sender, recipient and subject in lower case, made with the row, for a search without a stall.
    const QString& searchKeyAt(int row) const { return m_rows.at(row).searchKey; }
    FailureKind kindAt(int row) const { return m_rows.at(row).kind; }
    // A text column's cell as the sort compares it (without regard to case), made at its first comparison and
    // kept with the row: a sort of 32767 rows compares half a million times.
    const QCollatorSortKey& sortKeyAt(int row, int column) const;

    // The rows again from the folder's current entries, none bold.
    void rebuild();
    void appendRow(qint16 id, bool bold);
    // 1-based position, as the folder counts it; out of range does nothing.
    void removeRowAt(qint16 pos);
    // The row shows its record as it is now, with this status text.
    void setRowStatus(qint16 pos, const QByteArray& statusText);
    // The rows of this mail show its record again (after the editor changed it).
    void refreshMail(qint16 id);
    // Texts shown behind the status of these mails (the next automatic attempt); the mail files keep none.
    void setStatusSuffixes(const QHash<qint16, QByteArray>& suffixes);

private:
    struct Row
    {
        qint16 id = 0;
        bool bold = false;
        QByteArray cells[ColumnCount]; // Windows-1252 texts; the ID cell stays empty
        QByteArray reason;             // the server's reply or the cause noted for it, one line
        FailureKind kind = FailureKind::None;
        bool attached = false; // the mail has attachments
        QString searchKey;
        mutable std::array<std::optional<QCollatorSortKey>, ColumnCount> sortKeys = {};
    };
    Row rowOf(qint16 id, bool bold) const;
    QByteArray statusCell(const Row& row) const;
    const MailTables& m_tables;
    const int m_folder;
    QList<Row> m_rows;
    QHash<qint16, QByteArray> m_suffixes;
};

} // namespace kadmel
