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

    // Whether the settings let the service start; `reason` (German) when there is one to show.
    StartCheck checkSignIn(const Settings& settings, QString* reason);
    // Starts the attempt for mail `id`; finished() follows exactly once, always after start() returned.
    void start(qint16 id);
    // The program ends: the attempt is cut short (a page still being built first ends).
    void abort();
    // The log of the finished attempt: the sign-in's own when it failed before a conversation began.
    SmtpLog takeLog();

Q_SIGNALS:
    void finished(bool sent, const QByteArray& errorResponse);

private:
    void SendMailItem(qint16 id);
    void signInAndSend();
    void requestToken(const AuthSetting& auth);
    void onToken();
    void failSignIn(const QByteArray& code, const QByteArray& reason);
    void fileOutcome(bool sent, const QByteArray& errorResponse);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
