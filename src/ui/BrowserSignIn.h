#pragma once

#include "store/AuthSetting.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QOAuth2AuthorizationCodeFlow;
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
// is kept is the refresh token. One attempt at a time; it ends with exactly one of the two signals unless it
// is cancelled.
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
    void tokenReplyFinished(QNetworkReply* reply);

    BrowserOpener m_opener;
    QTimer m_timer;
    QNetworkAccessManager* m_network;
    QPointer<QOAuth2AuthorizationCodeFlow> m_flow;
    QPointer<QOAuthHttpServerReplyHandler> m_redirect;
};

} // namespace kadmel
