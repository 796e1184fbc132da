#include "smtp/ThrottleReply.h"

#include "store/ResultCode.h"

#include <QRegularExpression>

namespace kadmel {
namespace {

// "4.7.0" behind the code on the reply's first line: class, subject and detail of RFC 3463.
QByteArray enhancedCode(const QByteArray& reply, const QByteArray& code)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*\\d{3}[ -]\\s*([245]\\.\\d{1,3}\\.\\d{1,3})\\b"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(reply.left(200)));
    return match.hasMatch() && match.captured(1).startsWith(QLatin1Char(code.at(0))) ? match.captured(1).toLatin1()
                                                                                     : QByteArray();
}

// "try again in 92 seconds", "Retry after 5 minutes", "retry-after: 60", "wait 1 hour": the first such wait.
std::optional<qint64> namedSeconds(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("(?:try\\s+again|retry|wait|resend)[\\s:-]*(?:(?:in|after|for)[\\s:]*)?(\\d{1,9})\\s*"
                       "(seconds?|secs?|s|minutes?|mins?|m|hours?|hrs?|h)?\\b(?!\\s*[:.]\\d)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 value = match.captured(1).toLongLong();
    const QChar unit = match.captured(2).isEmpty() ? QLatin1Char('s') : match.captured(2).at(0).toLower();
    const qint64 seconds = value * (unit == QLatin1Char('h') ? 3600 : unit == QLatin1Char('m') ? 60 : 1);
    // A wait of nothing says nothing; one beyond a day outlasts any limit a provider keeps.
    if (seconds < 1)
        return std::nullopt;
    return std::min(seconds, MaxThrottleSeconds);
}

} // namespace

std::optional<ThrottleReply> throttleOf(const QByteArray& reply)
{
    const QByteArray code = replyCode(reply);
    if (code.isEmpty())
        return std::nullopt;
    const QByteArray enhanced = enhancedCode(reply, code);
    // A hostile server may send a reply of many kilobytes: what says "too many" stands near its start.
    const QString text = QString::fromLatin1(reply.left(2048));
    const auto says = [&text](const char* words) { return text.contains(QLatin1String(words), Qt::CaseInsensitive); };
    std::optional<ThrottleReply::Kind> kind;
    if ((code == "550" && enhanced == "5.4.5" && says("daily")) ||
        (code == "554" && enhanced == "5.2.0" && says("SubmissionQuotaExceeded")))
        kind = ThrottleReply::Kind::DayLimit;
    else if (code == "421" || (code == "450" && enhanced == "4.2.1") || (enhanced == "4.7.0" && says("too many")) ||
             ((code == "450" || code == "451" || code == "452") &&
              (enhanced.startsWith("4.7.") || enhanced == "4.5.3")))
        kind = says("daily") || says("per day") ? ThrottleReply::Kind::DayLimit : ThrottleReply::Kind::Rate;
    if (!kind)
        return std::nullopt;
    return ThrottleReply{*kind, namedSeconds(text)};
}

} // namespace kadmel
