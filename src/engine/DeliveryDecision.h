#pragma once

#include "smtp/ZUB_SMTP.h"
#include "store/KadmelIni.h"
#include "store/Settings.h"

#include <optional>

namespace kadmel {

// How a mail leaves: the connection and sign-in for the SMTP client, and with OAuth 2.0 the setting a token
// is got for first (it goes into server.accessToken).
struct DeliveryPlan
{
    SmtpServer server;
    std::optional<AuthSetting> oauth;
};

// Which part of the settings keeps a mail from going out, for the result code it is filed with.
enum class RefusedPart
{
    Encryption, // nothing goes out rather than weaker than configured
    SignIn,
};

// The one decision on encryption and sign-in. A plan, or why no mail may go (refusedPart set). The start
// asks more than a send: its check may refuse beside a plan (password settings incomplete, no folder), and
// then a resend still goes out as ever.
struct DeliveryDecision
{
    std::optional<DeliveryPlan> plan;
    std::optional<RefusedPart> refusedPart; // set exactly when there is no plan
    StartCheck check = StartCheck::Ok;      // what the start check says
    // German, for panel 2 and the mail's log; empty for the start's two refusals that have their own message.
    QString reason;
};

// From the settings record and the model of "kadmel.ini".
DeliveryDecision decideDelivery(const Settings& settings, const KadmelIni& ini);

} // namespace kadmel
