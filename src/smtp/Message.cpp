#include "smtp/Message.h"

#include "smtp/Base64.h"

#include <algorithm>
#include <array>
#include <cstdio>

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

} // namespace

bool headerIsSafe(const SmtpMail& mail)
{
    const qsizetype fromLine = 6 + mail.MailSenderName.size() + 2 + mail.MailSenderEMail.size() + 1;
    const qsizetype toLine = 4 + mail.MailRecipientName.size() + 2 + mail.MailRecipientEMail.size() + 1;
    const qsizetype subjectLine = 9 + mail.MailSubject.size();
    return addressIsSafe(mail.MailSenderEMail) && addressIsSafe(mail.MailRecipientEMail) &&
           textIsSafe(mail.MailSenderName) && textIsSafe(mail.MailRecipientName) && textIsSafe(mail.MailSubject) &&
           std::max({fromLine, toLine, subjectLine}) <= MaxHeaderLine;
}

QByteArray RfcDate(const QDateTime& localTime)
{
    // Fixed English names: QLocale would follow the user's language.
    static constexpr std::array<const char*, 7> Days = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static constexpr std::array<const char*, 12> Months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    char text[32];
    const int length = std::snprintf(
        text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d", Days[size_t(date.dayOfWeek() - 1) % 7], date.day(),
        Months[size_t(date.month() - 1) % 12], date.year(), time.hour(), time.minute(), time.second());
    return QByteArray(text, qMax(0, qMin(length, int(sizeof text) - 1)));
}

QByteArray ComposeMessage(const SmtpMail& mail, const QDateTime& localTime)
{
    const QByteArray body = mail.MailBodyBase64.isEmpty() ? Encode(mail.MailBody) : mail.MailBodyBase64;
    QByteArray message;
    message.reserve(400 + mail.MailSenderName.size() + mail.MailSenderEMail.size() + mail.MailRecipientName.size() +
                    mail.MailRecipientEMail.size() + mail.MailSubject.size() + body.size());
    message += "From: " + mail.MailSenderName + " <" + mail.MailSenderEMail + ">\r\n";
    message += "To: " + mail.MailRecipientName + " <" + mail.MailRecipientEMail + ">\r\n";
    message += "Date: " + RfcDate(localTime) + "\r\n";
    message += "Subject: " + mail.MailSubject + "\r\n";
    message += QByteArrayLiteral("X-Mailer: ") + ProductLine + "\r\n";
    message += "MIME-Version: 1.0\r\n"
               "Content-Type: text/html; charset=\"us-ascii\"\r\n"
               "Content-Transfer-Encoding: base64\r\n"
               "\r\n";
    message += body;
    message += "\r\n\r\n.\r\n";
    return message;
}

} // namespace kadmel
