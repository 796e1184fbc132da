#include "ctl/RemoteVerbs.h"

#include "ctl/ControlClient.h"
#include "ctl/Terminal.h"
#include "store/FileAccess.h"

#include <QCoreApplication>
#include <QJsonDocument>

namespace kadmel {
namespace {

struct RemoteVerb
{
    const char* name;
    int least;
    int most; // -1: any number
    const char* usage;
};
constexpr RemoteVerb Verbs[] = {
    {"status", 0, 0, "status"},
    {"liste", 0, 3, "liste [gesendet|fehlgeschlagen|geloescht] [--suche TEXT]"},
    {"zeige", 1, 1, "zeige ID"},
    {"export", 2, 2, "export ID DATEI"},
    {"senden", 1, -1, "senden ID…"},
    {"alle-senden", 0, 0, "alle-senden"},
    {"entfernen", 1, -1, "entfernen ID…"},
    {"wiederherstellen", 1, -1, "wiederherstellen ID…"},
    {"start", 0, 0, "start"},
    {"stopp", 0, 0, "stopp"},
    {"einrichten", 1, -1,
     "einrichten [--server NAME] [--port N] [--verschluesselung Keine|STARTTLS|SSL/TLS] [--anmeldung VERFAHREN] "
     "[--benutzer NAME] [--kennwort | --kennwort-stdin]"},
    {"anmelden", 0, 0, "anmelden"},
};

int complain(bool json, const QString& text, int code)
{
    printAnswer(json, said(text, true));
    return endAnswer(json, code);
}

// einrichten's options, checked here so that a wrong one costs no password; the password itself is read here,
// never taken from the command line.
bool setUpArguments(QStringList& args, QString* problem)
{
    static const QStringList valued{QStringLiteral("--server"), QStringLiteral("--port"),
                                    QStringLiteral("--verschluesselung"), QStringLiteral("--anmeldung"),
                                    QStringLiteral("--benutzer")};
    QStringList request;
    int passwordWays = 0;
    bool fromStdin = false;
    for (qsizetype k = 0; k < args.size(); ++k) {
        const QString& arg = args.at(k);
        if (valued.contains(arg) && k + 1 < args.size() && !request.contains(arg)) {
            request << arg << args.at(++k);
        } else if (arg == QLatin1String("--kennwort") || arg == QLatin1String("--kennwort-stdin")) {
            ++passwordWays;
            fromStdin = arg.endsWith(QLatin1String("stdin"));
        } else {
            *problem = QStringLiteral("einrichten: unbekannte oder doppelte Angabe „%1“.").arg(arg);
            return false;
        }
    }
    if (passwordWays > 1) {
        *problem = QStringLiteral("einrichten: das Passwort entweder mit --kennwort oder mit --kennwort-stdin.");
        return false;
    }
    if (passwordWays == 1) {
        const std::optional<QString> password =
            fromStdin ? readLineFromStdin() : askWithoutEcho(QStringLiteral("Passwort: "));
        if (!password) {
            *problem = QStringLiteral("einrichten: kein Passwort gelesen.");
            return false;
        }
        request << QStringLiteral("--kennwort") << *password;
    }
    args = request;
    return true;
}

} // namespace

QStringList remoteVerbUsage()
{
    QStringList lines;
    for (const RemoteVerb& verb : Verbs)
        lines.append(QString::fromUtf8(verb.usage));
    return lines;
}

int runRemoteVerb(const QString& programFolder, bool json, const QString& verb, const QStringList& given)
{
    const RemoteVerb* known = nullptr;
    for (const RemoteVerb& candidate : Verbs) {
        if (verb == QLatin1String(candidate.name))
            known = &candidate;
    }
    if (!known)
        return -1;
    QStringList args = given;
    if (args.size() < known->least || (known->most >= 0 && args.size() > known->most))
        return complain(json, QStringLiteral("Aufruf: kadmelctl ") + QString::fromUtf8(known->usage),
                        control::WrongArguments);
    QString problem;
    if (verb == QLatin1String("einrichten") && !setUpArguments(args, &problem))
        return complain(json, problem, control::WrongArguments);
    // export: the service gives the bytes, this side writes the file under the caller's name and rights.
    const QString exportTo = verb == QLatin1String("export") ? args.takeLast() : QString();

    int code = control::Refused;
    bool exportFailed = false;
    bool finished = false;
    ControlClient client(control::controlSocketPath(programFolder), {verb, args}, [&](const QJsonObject& line) {
        const QJsonObject data = line.value(QLatin1String("daten")).toObject();
        if (exportTo.isEmpty() || !data.contains(QLatin1String("eml")))
            return printAnswer(json, line);
        const QByteArray eml = QByteArray::fromBase64(data.value(QLatin1String("eml")).toString().toLatin1());
        QString error;
        if (!writeWholeFile(exportTo, eml, &error)) {
            exportFailed = true;
            return printAnswer(json, said(error, true));
        }
        printAnswer(json, said(QStringLiteral("Gespeichert als %1.").arg(exportTo)));
        if (json)
            printAnswer(json, {{QStringLiteral("daten"), QJsonObject{{QStringLiteral("datei"), exportTo}}}});
    });
    QObject::connect(&client, &ControlClient::finished, [&](int answered) {
        code = answered;
        finished = true;
        QCoreApplication::quit();
    });
    client.start();
    if (!finished) // it may end within start()
        QCoreApplication::exec();
    if (exportFailed && code == control::Done)
        code = control::Refused;
    return endAnswer(json, code);
}

} // namespace kadmel
