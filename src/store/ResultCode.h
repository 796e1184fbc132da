#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <array>
#include <optional>

namespace kadmel {

// The outcome of a send attempt, stored in a mail's Status as its code text ("MSGSENT", "ERRMessage3", …).
enum class ResultCode
{
    Sent,            // "MSGSENT"
    NoDnsAnswer,     // "ERRMessage1", never set here; only found in older stores
    DnsError,        // "ERRMessage2", likewise
    ServerReply,     // "ERRMessage3": a reply that refused the step, or one out of step
    NoConnection,    // "ERRMessage4"
    ClosedByServer,  // "ERRMessage5"
    TimedOut,        // "ERRMessage6"
    Refused,         // "ERRMessage7": a header that could smuggle lines, an address or a size the server or
                     // kadmel.ini does not take; nothing was sent
    NotSecure,       // "ERRMessage8": no secure connection, or none that a sign-in demands
    DeliveryUnclear, // "ERRMessage9": the connection ended after the whole message went out
    SignInFailed,    // "ERRMessage10": no access token for the mail server
    Throttled,       // "ERRMessage11": with pacing set, the server said too many mails; it waits for the pause
    Undeliverable,   // "ERRMessage12": accepted, then refused by the recipient's server in a delivery report
};

inline constexpr std::array<ResultCode, 13> AllResultCodes = {
    ResultCode::Sent,         ResultCode::NoDnsAnswer,     ResultCode::DnsError,     ResultCode::ServerReply,
    ResultCode::NoConnection, ResultCode::ClosedByServer,  ResultCode::TimedOut,     ResultCode::Refused,
    ResultCode::NotSecure,    ResultCode::DeliveryUnclear, ResultCode::SignInFailed, ResultCode::Throttled,
    ResultCode::Undeliverable};

// What a result means for the mail.
enum class ResultNature
{
    Sent,
    Temporary, // may pass by itself: the mail may be tried again automatically
    Permanent, // waits for the user
    Unclear,   // may have been delivered: never sent again without asking
};

// The code text as stored, byte for byte.
QByteArray codeBytes(ResultCode code);
// The code of a stored status, compared exactly, with case; none for the empty status and any other value.
std::optional<ResultCode> resultCodeOf(const QByteArray& status);
// True when the stored status is this code.
bool isResult(const QByteArray& status, ResultCode code);

// The German text of a result (Windows-1252); empty for any other value, the empty status included.
QByteArray ResultText(ResultCode code);
QByteArray ResultText(const QByteArray& status);

// The three digits of a reply ("550"), its first 1 to 5, blanks and control bytes before them skipped; empty for
// anything else. The one rule for a reply's class wherever a conversation is judged.
QByteArray replyCode(const QByteArray& reply);
// The class of a reply (its code's first digit), 0 without a code.
int replyClass(const QByteArray& reply);

// The nature of a result; a server's refusal takes it from the class of its reply (4: temporary).
ResultNature resultNature(ResultCode code, int replyClass);
// The nature of a mail's stored status, its last reply read from its conversation (storedOutcome). A status
// without a code or an unknown one is permanent.
ResultNature resultNature(const MailRecord& mail);

} // namespace kadmel
