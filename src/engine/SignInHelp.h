#pragma once

#include "store/MailRecord.h"

#include <QByteArray>

namespace kadmel {

// What the user can do about a refusal whose cause is known from the server's reply (German, Windows-1252,
// beginning with "Hinweis:"); empty for any other reply. `log` tells whether a token was offered.
QByteArray signInHelp(const QByteArray& reply, const SmtpLog& log);

} // namespace kadmel
