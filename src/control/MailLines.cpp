#include "control/MailLines.h"

#include "engine/FailureReason.h"
#include "store/Ansi.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"

#include <QJsonArray>

namespace kadmel {
namespace {

const QString Words[3] = {QStringLiteral("gesendet"), QStringLiteral("fehlgeschlagen"), QStringLiteral("geloescht")};

QString field(const QByteArray& bytes)
{
    return fromAnsi(fieldValue(bytes));
}

// The conversation as the viewer shows it: the server's text, then what was sent, one pair per step.
QStringList conversation(const SmtpLog& log)
{
    QStringList lines;
    const auto add = [&lines](const QString& prefix, const QByteArray& text) {
        for (const QByteArray& part : text.split('\n')) {
            if (!part.trimmed().isEmpty())
                lines.append(prefix + fromAnsi(part.trimmed()));
        }
    };
    for (qsizetype k = 0; k < log.Sent.size(); ++k) {
        add(QStringLiteral("S: "), log.Received.value(k));
        add(QStringLiteral("C: "), log.Sent.at(k));
    }
    return lines;
}

} // namespace

QString folderWord(int folder)
{
    return folder >= SentFolder && folder <= DeletedFolder ? Words[folder - 1] : QString();
}

std::optional<int> folderOfWord(const QString& word)
{
    for (int folder = SentFolder; folder <= DeletedFolder; ++folder) {
        if (word == Words[folder - 1])
            return folder;
    }
    return std::nullopt;
}

int folderHolding(const MailTables& tables, qint16 id, qint16* pos)
{
    for (int folder = SentFolder; folder <= DeletedFolder; ++folder) {
        if (const qsizetype index = tables.folder(folder).entries().indexOf(id); index >= 0) {
            if (pos)
                *pos = qint16(index + 1);
            return folder;
        }
    }
    return 0;
}

QString timeText(const QDateTime& time)
{
    return time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString mailLine(const MailTables& tables, const MailRow& row)
{
    const MailRecord& mail = tables.mail(row.id);
    QString line = QStringLiteral("%1  %2  %3  %4 → %5  „%6“  %7")
                       .arg(row.id, 5)
                       .arg(folderWord(row.folder), -14)
                       .arg(fromAnsi(mail.Date), field(mail.From), field(mail.To), field(mail.Subject),
                            fromAnsi(ResultText(mail.Status)));
    if (row.nextTry)
        line += QStringLiteral("  nächster Versuch %1").arg(timeText(*row.nextTry));
    return line;
}

QJsonObject mailObject(const MailTables& tables, const MailRow& row)
{
    const MailRecord& mail = tables.mail(row.id);
    return {{QStringLiteral("id"), row.id},
            {QStringLiteral("ordner"), folderWord(row.folder)},
            {QStringLiteral("datum"), fromAnsi(mail.Date)},
            {QStringLiteral("von"), field(mail.From)},
            {QStringLiteral("an"), field(mail.To)},
            {QStringLiteral("betreff"), field(mail.Subject)},
            {QStringLiteral("status"), fromAnsi(ResultText(mail.Status))},
            {QStringLiteral("naechsterVersuch"),
             row.nextTry ? QJsonValue(row.nextTry->toString(Qt::ISODate)) : QJsonValue()}};
}

QStringList mailDetails(const MailTables& tables, const MailRow& row)
{
    const MailRecord& mail = tables.mail(row.id);
    const MailExtras extras = extrasOf(mail);
    QStringList lines{QStringLiteral("ID:         %1 (%2)").arg(row.id).arg(folderTitle(row.folder)),
                      QStringLiteral("Datum:      ") + fromAnsi(mail.Date),
                      QStringLiteral("Von:        ") + field(mail.From),
                      QStringLiteral("An:         ") + field(mail.To)};
    if (!extras.copyTo.isEmpty())
        lines.append(QStringLiteral("Kopie an:   ") + field(extras.copyTo));
    lines.append(QStringLiteral("Betreff:    ") + field(mail.Subject));
    if (const QByteArray id = messageIdOf(mail); !id.isEmpty())
        lines.append(QStringLiteral("Message-ID: ") + fromAnsi(id));
    for (const QByteArray& name : extras.attachments)
        lines.append(QStringLiteral("Anhang:     ") + fromAnsi(name));
    lines.append(QStringLiteral("Status:     ") + fromAnsi(resultTextWithReason(mail)));
    if (row.nextTry)
        lines.append(QStringLiteral("Nächster automatischer Versuch: ") + timeText(*row.nextTry));
    const QStringList talk = conversation(mail.Log);
    if (!talk.isEmpty())
        lines << QString() << QStringLiteral("Gespräch mit dem Server:") << talk;
    return lines;
}

QJsonObject mailDetailObject(const MailTables& tables, const MailRow& row)
{
    const MailRecord& mail = tables.mail(row.id);
    QJsonObject object = mailObject(tables, row);
    object.insert(QStringLiteral("grund"), fromAnsi(failureReason(mail)));
    object.insert(QStringLiteral("messageId"), fromAnsi(messageIdOf(mail)));
    object.insert(QStringLiteral("gespraech"), QJsonArray::fromStringList(conversation(mail.Log)));
    return object;
}

} // namespace kadmel
