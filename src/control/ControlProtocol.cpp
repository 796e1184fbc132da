#include "control/ControlProtocol.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kadmel::control {
namespace {

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

QString controlSocketFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/kadmel");
}

QString controlSocketPath(const QString& programFolder)
{
    const QString folder = controlSocketFolder();
    if (folder.isEmpty())
        return {};
    // A hash keeps the path short enough for a socket whatever the folder's length; the canonical path makes a
    // link to the folder the same folder.
    const QString canonical = QDir(programFolder).canonicalPath();
    const QByteArray path = (canonical.isEmpty() ? QDir(programFolder).absolutePath() : canonical).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(24);
    return folder + QStringLiteral("/ctl-") + QString::fromLatin1(hash);
}

bool peerAllowed(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    return ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           (credentials.uid == ::geteuid() || credentials.uid == 0);
#else
    Q_UNUSED(descriptor);
    return false; // no way to tell who calls: nobody is listened to
#endif
}

QByteArray requestLine(const Request& request)
{
    return line(
        {{QStringLiteral("verb"), request.verb}, {QStringLiteral("args"), QJsonArray::fromStringList(request.args)}});
}

std::optional<Request> readRequest(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonValue verb = document.object().value(QLatin1String("verb"));
    const QJsonValue args = document.object().value(QLatin1String("args"));
    if (!verb.isString() || !(args.isArray() || args.isUndefined()))
        return std::nullopt;
    Request request{verb.toString(), {}};
    for (const QJsonValue& arg : args.toArray()) {
        if (!arg.isString())
            return std::nullopt;
        request.args.append(arg.toString());
    }
    return request;
}

QByteArray sayLine(const QString& text)
{
    return line({{QStringLiteral("meldung"), text}});
}

QByteArray dataLine(const QJsonValue& data)
{
    return line({{QStringLiteral("daten"), data}});
}

QByteArray codeLine(int code)
{
    return line({{QStringLiteral("code"), code}});
}

} // namespace kadmel::control
