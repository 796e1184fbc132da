#include "engine/FailureReason.h"

#include "engine/ByteText.h"
#include "engine/SignInHelp.h"
#include "store/ResultCode.h"

namespace kadmel {
namespace {

// A hostile server may send a reply of many kilobytes; a status line and a tooltip need far less.
constexpr qsizetype MaxReasonBytes = 200;

} // namespace

QByteArray failureReason(const MailRecord& mail)
{
    if (isResult(mail.Status, ResultCode::Sent))
        return {};
    QByteArray reply;
    for (auto it = mail.Log.Received.crbegin(); it != mail.Log.Received.crend() && reply.isEmpty(); ++it)
        reply = it->trimmed();
    // The lines of a multi-line reply follow one another; control bytes would garble the window.
    const QByteArray help = signInHelp(reply, mail.Log);
    return oneLine(reply, MaxReasonBytes) + (help.isEmpty() ? help : ' ' + help);
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
