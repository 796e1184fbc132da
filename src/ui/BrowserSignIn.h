#pragma once

#include "engine/TokenRequest.h"
#include "store/AuthSetting.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace kadmel {

class LoopbackRedirect;

// Opens an address in the user's browser, false when none could be opened. Tests fetch it themselves instead.
using BrowserOpener = std::function<bool(const QUrl&)>;
BrowserOpener systemBrowserOpener();

// Why a token answer to a person's sign-in is no success: no access token, or no refresh token to keep.
std::optional<QString> signInRefusal(const TokenAnswer& answer);

// How the settings dialog signs in in the browser; tests put in their own opener and a short limit.
struct BrowserSignInSetup
{
    BrowserOpener opener = systemBrowserOpener();
    std::chrono::milliseconds timeLimit = std::chrono::minutes(5);
    // One second of the device code's polling interval; tests shorten it.
    std::chrono::milliseconds deviceSecond = std::chrono::seconds(1);
    // How long the loopback listener holds a connection.
    std::chrono::milliseconds redirectIdle = std::chrono::seconds(5);
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

    // Starts an attempt with the addresses, client and scope of the setting, suggesting the account
    // `loginHint`; false with a German reason when they cannot be used or no loopback port is free.
    bool start(const AuthSetting& setting, const QString& loginHint, QString* error);
    void cancel();
    bool isRunning() const;

Q_SIGNALS:
    // `account`: the signed-in address where the service named it, else empty.
    void succeeded(const QByteArray& refreshToken, const QString& account);
    void failed(const QString& reason);
    // The page the attempt waits on, for the user to open by hand: the desktop may say a browser opened when none
    // came (xdg-open on a terminal server), so it is shown either way. `opened`: the desktop said so.
    void waitingAt(const QUrl& page, bool opened);

private:
    void finish();
    void fail(const QString& reason, Qt::ConnectionType when = Qt::DirectConnection);
    QString returned(const QMap<QString, QString>& values);
    void answered(const TokenAnswer& answer);

    BrowserOpener m_opener;
    std::chrono::milliseconds m_redirectIdle;
    QTimer m_timer;
    TokenRequest m_tokens;
    QPointer<LoopbackRedirect> m_redirect;
    AuthSetting m_setting;
    QByteArray m_state;
    QByteArray m_verifier;
};

} // namespace kadmel
