#pragma once

#include "signin/SignInJob.h"
#include "store/AuthSetting.h"

#include <QTimer>

namespace kadmel {

// A person signs in on any device with a browser by typing a code shown here (device authorisation grant,
// RFC 8628), for machines whose browser cannot reach a loopback address, or that have no window at all. The
// device code address (the setting's authorisation address) gives the code; the token address is then asked
// at the interval it sets until the person has signed in, refused, or the code has expired.
class DeviceSignIn : public SignInJob
{
    Q_OBJECT
public:
    // Why the setting cannot start a sign-in, in German; empty when it can.
    static QString startProblem(const AuthSetting& setting);

    DeviceSignIn(const AuthSetting& setting, const SignInTimings& timings = {}, QObject* parent = nullptr);

    // While waiting: what the person types at address().
    const QString& userCode() const { return m_userCode; }

private:
    void post(const QByteArray& address, const QByteArray& form, const QString& name);
    void answered(const TokenAnswer& answer);
    void codeAnswered(const TokenAnswer& answer);
    void poll();
    void failWith(const QString& reason);

    SignInTimings m_timings;
    AuthSetting m_setting;
    JobPtr<TokenRequest> m_tokens;
    QTimer m_poll;
    QTimer m_expiry;
    QByteArray m_deviceCode;
    QString m_userCode;
    int m_intervalS = 5;
};

} // namespace kadmel
