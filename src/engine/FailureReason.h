#pragma once

#include "store/DeliveryOutcome.h"
#include "store/MailRecord.h"

#include <QByteArray>
#include <array>

namespace kadmel {

// Why a failed send failed, on one line and at most a few hundred bytes: the reply that explains the outcome
// unless that is a positive one, so a server's refusal (4xx, 5xx) or the cause noted in its place (no
// connection, no token). Empty for a delivered mail, after a 354 or an EHLO list, in silence.
QByteArray failureReason(const DeliveryOutcome& outcome);
// The same for a stored mail, its outcome read from its conversation.
QByteArray failureReason(const MailRecord& mail);

// The three digits of the server's refusal ("550"), empty without one.
QByteArray serverCode(const MailRecord& mail);

// The reply that explains the outcome, on one line: for a delivered mail the server's acceptance of the
// message (its last 250, not the goodbye after it), otherwise failureReason().
QByteArray outcomeReply(const MailRecord& mail);

// What kind of failure a mail's status is, for a person scanning a list: its code, or for a server's
// refusal the class of its reply. None for a sent mail and one never tried.
enum class FailureKind
{
    None,
    Rejected,     // "abgelehnt": waits for the user
    Temporary,    // "vorübergehend": may pass by itself
    NoConnection, // "keine Verbindung"
    TimedOut,     // "Zeitüberschreitung"
    Unclear,      // "unklar": may have been delivered, or a status this version does not know
};
inline constexpr std::array<FailureKind, 5> AllFailureKinds = {FailureKind::Rejected, FailureKind::Temporary,
                                                               FailureKind::NoConnection, FailureKind::TimedOut,
                                                               FailureKind::Unclear};
FailureKind failureKind(const MailRecord& mail);
// The kind's short German word (Windows-1252); empty for None.
QByteArray failureKindText(FailureKind kind);

// The status text, followed by " (" reason ")" where there is a reason.
QByteArray resultTextWithReason(const DeliveryOutcome& outcome);
QByteArray resultTextWithReason(const MailRecord& mail);

} // namespace kadmel
