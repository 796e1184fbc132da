#pragma once

#include <QByteArray>
#include <QDateTime>

namespace kadmel {

// What a message is made of; texts are Windows-1252 bytes and go into the message unchanged.
struct SmtpMail
{
    QByteArray MailSenderName;    // never set by the dispatcher
    QByteArray MailSenderEMail;
    QByteArray MailRecipientName; // never set by the dispatcher
    QByteArray MailRecipientEMail;
    QByteArray MailSubject;
    QByteArray MailBody;          // the HTML page
    qint16 MailID = 0;
    QByteArray MailBodyBase64 = {}; // Encode(MailBody) when made beforehand (off the window's thread); else empty
};

inline constexpr char ProductLine[] = "Kadmel Mail System v3.0";

// "Fri, 04 Dec 2026 18:15:11": English names whatever the locale, no time zone.
QByteArray RfcDate(const QDateTime& localTime);

// False when a field could add commands or header lines: an address holding "<", ">", white space or a
// control byte, a name or subject holding a control byte other than TAB, or a header line over 998 bytes.
bool headerIsSafe(const SmtpMail& mail);

// Header block, blank line, Base64 body, CR LF CR LF "." CR LF.
QByteArray ComposeMessage(const SmtpMail& mail, const QDateTime& localTime);

} // namespace kadmel
