#pragma once

#include "store/MailRecord.h"

#include <QByteArray>

namespace kadmel {

// The server's last reply in a failed mail's conversation, on one line and at most a few hundred
// bytes: why the send failed. Empty for a delivered mail and where the server never answered.
QByteArray failureReason(const MailRecord& mail);

// The reply that explains the outcome, on one line: for a delivered mail the server's acceptance of the
// message (its last 250, not the goodbye after it), otherwise failureReason().
QByteArray outcomeReply(const MailRecord& mail);

// The status text, followed by " (" reason ")" where there is a reason.
QByteArray resultTextWithReason(const MailRecord& mail);

} // namespace kadmel
