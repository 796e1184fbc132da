#include "engine/FailureReason.h"

#include "engine/ByteText.h"
#include "engine/ReportFindings.h"
#include "engine/SignInHelp.h"
#include "smtp/ThrottleReply.h"
#include "store/ResultCode.h"

namespace kadmel {
namespace {

// A hostile server may send a reply of many kilobytes; a status line and a tooltip need far less.
constexpr qsizetype MaxReasonBytes = 200;

QByteArray withReason(const QByteArray& text, const QByteArray& reason)
{
    if (reason.isEmpty())
        return text;
    return text.isEmpty() ? '(' + reason + ')' : text + " (" + reason + ')';
}

// A refusal for too many mails, without pacing: the setting that turns it into a pause.
QByteArray throttleHelp(const QByteArray& reply)
{
    const std::optional<ThrottleReply> throttle = throttleOf(reply);
    if (!throttle)
        return {};
    const bool day = throttle->kind == ThrottleReply::Kind::DayLimit;
    return QByteArray("Hinweis: Der Server lehnt ab, weil zu viele E-Mails ") +
           (day ? "an einem Tag" : "in kurzer Zeit") +
           " gesendet wurden; eine Begrenzung in kadmel.ini ([Zustellung] " + (day ? "MailsProTag" : "MailsProMinute") +
           "=) l\xE4sst ZUB stattdessen pausieren.";
}

} // namespace

QByteArray failureReason(const DeliveryOutcome& outcome)
{
    if (outcome.sent())
        return {};
    const QByteArray last = outcome.reply.trimmed();
    // An undeliverable mail's last received text is the report's findings block, not a reply.
    if (outcome.code == ResultCode::Undeliverable) {
        const std::optional<ReportFinding> finding = firstFindingIn(last);
        return finding ? oneLine(findingReason(*finding), MaxReasonBytes) : QByteArray();
    }
    // A positive reply (a 354, an EHLO list) is where the conversation stood, not why it failed; a refusal
    // explains, and so does a cause the client noted where a reply would stand (no connection, no token).
    if (const int replyKind = replyClass(last); replyKind >= 1 && replyKind <= 3)
        return {};
    // The lines of a multi-line reply follow one another; control bytes would garble the window.
    QByteArray help = signInHelp(last, outcome.mechanism);
    if (help.isEmpty() && outcome.code == ResultCode::ServerReply)
        help = throttleHelp(last);
    return oneLine(last, MaxReasonBytes) + (help.isEmpty() ? help : ' ' + help);
}

QByteArray failureReason(const MailRecord& mail)
{
    // A sent mail's stored message is not copied for nothing: the lists ask this of every row.
    return isResult(mail.Status, ResultCode::Sent) ? QByteArray() : failureReason(storedOutcome(mail));
}

QByteArray serverCode(const MailRecord& mail)
{
    const QByteArray code = replyCode(failureReason(mail));
    return code.startsWith('4') || code.startsWith('5') ? code : QByteArray();
}

QByteArray outcomeReply(const MailRecord& mail)
{
    if (!isResult(mail.Status, ResultCode::Sent))
        return failureReason(mail);
    return oneLine(storedOutcome(mail).reply, MaxReasonBytes);
}

QByteArray resultTextWithReason(const DeliveryOutcome& outcome)
{
    return withReason(ResultText(outcome.code), failureReason(outcome));
}

QByteArray resultTextWithReason(const MailRecord& mail)
{
    return withReason(ResultText(mail.Status), failureReason(mail));
}

} // namespace kadmel
