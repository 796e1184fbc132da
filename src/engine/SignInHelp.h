#pragma once

#include "store/DeliveryOutcome.h"

#include <QByteArray>

namespace kadmel {

// What the user can do about a refusal whose cause is known from the server's reply (German, Windows-1252,
// beginning with "Hinweis:"); empty for any other reply. `mechanism`: how the attempt signed in.
QByteArray signInHelp(const QByteArray& reply, SignInMechanism mechanism);

} // namespace kadmel
