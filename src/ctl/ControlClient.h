#pragma once

#include "control/ControlProtocol.h"

#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <functional>

namespace kadmel {

// kadmelctl's side of the control socket: one request, then each answer line as it comes, until the code.
class ControlClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int ConnectMs = 5000;
    // The longest silence between two lines: a device sign-in waits on a person up to its code's expiry.
    static constexpr int LineMs = 20 * 60 * 1000;

    // `line`: every answer line but the last, as its object ({"meldung":…} or {"daten":…}).
    ControlClient(const QString& socketPath, const control::Request& request,
                  std::function<void(const QJsonObject&)> line, QObject* parent = nullptr);
    void start();

Q_SIGNALS:
    // The service's code; NoService (with a line saying why) where no service of this user answered.
    void finished(int code);

private:
    void readLines();
    void end(int code, const QString& reason = {});

    QString m_path;
    control::Request m_request;
    std::function<void(const QJsonObject&)> m_line;
    QLocalSocket m_socket;
    QTimer m_silence;
    bool m_done = false;
};

} // namespace kadmel
