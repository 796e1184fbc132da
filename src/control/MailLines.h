#pragma once

#include "store/MailTables.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace kadmel {

// A mail as kadmelctl shows it: one line of the list, the whole of "zeige", and the same for a script.

// "gesendet", "fehlgeschlagen", "geloescht": the folders' words on the command line.
QString folderWord(int folder);
std::optional<int> folderOfWord(const QString& word);
// The folder holding the mail and its 1-based position there; folder 0 when none does.
int folderHolding(const MailTables& tables, qint16 id, qint16* pos = nullptr);

QString timeText(const QDateTime& time);

struct MailRow
{
    qint16 id = 0;
    int folder = 0;
    std::optional<QDateTime> nextTry; // an automatic attempt
};
QString mailLine(const MailTables& tables, const MailRow& row);
QJsonObject mailObject(const MailTables& tables, const MailRow& row);
// Header, status and reason, then the conversation with the server, one line each.
QStringList mailDetails(const MailTables& tables, const MailRow& row);
// The same for a script: mailObject with the reason, the Message-ID and the conversation.
QJsonObject mailDetailObject(const MailTables& tables, const MailRow& row);

} // namespace kadmel
