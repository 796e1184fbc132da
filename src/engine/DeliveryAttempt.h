#pragma once

#include "engine/DispatcherView.h"
#include "engine/EngineTimings.h"
#include "smtp/ZUB_SMTP.h"
#include "store/Store.h"

#include <QObject>
#include <memory>

namespace kadmel {

class SecretStore;

// One delivery attempt of one mail of the store: its page (and for a big mail its Base64) built beside the
// window's thread, the sign-in (a password, or an OAuth 2.0 token got first), the SMTP conversation.
class DeliveryAttempt : public QObject
{
    Q_OBJECT
public:
    // secrets: the keyring that kadmel.ini may name for the sign-in's secrets; none when there is no keyring.
    DeliveryAttempt(Store& store, DispatcherView& view, const EngineTimings& timings, SecretStore* secrets = nullptr,
                    QObject* parent = nullptr);
    ~DeliveryAttempt() override;

    // The start check on these settings (delivery decision, fields, folder); `reason` (German) when there is
    // one to show, for a missing field its name on a line of its own.
    StartCheck checkStart(const Settings& settings, QString* reason);
    // Starts the attempt for mail `id`; finished() follows exactly once, always after start() returned.
    // `more`: another mail follows at once, so the connection stays open after this one (kadmel.ini's
    // MailsProVerbindung at most).
    void start(qint16 id, bool more = false);
    // No mail follows: a connection kept open says "QUIT" (after the mail on its way, if one is).
    void release();
    // The attempt is cut short (a page still being built first ends), by a person or the program's end.
    void abort(Cut cut = Cut::Program);
    // The log of the finished attempt: the sign-in's own when it failed before a conversation began.
    SmtpLog takeLog();

Q_SIGNALS:
    void finished(const DeliveryOutcome& outcome);

private:
    void SendMailItem(qint16 id);
    void signInAndSend();
    void requestToken(const AuthSetting& auth);
    void onToken();
    void failSignIn(ResultCode code, const QByteArray& reason);
    // Drops a token the server refused, then reports the outcome.
    void reportOutcome(const DeliveryOutcome& outcome);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
