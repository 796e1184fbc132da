#include "smtp/Message.h"

#include "smtp/Base64.h"

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

// Inside "<…>" of MAIL FROM and RCPT TO a blank or a ">" would start parameters or a second address.
bool addressIsSafe(const QByteArray& address)
{
    return std::none_of(address.begin(), address.end(),
                        [](char c) { return c == ' ' || c == '<' || c == '>' || isControl(c); });
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

// The header block without its blank line.
QByteArray composeHeader(const SmtpMail& mail, const QByteArray& date)
{
    const QByteArray id = mail.MailMessageId.isEmpty() ? NewMessageId(mail.MailSenderEMail) : mail.MailMessageId;
    const QByteArray charset = bodyCharset(mail.MailBody);
    QByteArray header;
    header += "From: " + headerText(mail.MailSenderName, 6) + " <" + mail.MailSenderEMail + ">\r\n";
    header += "To: " + headerText(mail.MailRecipientName, 4) + " <" + mail.MailRecipientEMail + ">\r\n";
    header += "Date: " + date + "\r\n";
    header += "Message-ID: " + id + "\r\n";
    header += "Subject: " + headerText(mail.MailSubject, 9) + "\r\n";
    header += QByteArrayLiteral("X-Mailer: ") + ProductLine + "\r\n";
    header += "MIME-Version: 1.0\r\n"
              "Content-Type: text/html; charset=\"" +
              charset +
              "\"\r\n"
              "Content-Transfer-Encoding: base64\r\n";
    return header;
}

} // namespace

QByteArray bodyCharset(const QByteArray& body)
{
    return is8Bit(body) ? "windows-1252" : "us-ascii";
}

QByteArray headerProblem(const SmtpMail& mail)
{
    const auto lineBreakIn = [](const QByteArray& text) { return text.contains('\r') || text.contains('\n'); };
    const std::array<std::pair<const char*, const QByteArray*>, 3> fields = {
        {{"Absender", &mail.MailSenderEMail},
         {"Empf\xE4nger", &mail.MailRecipientEMail},
         {"Betreff", &mail.MailSubject}}};
    for (const auto& [name, value] : fields) {
        if (lineBreakIn(*value))
            return QByteArray("Im ") + name + " steht ein Zeilenumbruch.";
    }
    for (const auto& [name, value] : {fields[0], fields[1]}) {
        if (!addressIsSafe(*value) || is8Bit(*value)) {
            QByteArray shown = value->left(100);
            std::replace_if(shown.begin(), shown.end(), isControl, '?');
            return QByteArray("Der ") + name + " \x84" + shown +
                   "\x93 ist keine einzelne E-Mail-Adresse ohne Leerzeichen, spitze Klammern und Umlaute.";
        }
    }
    if (!textIsSafe(mail.MailSubject))
        return "Im Betreff steht ein Steuerzeichen.";
    if (!textIsSafe(mail.MailSenderName) || !textIsSafe(mail.MailRecipientName))
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

QByteArray NewMessageId(const QByteArray& senderAddress)
{
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
    return composeHeader(mail, RfcDate(localTime)) + "\r\n" + body + "\r\n\r\n.\r\n";
}

QByteArray withoutEndOfData(const QByteArray& composed)
{
    return composed.endsWith("\r\n.\r\n") ? composed.chopped(3) : composed;
}

std::optional<QByteArray> messageSentIn(const SmtpLog& log)
{
    const qsizetype data = log.Sent.lastIndexOf("DATA\r\n");
    if (data < 0 || data + 1 >= log.Sent.size() || !log.Sent.at(data + 1).endsWith("\r\n.\r\n"))
        return std::nullopt;
    return withoutEndOfData(log.Sent.at(data + 1));
}

} // namespace kadmel
