#include "engine/FailureReason.h"

#include "engine/ByteText.h"
#include "engine/SignInHelp.h"
#include "store/ResultCode.h"

#include <algorithm>
#include <cctype>

namespace kadmel {
namespace {

// A hostile server may send a reply of many kilobytes; a status line and a tooltip need far less.
constexpr qsizetype MaxReasonBytes = 200;

bool isReplyOfClass(const QByteArray& reply, char lowest, char highest)
{
    return reply.size() >= 3 && reply[0] >= lowest && reply[0] <= highest && std::isdigit(uchar(reply[1])) &&
           std::isdigit(uchar(reply[2]));
}

} // namespace

QByteArray failureReason(const MailRecord& mail)
{
    if (isResult(mail.Status, ResultCode::Sent))
        return {};
    QByteArray last;
    for (auto it = mail.Log.Received.crbegin(); it != mail.Log.Received.crend() && last.isEmpty(); ++it)
        last = it->trimmed();
    // A positive reply (a 354, an EHLO list) is where the conversation stood, not why it failed; a refusal
    // explains, and so does a cause the client noted where a reply would stand (no connection, no token).
    if (isReplyOfClass(last, '1', '3'))
        return {};
    // The lines of a multi-line reply follow one another; control bytes would garble the window.
    const QByteArray help = signInHelp(last, mail.Log);
    return oneLine(last, MaxReasonBytes) + (help.isEmpty() ? help : ' ' + help);
}

QByteArray serverCode(const MailRecord& mail)
{
    const QByteArray reason = failureReason(mail);
    return isReplyOfClass(reason, '4', '5') ? reason.left(3) : QByteArray();
}

QByteArray outcomeReply(const MailRecord& mail)
{
    if (!isResult(mail.Status, ResultCode::Sent))
        return failureReason(mail);
    const QByteArrayList& received = mail.Log.Received;
    const auto accepted =
        std::find_if(received.crbegin(), received.crend(), [](const QByteArray& r) { return r.startsWith("250"); });
    return accepted == received.crend() ? QByteArray() : oneLine(accepted->trimmed(), MaxReasonBytes);
}

QByteArray resultTextWithReason(const MailRecord& mail)
{
    const QByteArray text = ResultText(mail.Status);
    const QByteArray reason = failureReason(mail);
    if (reason.isEmpty())
        return text;
    return text.isEmpty() ? '(' + reason + ')' : text + " (" + reason + ')';
}

} // namespace kadmel
