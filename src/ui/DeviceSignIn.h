#pragma once

#include "engine/TokenRequest.h"
#include "store/AuthSetting.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>

namespace kadmel {

// A person signs in on any device with a browser by typing a code shown here (device authorisation grant,
// RFC 8628), for machines whose browser cannot reach a loopback address. The device code address (the
// setting's authorisation address) gives the code; the token address is then asked at the interval it sets
// until the person has signed in, refused, or the code has expired. What is kept is the refresh token. One
// attempt at a time; it ends with exactly one of succeeded() and failed() unless it is cancelled.
class DeviceSignIn : public QObject
{
    Q_OBJECT
public:
    // second: one second of the service's interval and expiry, shortened by tests.
    explicit DeviceSignIn(std::chrono::milliseconds second, QObject* parent = nullptr);

    // False with a German reason when the addresses or the client cannot be used.
    bool start(const AuthSetting& setting, QString* error);
    void cancel();
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    // The person types `userCode` at `address`.
    void codeReady(const QString& userCode, const QUrl& address);
    void succeeded(const QByteArray& refreshToken, const QString& account);
    void failed(const QString& reason);

private:
    void answered(const TokenAnswer& answer);
    void codeAnswered(const TokenAnswer& answer);
    void poll();
    void fail(const QString& reason);

    std::chrono::milliseconds m_second;
    TokenRequest m_tokens;
    QTimer m_poll;
    QTimer m_expiry;
    AuthSetting m_setting;
    QByteArray m_deviceCode;
    int m_intervalS = 5;
    bool m_running = false;
};

} // namespace kadmel
