#pragma once

#include "engine/TokenRequest.h"
#include "store/AuthSetting.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>

class QOAuthHttpServerReplyHandler;

namespace kadmel {

// Opens an address in the user's browser. Tests fetch it themselves instead.
using BrowserOpener = std::function<void(const QUrl&)>;
BrowserOpener systemBrowserOpener();

// How the settings dialog signs in in the browser; tests put in their own opener and a short limit.
struct BrowserSignInSetup
{
    BrowserOpener opener = systemBrowserOpener();
    std::chrono::milliseconds timeLimit = std::chrono::minutes(5);
};

// A person signs in once in the browser (authorisation code with PKCE, redirect to a loopback address); what
// is kept is the refresh token. The code is traded through TokenRequest, under the rules of every token
// request. One attempt at a time; it ends with exactly one of the two signals unless it is cancelled.
class BrowserSignIn : public QObject
{
    Q_OBJECT
public:
    explicit BrowserSignIn(const BrowserSignInSetup& setup, QObject* parent = nullptr);
    ~BrowserSignIn() override;

    // Starts an attempt with the addresses, client and scope of the setting; false with a German reason when
    // they cannot be used or no loopback port is free.
    bool start(const AuthSetting& setting, QString* error);
    void cancel();
    bool isRunning() const;

Q_SIGNALS:
    void succeeded(const QByteArray& refreshToken);
    void failed(const QString& reason);

private:
    void finish();
    void fail(const QString& reason);
    void callback(const QVariantMap& values);
    void answered(const TokenAnswer& answer);

    BrowserOpener m_opener;
    QTimer m_timer;
    TokenRequest m_tokens;
    QPointer<QOAuthHttpServerReplyHandler> m_redirect;
    AuthSetting m_setting;
    QByteArray m_state;
    QByteArray m_verifier;
};

} // namespace kadmel
