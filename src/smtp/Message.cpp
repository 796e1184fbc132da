#include "smtp/Message.h"

#include "smtp/Base64.h"

#include <array>
#include <cstdio>

namespace kadmel {

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
    const QByteArray body = Encode(mail.MailBody);
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
