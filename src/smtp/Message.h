#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace kadmel {

// What a message is made of; texts are Windows-1252 bytes. A subject or name holding a byte above 127
// goes out as RFC 2047 encoded words, every other text unchanged.
struct SmtpMail
{
    QByteArray MailSenderName; // never set by the dispatcher
    QByteArray MailSenderEMail;
    QByteArray MailRecipientName; // never set by the dispatcher
    QByteArray MailRecipientEMail;
    QByteArray MailSubject;
    QByteArray MailBody; // the HTML page
    qint16 MailID = 0;
    QByteArray MailBodyBase64 = {}; // Encode(MailBody) when made beforehand (off the window's thread); else empty
    QByteArray MailMessageId = {};  // "<…@…>", the same for every attempt of one unchanged mail
};

inline constexpr char ProductLine[] = "Kadmel Mail System v3.0";

// "Fri, 04 Dec 2026 18:15:11 +0100": English names whatever the locale, the zone of that time.
QByteArray RfcDate(const QDateTime& localTime);

// A new, unique "<…@…>": right of the "@" the sender's domain when it is a valid one, else a fixed name.
QByteArray NewMessageId(const QByteArray& senderAddress);
// Whether `id` can stand in a Message-ID line as it is (what NewMessageId makes, or the like).
bool isMessageId(const QByteArray& id);

// "windows-1252" for a body holding a byte above 127, else "us-ascii": the message's Content-Type and the
// page's META both name it.
QByteArray bodyCharset(const QByteArray& body);

// Why a field could add commands or header lines, naming the field (German, Windows-1252): an address
// holding "<", ">", white space, a control byte or a byte above 127, a name or subject holding a control
// byte other than TAB, a Message-ID that is not one, or a header line over 998 bytes. Empty when none can.
QByteArray headerProblem(const SmtpMail& mail);
inline bool headerIsSafe(const SmtpMail& mail)
{
    return headerProblem(mail).isEmpty();
}

// Header block, blank line, Base64 body, CR LF CR LF "." CR LF.
QByteArray ComposeMessage(const SmtpMail& mail, const QDateTime& localTime);

// The message as a mail program stores it: without the end-of-data line "." CR LF.
QByteArray withoutEndOfData(const QByteArray& composed);
// The message of a conversation, as it went out after DATA; nothing when the log does not hold it whole.
std::optional<QByteArray> messageSentIn(const SmtpLog& log);

} // namespace kadmel
