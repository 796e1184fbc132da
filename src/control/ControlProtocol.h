#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace kadmel {

// The control socket between kadmelctl and the running service. One request per connection, one line of JSON:
//     {"verb":"liste","args":["fehlgeschlagen","--suche","Rechnung"]}
// answered by lines of JSON, each one object with one key:
//     {"meldung":"…"}   a line for the person at the terminal (German), any number of them
//     {"daten":…}       the same for a script (a status, a list, a sign-in's code)
//     {"code":n}        the last line: the exit code kadmelctl ends with
// A line the service cannot read, or one longer than MaxRequestBytes, is answered with code 2.
namespace control {

inline constexpr qint64 MaxRequestBytes = 64 * 1024;
// The longest answer line kadmelctl reads: an exported mail travels in one.
inline constexpr qint64 MaxAnswerBytes = qint64(160) << 20;

// kadmelctl's exit codes.
enum Code
{
    Done = 0,
    Refused = 1, // the verb found something, or the service refused it (its reason said)
    WrongArguments = 2,
    NoService = 3,
};

// $XDG_RUNTIME_DIR/kadmel, the folder of the control sockets; empty without $XDG_RUNTIME_DIR.
QString controlSocketFolder();
// The socket of the service of one program folder, beside those of other folders.
QString controlSocketPath(const QString& programFolder);

// The other end of a connected local socket runs as this user, or as root; another user is not talked to.
bool peerAllowed(qintptr descriptor);

struct Request
{
    QString verb;
    QStringList args;
};
QByteArray requestLine(const Request& request);
// Nothing for a line that is no such request.
std::optional<Request> readRequest(const QByteArray& line);

QByteArray sayLine(const QString& text);
QByteArray dataLine(const QJsonValue& data);
QByteArray codeLine(int code);

} // namespace control
} // namespace kadmel
