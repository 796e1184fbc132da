#pragma once

#include "imap/ImapSession.h"
#include "store/AuthSetting.h"
#include "store/KadmelIni.h"
#include "store/Settings.h"

#include <optional>

namespace kadmel {

// How the mailbox for delivery reports is read: its server with the sending's user and sign-in, and with
// OAuth 2.0 the setting a token is got for first (it goes into server.accessToken).
struct MailboxPlan
{
    ReportMailbox mailbox; // unset: nothing is read
    ImapServer server;
    std::optional<AuthSetting> oauth = {};
    QString problem = {}; // German: why the mailbox set is not read
};

// From the settings record and the model of "kadmel.ini", by the sending's rules of sign-in (decideDelivery):
// a sign-in refused for sending is refused here too.
MailboxPlan decideMailbox(const Settings& settings, const KadmelIni& ini);

} // namespace kadmel
