#pragma once

#include "store/MailRecord.h"
#include "store/ResultCode.h"

#include <QByteArray>

namespace kadmel {

enum class SignInMechanism
{
    None,
    Login,
    Plain,
    XOAuth2,
};

// How one mail's attempt ended, as one value from the SMTP transaction to the filing.
struct DeliveryOutcome
{
    ResultCode code = ResultCode::Sent;
    // What explains the code, trimmed: the server's last reply or the cause noted in its place; for a sent mail
    // the server's acceptance of the message.
    QByteArray reply;
    SignInMechanism mechanism = SignInMechanism::None;
    // The message as it went out, without its end-of-data line; empty unless it went out whole.
    QByteArray message;

    bool sent() const { return code == ResultCode::Sent; }
};

// The one reading of a stored mail's conversation, for a mail whose attempt is over (after a restart too).
// A status without a known code reads as not sent (code ServerReply).
DeliveryOutcome storedOutcome(const MailRecord& mail);

} // namespace kadmel
