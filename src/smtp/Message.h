#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

#include <optional>

namespace kadmel {

// A file sent with the mail, as a part of its own after the page.
struct MailAttachment
{
    QByteArray name;        // Windows-1252, as the recipient sees it
    QByteArray bytes;       // the file as the producer made it
    QByteArray base64 = {}; // Encode(bytes) when made beforehand (off the window's thread); else empty
};

// What a message is made of; texts are Windows-1252 bytes. A subject or name holding a byte above 127
// goes out as RFC 2047 encoded words, a name with marks such as "," quoted, every other text unchanged.
// Addresses are written as people write them: "Name <addr>" or "addr", several separated by "," or ";".
struct SmtpMail
{
    QByteArray MailSenderName;    // never set by the dispatcher; a name in MailSenderEMail comes first
    QByteArray MailSenderEMail;   // one address
    QByteArray MailRecipientName; // never set by the dispatcher; for a single recipient without a name
    QByteArray MailRecipientEMail;
    QByteArray MailSubject;
    QByteArray MailBody; // the HTML page
    qint16 MailID = 0;
    QByteArray MailBodyBase64 = {};  // Encode(MailBody) when made beforehand (off the window's thread); else empty
    QByteArray MailMessageId = {};   // "<…@…>", the same for every attempt of one unchanged mail
    QByteArray MailCopyTo = {};      // recipients named in a Cc line
    QByteArray MailBlindCopyTo = {}; // recipients in the envelope only, never in the message
    QByteArray MailReplyTo = {};     // the Reply-To line; none when empty
    QList<MailAttachment> MailAttachments = {}; // none: the page alone, as "text/html"; else "multipart/mixed"
};

// Who the mail goes to, as the commands carry them (UTF-8 where an address holds a byte above 127): the
// sender's address and each recipient of To, Cc and Bcc once. Empty for a mail headerProblem() refuses.
struct Envelope
{
    QByteArray sender;
    QList<QByteArray> recipients;
    QByteArray eightBitAddress; // the first address that needs SMTPUTF8, as written (Windows-1252); or empty
    QByteArray messageId = {};  // the mail's Message-ID, its ENVID for a server that offers DSN; or empty
};
Envelope envelopeOf(const SmtpMail& mail);

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

// Why a field could add commands or header lines, naming the field (German, Windows-1252): a line break,
// an entry that is no address (parseAddressList), a sender of several, a name or subject holding a control
// byte other than TAB, a Message-ID that is not one, or a header line over 998 bytes. Empty when none can.
QByteArray headerProblem(const SmtpMail& mail);
inline bool headerIsSafe(const SmtpMail& mail)
{
    return headerProblem(mail).isEmpty();
}

// Header block, blank line, Base64 body, CR LF CR LF "." CR LF. With attachments the body is a
// "multipart/mixed" of the page and each file, Base64 too.
QByteArray ComposeMessage(const SmtpMail& mail, const QDateTime& localTime);

// The message as a mail program stores it: without the end-of-data line "." CR LF.
QByteArray withoutEndOfData(const QByteArray& composed);

} // namespace kadmel
