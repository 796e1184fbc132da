#include "control/ControlProtocol.h"

#include "engine/LocalSocketRules.h"

#include <QJsonArray>
#include <QJsonDocument>

#ifdef Q_OS_UNIX
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
    return folder + QStringLiteral("/ctl-") + programFolderKey(programFolder);
}

bool peerAllowed(qintptr descriptor)
{
    // Where the system cannot tell who calls, nobody is listened to.
    const std::optional<unsigned> peer = peerUserId(descriptor);
#ifdef Q_OS_UNIX
    return peer && (*peer == ::geteuid() || *peer == 0);
#else
    return false;
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
