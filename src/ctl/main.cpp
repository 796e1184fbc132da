// kadmelctl: the program's command line. archiv-pruefen reads only files; every other verb asks the running
// service over its control socket (RemoteVerbs).
#include "app/ProgramFolder.h"
#include "control/ControlProtocol.h"
#include "ctl/RemoteVerbs.h"
#include "ctl/Terminal.h"
#include "store/ArchiveCheck.h"
#include "store/FileAccess.h"
#include "store/KadmelIni.h"
#include "store/StorePaths.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QStandardPaths>

namespace {

// Exit codes a script can test (ControlProtocol.h).
constexpr int Intact = kadmel::control::Done;
constexpr int Findings = kadmel::control::Refused;       // the verb ran and found something
constexpr int Refused = kadmel::control::WrongArguments; // wrong arguments, or nothing to work on

void say(std::FILE* to, const QString& line)
{
    kadmel::writeLine(to, line);
}

struct Options
{
    QString programFolder; // --ordner
    bool json = false;     // --json
    QStringList arguments; // after the verb
};

int refuse(const Options& options, const QString& reason)
{
    kadmel::printAnswer(options.json, kadmel::said(QStringLiteral("kadmelctl: ") + reason, true));
    return kadmel::endAnswer(options.json, Refused);
}

// The store this command works on: --ordner, else the one the program itself would choose.
QString storeFolder(const Options& options)
{
    if (!options.programFolder.isEmpty())
        return options.programFolder;
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath();
    return kadmel::chooseProgramFolder(self, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).folder;
}

int checkArchive(const Options& options)
{
    if (options.arguments.size() > 1)
        return refuse(options, QStringLiteral("archiv-pruefen nimmt höchstens einen Ordner."));
    const QString store = storeFolder(options);
    QString archive = options.arguments.value(0);
    if (archive.isEmpty()) {
        QByteArray bytes;
        QString error;
        const kadmel::ReadOutcome read =
            kadmel::readWholeFile(kadmel::iniFilePathIn(store), kadmel::MaxSettingsFileBytes, bytes, &error);
        if (read == kadmel::ReadOutcome::Failed)
            return refuse(options, error);
        archive = kadmel::readKadmelIni(bytes).archiveFolder.path();
        if (archive.isEmpty())
            return refuse(options,
                          QStringLiteral("Im Programmordner „%1“ ist kein Archivordner eingestellt.").arg(store));
    }
    if (!QFileInfo(archive).isDir())
        return refuse(options, QStringLiteral("Der Archivordner „%1“ ist nicht da oder kein Ordner.").arg(archive));
    const kadmel::ArchiveCheck check = kadmel::checkArchive(
        archive, store.isEmpty() ? std::nullopt : kadmel::readChainHead(kadmel::chainHeadPathIn(store)));
    for (const QString& finding : check.findings)
        kadmel::printAnswer(options.json, kadmel::said(finding));
    kadmel::printAnswer(options.json, kadmel::said(check.summary()));
    if (options.json)
        kadmel::printAnswer(true,
                            {{QStringLiteral("daten"),
                              QJsonObject{{QStringLiteral("befunde"), QJsonArray::fromStringList(check.findings)}}}});
    return kadmel::endAnswer(options.json, check.findings.isEmpty() ? Intact : Findings);
}

struct Verb
{
    const char* name;
    int (*run)(const Options&);
};
constexpr Verb Verbs[] = {{"archiv-pruefen", checkArchive}};

int usage()
{
    say(stderr, QStringLiteral("Aufruf: kadmelctl [--ordner PROGRAMMORDNER] [--json] BEFEHL …"));
    const QStringList verbs = kadmel::remoteVerbUsage() << QStringLiteral("archiv-pruefen [ARCHIVORDNER]");
    for (const QString& line : verbs)
        say(stderr, QStringLiteral("  ") + line);
    return Refused;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kadmel")); // the per-user store of the window
    QStringList args = QCoreApplication::arguments().mid(1);
    Options options;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--json"))
            options.json = true;
        else if (option == QLatin1String("--ordner") && !args.isEmpty())
            options.programFolder = args.takeFirst();
        else
            return usage();
    }
    if (args.isEmpty())
        return usage();
    const QString verb = args.takeFirst();
    options.arguments = args;
    for (const Verb& known : Verbs) {
        if (verb == QLatin1String(known.name))
            return known.run(options);
    }
    if (const int code = kadmel::runRemoteVerb(storeFolder(options), options.json, verb, options.arguments); code >= 0)
        return code;
    say(stderr, QStringLiteral("kadmelctl: unbekannter Befehl „%1“.").arg(verb));
    return usage();
}
