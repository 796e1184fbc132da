#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kadmel {

// The SMTP conversation of one send attempt. Each array is either never dimensioned (empty list)
// or ends with one empty element: a log with n entries holds n + 1 elements.
struct SmtpLog
{
    QList<QByteArray> Sent;
    QList<QByteArray> Received;

    // Both arrays become one empty element, as before every send attempt.
    void reset()
    {
        Sent = {QByteArray()};
        Received = {QByteArray()};
    }
    void appendSent(const QByteArray& text) { appendTo(Sent, text); }
    void appendReceived(const QByteArray& text) { appendTo(Received, text); }

    friend bool operator==(const SmtpLog&, const SmtpLog&) = default;

private:
    static void appendTo(QList<QByteArray>& array, const QByteArray& text)
    {
        if (array.isEmpty())
            array.append(QByteArray());
        array.last() = text;
        array.append(QByteArray());
    }
};

// One mail, fields in the order of its file. All texts are Windows-1252 bytes.
struct MailRecord
{
    SmtpLog Log;
    QByteArray Reserved; // the Message-ID "<…@…>" of every attempt; empty until the first and after an edit
    QByteArray From;
    QByteArray To;
    QByteArray Subject;
    QByteArray Body;   // plain text; the HTML page is made from it at each send
    QByteArray Date;   // "dd.MM.yyyy HH:mm:ss" of creation or of the last attempt
    QByteArray Size;   // size text of Body
    QByteArray Status; // codeBytes() of the last attempt's ResultCode, or empty; kept as stored

    friend bool operator==(const MailRecord&, const MailRecord&) = default;
};

// A sender, recipient or subject as it goes out and is shown: without the blanks, tabs and line breaks a
// producer writes around it (a field on a line of its own); the record keeps the producer's bytes.
inline QByteArray fieldValue(const QByteArray& field)
{
    qsizetype start = 0, end = field.size();
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (start < end && isSpace(field[start]))
        ++start;
    while (end > start && isSpace(field[end - 1]))
        --end;
    return field.mid(start, end - start);
}

// Folder numbers; a folder number is also the index of its list in the main window.
enum FolderNumber : int
{
    SentFolder = 1,
    FailedFolder = 2,
    DeletedFolder = 3
};

// "Gesendete Objekte" and its siblings, as the window and the messages name them.
inline QString folderTitle(int folder)
{
    switch (folder) {
    case SentFolder:
        return QStringLiteral("Gesendete Objekte");
    case FailedFolder:
        return QStringLiteral("Fehlgeschl. Objekte");
    default:
        return QStringLiteral("Gelöschte Objekte");
    }
}

// IDs and counts are 16-bit; a store holds at most this many mails.
inline constexpr qint16 MaxMails = 32767;

} // namespace kadmel
