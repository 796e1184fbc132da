#include "smtp/Message.h"

#include "smtp/Addresses.h"
#include "smtp/Base64.h"
#include "store/Ansi.h"
#include "store/AttachmentCopies.h"

#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kadmel {
namespace {

// The longest header line that RFC 5322 allows, without its CR LF.
constexpr qsizetype MaxHeaderLine = 998;

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool textIsSafe(const QByteArray& text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return c != '\t' && isControl(c); });
}

bool is8Bit(const QByteArray& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
}

bool isAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A dot-atom of RFC 5322: atoms of letters, digits and these marks, joined by single dots.
bool isDotAtom(const QByteArray& text)
{
    static constexpr char Marks[] = "!#$%&'*+-/=?^_`{|}~";
    const auto atext = [](char c) { return isAlnum(c) || (c != '\0' && std::strchr(Marks, c)); };
    return !text.isEmpty() && !text.startsWith('.') && !text.endsWith('.') && !text.contains("..") &&
           std::all_of(text.begin(), text.end(), [&](char c) { return c == '.' || atext(c); });
}

// Host name labels of letters, digits and inner hyphens; two labels at least, as a mail domain has.
bool isDomain(const QByteArray& domain)
{
    const QList<QByteArray> labels = domain.split('.');
    return domain.size() <= 253 && labels.size() >= 2 && std::all_of(labels.begin(), labels.end(), [](const auto& l) {
               return !l.isEmpty() && l.size() <= 63 && !l.startsWith('-') && !l.endsWith('-') &&
                      std::all_of(l.begin(), l.end(), [](char c) { return isAlnum(c) || c == '-'; });
           });
}

// 7-bit text folded before blanks so that no line passes 78; nothing when a word alone would.
std::optional<QByteArray> foldedAtBlanks(const QByteArray& text, qsizetype prefixLength)
{
    QByteArray folded;
    qsizetype lineLength = prefixLength;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf(' ', start + 1);
        if (end < 0)
            end = text.size();
        if (lineLength + (end - start) > 78 && start > 0) {
            folded += "\r\n"; // the blank that follows begins the next line
            lineLength = 0;
        }
        if (lineLength + (end - start) > 78)
            return std::nullopt;
        folded += text.mid(start, end - start);
        lineLength += end - start;
        start = end;
    }
    return folded;
}

// `text` after a header's `prefixLength` bytes: as it is when 7-bit, folded at blanks when long, else RFC
// 2047 Q-encoded words in Windows-1252 of at most 75 characters, folded so that no line passes 78. Blanks
// go inside the words: a reader drops those between two encoded words. 7-bit text that a reader would take
// for an encoded word ("=?…?=") is encoded too, so it reads as written.
QByteArray headerText(const QByteArray& text, qsizetype prefixLength)
{
    if (!is8Bit(text) && !text.contains("=?")) {
        if (std::optional<QByteArray> folded = foldedAtBlanks(text, prefixLength))
            return *folded;
    }
    static constexpr char Open[] = "=?windows-1252?Q?";
    static constexpr qsizetype OpenSize = sizeof Open - 1;
    static constexpr char Hex[] = "0123456789ABCDEF";
    qsizetype room = std::clamp<qsizetype>(78 - prefixLength, OpenSize + 5, 75);
    QByteArray folded;
    QByteArray word = Open;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        // Only what may stand in a phrase as well (a name) goes as it is.
        const char escaped[] = {'=', Hex[byte >> 4], Hex[byte & 0xF]};
        const QByteArray piece = isAlnum(c) || (c != '\0' && std::strchr("!*+-/", c)) ? QByteArray(1, c)
                                 : c == ' '                                           ? QByteArray("_")
                                                                                      : QByteArray(escaped, 3);
        if (word.size() + piece.size() + 2 > room) {
            folded += word + "?=\r\n ";
            word = Open;
            room = 75; // the next line begins with one blank
        }
        word += piece;
    }
    return folded + word + "?=";
}

// A display name: quoted where it holds a mark that ends a phrase (a comma would start another address).
QByteArray phrase(const QByteArray& name, qsizetype prefixLength)
{
    static constexpr char Specials[] = "()<>[]:;@\\,.\"";
    if (!is8Bit(name) && !name.contains("=?") &&
        std::any_of(name.begin(), name.end(), [](char c) { return c != '\0' && std::strchr(Specials, c); })) {
        QByteArray quoted = name;
        quoted.replace('\\', "\\\\").replace('"', "\\\"");
        if (std::optional<QByteArray> folded = foldedAtBlanks('"' + quoted + '"', prefixLength))
            return *folded;
    }
    return headerText(name, prefixLength);
}

// "Name <addr>"; the first of a line without a name keeps the blank before "<" it always had.
QByteArray mailboxText(const Mailbox& box, qsizetype prefixLength, bool first)
{
    const QByteArray address = '<' + wireAddress(box.address) + '>';
    if (box.name.isEmpty())
        return first ? ' ' + address : address;
    return phrase(box.name, prefixLength) + ' ' + address;
}

// "To: a <…>, b <…>" with its CR LF, a line broken before an address that would pass 78.
QByteArray addressLine(const QByteArray& label, const QList<Mailbox>& boxes)
{
    QByteArray line = label;
    for (qsizetype i = 0; i < boxes.size(); ++i) {
        if (i == 0) {
            line += mailboxText(boxes[0], line.size(), true);
            continue;
        }
        const qsizetype column = line.size() - (line.lastIndexOf('\n') + 1);
        const QByteArray same = mailboxText(boxes[i], column + 2, false);
        line += !same.contains('\n') && column + 2 + same.size() <= 78 ? ", " + same
                                                                       : ",\r\n " + mailboxText(boxes[i], 1, false);
    }
    return line + "\r\n";
}

struct AddressFields
{
    Mailbox from;
    QList<Mailbox> to, cc, bcc, replyTo;
};

// The addresses of the mail; a field that is no list of addresses stands as one address, as it was.
AddressFields addressFieldsOf(const SmtpMail& mail, QByteArray* problem = nullptr)
{
    QByteArray ignored;
    QByteArray& why = problem ? *problem : ignored;
    const auto list = [&why](const QByteArray& text, const char* field) {
        if (!why.isEmpty())
            return QList<Mailbox>();
        std::optional<QList<Mailbox>> boxes = parseAddressList(text, field, &why);
        return boxes ? *boxes : QList<Mailbox>{{{}, text}};
    };
    AddressFields fields;
    QList<Mailbox> from = list(mail.MailSenderEMail, "Der Absender");
    if (from.size() > 1 && why.isEmpty())
        why = "Der Absender \x84" + mail.MailSenderEMail.left(100) + "\x93 ist mehr als eine E-Mail-Adresse.";
    fields.from = from.value(0);
    if (fields.from.name.isEmpty())
        fields.from.name = mail.MailSenderName;
    fields.to = list(mail.MailRecipientEMail, "Der Empf\xE4nger");
    fields.cc = list(mail.MailCopyTo, "Der Kopie-Empf\xE4nger");
    fields.bcc = list(mail.MailBlindCopyTo, "Der Blindkopie-Empf\xE4nger");
    fields.replyTo = list(mail.MailReplyTo, "Die Antwortadresse");
    // A mail without any recipient goes to "<>" as it always did; the server says why not.
    if (fields.to.isEmpty() && fields.cc.isEmpty() && fields.bcc.isEmpty())
        fields.to = {Mailbox{}};
    if (fields.to.size() == 1 && fields.to[0].name.isEmpty())
        fields.to[0].name = mail.MailRecipientName;
    return fields;
}

// "=_" stands in no Base64 text nor in a part's header lines: the parts never hold the boundary.
constexpr char Boundary[] = "=_Kadmel_Teil_7f3a";

QByteArray pageContentType(const QByteArray& charset)
{
    return "Content-Type: text/html; charset=\"" + charset +
           "\"\r\n"
           "Content-Transfer-Encoding: base64\r\n";
}

// The file name's parameter: quoted for ASCII, else RFC 2231 UTF-8 with %-escapes.
QByteArray fileNameParameter(const QByteArray& name)
{
    if (!is8Bit(name) && textIsSafe(name) && !name.contains('"') && !name.contains('\\'))
        return "filename=\"" + name + '"';
    const QByteArray text = fromAnsi(name).toUtf8();
    QByteArray encoded = "filename*=utf-8''";
    for (const char c : text) {
        if (isAlnum(c) || (c != '\0' && std::strchr("!#$&+-.^_`|~", c)))
            encoded += c;
        else
            encoded += '%' + QByteArray::number(static_cast<unsigned char>(c), 16).toUpper().rightJustified(2, '0');
    }
    return encoded;
}

QByteArray attachmentPart(const MailAttachment& file)
{
    const QByteArray base64 = file.base64.isEmpty() ? Encode(file.bytes) : file.base64;
    return "--" + QByteArray(Boundary) + "\r\nContent-Type: " + attachmentType(file.bytes) +
           "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n " +
           fileNameParameter(file.name) + "\r\n\r\n" + base64 + (base64.endsWith("\r\n") ? "" : "\r\n");
}

// The header block without its blank line.
QByteArray composeHeader(const SmtpMail& mail, const QByteArray& date)
{
    const QByteArray id = mail.MailMessageId.isEmpty() ? NewMessageId(mail.MailSenderEMail) : mail.MailMessageId;
    const QByteArray charset = bodyCharset(mail.MailBody);
    const AddressFields fields = addressFieldsOf(mail);
    QByteArray header;
    header += addressLine("From: ", {fields.from});
    if (!fields.to.isEmpty())
        header += addressLine("To: ", fields.to);
    if (!fields.cc.isEmpty())
        header += addressLine("Cc: ", fields.cc);
    if (!fields.replyTo.isEmpty())
        header += addressLine("Reply-To: ", fields.replyTo);
    header += "Date: " + date + "\r\n";
    header += "Message-ID: " + id + "\r\n";
    header += "Subject: " + headerText(mail.MailSubject, 9) + "\r\n";
    header += QByteArrayLiteral("X-Mailer: ") + ProductLine + "\r\n";
    header += "MIME-Version: 1.0\r\n";
    if (mail.MailAttachments.isEmpty())
        header += pageContentType(charset);
    else
        header += "Content-Type: multipart/mixed; boundary=\"" + QByteArray(Boundary) + "\"\r\n";
    return header;
}

} // namespace

QByteArray bodyCharset(const QByteArray& body)
{
    return is8Bit(body) ? "windows-1252" : "us-ascii";
}

Envelope envelopeOf(const SmtpMail& mail)
{
    QByteArray problem;
    const AddressFields fields = addressFieldsOf(mail, &problem);
    if (!problem.isEmpty())
        return {};
    Envelope envelope{wireAddress(fields.from.address), {}, {}, mail.MailMessageId};
    QList<QByteArray> seen; // an address named twice is asked for once
    for (const QList<Mailbox>* list : {&fields.to, &fields.cc, &fields.bcc}) {
        for (const Mailbox& box : *list) {
            if (!seen.contains(box.address.toLower())) {
                seen.append(box.address.toLower());
                envelope.recipients.append(wireAddress(box.address));
            }
        }
    }
    for (const QList<Mailbox>* list : {&fields.to, &fields.cc, &fields.bcc, &fields.replyTo}) {
        for (const Mailbox& box : *list)
            if (envelope.eightBitAddress.isEmpty() && is8Bit(box.address))
                envelope.eightBitAddress = box.address;
    }
    if (is8Bit(fields.from.address))
        envelope.eightBitAddress = fields.from.address;
    return envelope;
}

QByteArray headerProblem(const SmtpMail& mail)
{
    const auto lineBreakIn = [](const QByteArray& text) { return text.contains('\r') || text.contains('\n'); };
    const std::array<std::pair<const char*, const QByteArray*>, 6> fields = {
        {{"Im Absender", &mail.MailSenderEMail},
         {"Im Empf\xE4nger", &mail.MailRecipientEMail},
         {"Im Betreff", &mail.MailSubject},
         {"In der Kopie", &mail.MailCopyTo},
         {"In der Blindkopie", &mail.MailBlindCopyTo},
         {"In der Antwortadresse", &mail.MailReplyTo}}};
    for (const auto& [name, value] : fields) {
        if (lineBreakIn(*value))
            return QByteArray(name) + " steht ein Zeilenumbruch.";
    }
    QByteArray problem;
    const AddressFields addresses = addressFieldsOf(mail, &problem);
    if (!problem.isEmpty())
        return problem;
    if (!textIsSafe(mail.MailSubject))
        return "Im Betreff steht ein Steuerzeichen.";
    bool namesSafe = textIsSafe(addresses.from.name);
    for (const QList<Mailbox>* list : {&addresses.to, &addresses.cc, &addresses.replyTo})
        for (const Mailbox& box : *list)
            namesSafe = namesSafe && textIsSafe(box.name);
    if (!namesSafe)
        return "In einem Namen steht ein Steuerzeichen.";
    if (!mail.MailMessageId.isEmpty() && !isMessageId(mail.MailMessageId))
        return "Die Nachrichten-ID \x84" + mail.MailMessageId + "\x93 ist ung\xFCltig.";
    // The date's length is fixed; every field is checked above.
    const QByteArray header = composeHeader(mail, RfcDate(QDateTime::currentDateTime()));
    const QList<QByteArray> lines = header.chopped(2).split('\n');
    if (!std::all_of(lines.begin(), lines.end(), [](const QByteArray& l) { return l.size() <= MaxHeaderLine + 1; }))
        return "Eine Kopfzeile w\xE4re l\xE4nger als 998 Zeichen.";
    return {};
}

QByteArray RfcDate(const QDateTime& localTime)
{
    // Fixed English names: QLocale would follow the user's language.
    static constexpr std::array<const char*, 7> Days = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static constexpr std::array<const char*, 12> Months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    const int offset = localTime.offsetFromUtc() / 60; // minutes east of UTC, of this very time
    const int zone = std::abs(offset);
    char text[40];
    const int length = std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                                     Days[size_t(date.dayOfWeek() - 1) % 7], date.day(),
                                     Months[size_t(date.month() - 1) % 12], date.year(), time.hour(), time.minute(),
                                     time.second(), offset < 0 ? '-' : '+', zone / 60 % 100, zone % 60);
    return QByteArray(text, qMax(0, qMin(length, int(sizeof text) - 1)));
}

QByteArray NewMessageId(const QByteArray& sender)
{
    QByteArray ignored;
    const std::optional<QList<Mailbox>> boxes = parseAddressList(sender, {}, &ignored);
    const QByteArray senderAddress = boxes && boxes->size() == 1 ? boxes->first().address : sender;
    const QByteArray domain = senderAddress.mid(senderAddress.lastIndexOf('@') + 1).toLower();
    // One length for every mail, so that a mail's file size can be projected before its Message-ID exists.
    const quint64 random = QRandomGenerator::system()->generate64();
    return '<' + QByteArray::number(QDateTime::currentMSecsSinceEpoch(), 36) + '.' +
           QByteArray::number(random, 36).rightJustified(13, '0') + '@' +
           (senderAddress.contains('@') && isDomain(domain) ? domain : QByteArray("kadmel.invalid")) + '>';
}

bool isMessageId(const QByteArray& id)
{
    const qsizetype at = id.lastIndexOf('@');
    return id.size() <= 250 && id.startsWith('<') && id.endsWith('>') && at > 1 && isDotAtom(id.mid(1, at - 1)) &&
           isDotAtom(id.mid(at + 1, id.size() - at - 2));
}

QByteArray ComposeMessage(const SmtpMail& mail, const QDateTime& localTime)
{
    const QByteArray body = mail.MailBodyBase64.isEmpty() ? Encode(mail.MailBody) : mail.MailBodyBase64;
    const QByteArray header = composeHeader(mail, RfcDate(localTime)) + "\r\n";
    if (mail.MailAttachments.isEmpty())
        return header + body + "\r\n\r\n.\r\n";
    QByteArray message = header + "--" + Boundary + "\r\n" + pageContentType(bodyCharset(mail.MailBody)) + "\r\n" +
                         body + (body.endsWith("\r\n") ? "" : "\r\n");
    for (const MailAttachment& file : mail.MailAttachments)
        message += attachmentPart(file);
    return message + "--" + Boundary + "--\r\n.\r\n";
}

QByteArray withoutEndOfData(const QByteArray& composed)
{
    return composed.endsWith("\r\n.\r\n") ? composed.chopped(3) : composed;
}

} // namespace kadmel
