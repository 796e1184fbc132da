#pragma once

#include "signin/SignInJob.h"
#include "store/AuthSetting.h"

#include <QPointer>
#include <QTimer>

namespace kadmel {

class LoopbackRedirect;

// A person signs in once in the browser (authorisation code with PKCE, redirect to a loopback address). The
// code is traded through TokenRequest, under the rules of every token request. The page waited on is shown
// either way: the desktop may say a browser opened when none came (xdg-open on a terminal server).
class BrowserSignIn : public SignInJob
{
    Q_OBJECT
public:
    // Why the setting cannot start a sign-in, in German; empty when it can.
    static QString startProblem(const AuthSetting& setting);

    // Suggests the account `loginHint` to the service; `opener` may be empty (nothing opened).
    BrowserSignIn(const AuthSetting& setting, const QString& loginHint, const BrowserOpener& opener,
                  const SignInTimings& timings = {}, QObject* parent = nullptr);
    ~BrowserSignIn() override;

private:
    void end();
    void failWith(const QString& reason);
    QString returned(const QMap<QString, QString>& values);
    void answered(const TokenAnswer& answer);

    SignInTimings m_timings;
    QTimer m_timer;
    JobPtr<TokenRequest> m_tokens;
    QPointer<LoopbackRedirect> m_redirect;
    AuthSetting m_setting;
    QByteArray m_state;
    QByteArray m_verifier;
};

} // namespace kadmel
