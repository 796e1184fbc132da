#pragma once

#include <QByteArray>

namespace kadmel {

// Result codes of a send attempt.
inline constexpr char MsgSent[] = "MSGSENT";
// The connection ended after the whole message went out and before its reply: it may have been delivered.
inline constexpr char DeliveryUnclear[] = "ERRMessage9";
// No access token for the mail server: the token address refused or could not be asked.
inline constexpr char SignInFailed[] = "ERRMessage10";

// The German text of a result code (Windows-1252); empty for any other value, the empty code included.
QByteArray ResultText(const QByteArray& code);

} // namespace kadmel
