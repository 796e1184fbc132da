// Soak and kill runs against a faulty local SMTP server.
//   soak [jobs] [seed]       the engine in this process takes the jobs through the server, then resends
//                            the failed folder until it is empty, and checks that nothing was lost or doubled.
//   soak --kill [rounds] [seed]   an engine child process is killed at random moments and started again.
// Exit code 0 when every check holds; the figures go to stdout.

#include "engine/Dispatcher.h"
#include "smtp/ResultText.h"
#include "support/FaultySmtpServer.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <csignal>

using namespace kadmel;

namespace {

QTextStream out(stdout);

constexpr int ConversationMs = 400;

void writeJobs(const QString& jobFolder, int first, int count)
{
    QDir().mkpath(jobFolder);
    for (int n = first; n < first + count; ++n) {
        QFile file(jobFolder + QStringLiteral("/job%1.zub").arg(n, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write a job file");
        // CP850 "ü" in the body: it must travel as Windows-1252.
        file.write("@@FR soak@example.com@@TO rcpt@example.com@@SB soak-" + QByteArray::number(n) +
                   "@@\r\n\r\nHallo Gr\x81\xE1 " + QByteArray::number(n) + "\r\n");
    }
}

// Runs the event loop until `done` holds or the time is up; false on time-out.
template <typename Pred> bool runUntil(Pred done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

// A program folder and a watched folder in a temporary place.
struct Folders
{
    QTemporaryDir dir;
    QString program = dir.path() + QStringLiteral("/program");
    QString watch = dir.path() + QStringLiteral("/watch");
    QString jobs = watch + QStringLiteral("/KDMEML");
    Folders() { QDir().mkpath(program); }
};

int jobFilesLeft(const QString& jobFolder)
{
    return int(QDir(jobFolder).entryList({QStringLiteral("*.zub")}, QDir::Files).size());
}

QByteArray subjectNumber(const QByteArray& subject)
{
    return subject.startsWith("soak-") ? subject.mid(5) : QByteArray();
}

bool check(bool condition, const char* what, int& failures)
{
    out << (condition ? "  ok    " : "  FAIL  ") << what << Qt::endl;
    if (!condition)
        ++failures;
    return condition;
}

bool noBadFiles(const QString& programFolder)
{
    return QDir(programFolder).entryList({QStringLiteral("*.bad")}).isEmpty() &&
           QDir(programFolder + QStringLiteral("/Mails")).entryList({QStringLiteral("*.bad")}).isEmpty();
}

int runSoak(int jobs, quint32 seed)
{
    const Folders folders;
    const QString& programFolder = folders.program;
    const QString& watchFolder = folders.watch;
    const QString& jobFolder = folders.jobs;

    test::FaultySmtpServer server(seed);
    if (!server.listen())
        return 2;
    writeJobs(jobFolder, 1, jobs);

    Store store(programFolder);
    store.loadAtStartup();
    store.settings() = test::localSettings(watchFolder, server.port());

    EngineTimings timings;
    timings.pollMs = 0;
    timings.minJobAgeMs = 0;
    timings.smtp.connectMs = 2000;
    timings.smtp.conversationMs = ConversationMs;
    test::RecordingView view;
    Dispatcher dispatcher(store, view, timings);

    QElapsedTimer clock;
    clock.start();
    dispatcher.StartProcessing();
    const bool intake = runUntil([&] { return jobFilesLeft(jobFolder) == 0 && dispatcher.IdleFlag(); },
                                 jobs * (ConversationMs + 500) + 10000);
    dispatcher.StopProcessing();
    const qint16 failedAfterIntake = store.tables().count(FailedFolder);

    int rounds = 0;
    int unclear = 0;
    while (store.tables().count(FailedFolder) > 0 && rounds < 100 + jobs) {
        ++rounds;
        // "Alle Senden" leaves mails that may have been delivered. Once only those are left the server is
        // asked, as a user would: one it never took is sent on its own, one it took stays where it is.
        const QList<qint16> failed = store.tables().folder(FailedFolder).entries();
        const auto notTaken = std::find_if(failed.cbegin(), failed.cend(), [&](qint16 id) {
            return server.acceptedSubjects().value(store.tables().mail(id).Subject) == 0;
        });
        const bool onlyUnclear = std::all_of(failed.cbegin(), failed.cend(), [&](qint16 id) {
            return store.tables().mail(id).Status == DeliveryUnclear;
        });
        if (onlyUnclear && notTaken == failed.cend())
            break;
        bool finished = false;
        auto connection = QObject::connect(&dispatcher, &Dispatcher::resendFinished, [&] { finished = true; });
        if (onlyUnclear) {
            ++unclear;
            dispatcher.resend(FailedFolder, qint16(notTaken - failed.cbegin() + 1));
        } else {
            dispatcher.resendAllFailed();
        }
        runUntil([&] { return finished; }, jobs * (ConversationMs + 500) + 10000);
        QObject::disconnect(connection);
    }
    const qint64 elapsed = clock.elapsed();

    out << "soak: " << jobs << " jobs, seed " << seed << ", " << elapsed << " ms, " << failedAfterIntake
        << " failed at first, " << rounds << " resend rounds, " << unclear
        << " unclear mails resent after asking the server" << Qt::endl;
    out << "faults injected: " << server.faultSummary() << Qt::endl;

    int failures = 0;
    const MailTables& tables = store.tables();
    check(intake, "every job was taken", failures);
    check(jobFilesLeft(jobFolder) == 0, "no job file is left", failures);
    check(tables.MailCount() == jobs, "every job became exactly one mail", failures);
    QSet<QByteArray> subjects;
    for (qint16 id = 1; id <= tables.MailCount(); ++id)
        subjects.insert(subjectNumber(tables.mail(id).Subject));
    check(subjects.size() == jobs, "no two mails share a job", failures);
    const QHash<QByteArray, int> accepted = server.acceptedSubjects();
    int unclearTaken = 0;
    for (const qint16 id : tables.folder(FailedFolder).entries())
        unclearTaken += tables.mail(id).Status == DeliveryUnclear && accepted.value(tables.mail(id).Subject) == 1;
    check(tables.count(SentFolder) + unclearTaken == jobs,
          "every mail is in the sent folder, or marked unclear and taken by the server", failures);
    bool onceEach = accepted.size() == jobs;
    for (auto it = accepted.cbegin(); it != accepted.cend(); ++it)
        onceEach = onceEach && it.value() == 1;
    check(onceEach, "every mail was accepted by the server exactly once", failures);
    int lost = 0;
    int duplicates = 0;
    for (int n = 1; n <= jobs; ++n) {
        const int times = accepted.value("soak-" + QByteArray::number(n));
        lost += times == 0;
        duplicates += times > 1 ? times - 1 : 0;
    }

    Store reloaded(programFolder);
    const Store::LoadReport report = reloaded.loadAtStartup();
    check(reloaded.tables() == tables, "the store on disk loads back to the same folders and records", failures);
    check(report.problems.isEmpty() && noBadFiles(programFolder), "no damaged file", failures);
    out << "mails lost: " << lost << ", duplicates: " << duplicates << ", marked unclear and taken: " << unclearTaken
        << Qt::endl;
    out << (failures == 0 ? "soak passed" : "soak FAILED") << Qt::endl;
    return failures == 0 ? 0 : 1;
}

int runKills(int rounds, quint32 seed)
{
    const Folders folders;
    const QString& programFolder = folders.program;
    const QString& watchFolder = folders.watch;
    const QString& jobFolder = folders.jobs;

    test::FaultySmtpServer server(seed, /*faultPercent=*/0);
    if (!server.listen())
        return 2;
    const int jobs = rounds * 3;
    writeJobs(jobFolder, 1, jobs);
    {
        Store store(programFolder);
        store.loadAtStartup();
        store.settings() = test::localSettings(watchFolder, server.port());
        if (!store.SaveAll())
            return 2;
    }

    QRandomGenerator random(seed);
    const QString child = QCoreApplication::applicationDirPath() + QStringLiteral("/engine_child");
    int killed = 0;
    for (int round = 0; round <= rounds; ++round) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(child, {programFolder, QStringLiteral("0"), QString::number(ConversationMs)});
        if (!process.waitForStarted(5000))
            return 2;
        const bool last = round == rounds;
        // The last run is left to finish the jobs; every other one dies at a random moment.
        const int lifeMs = last ? 0 : int(random.bounded(20, 400));
        runUntil([&] { return last ? jobFilesLeft(jobFolder) == 0 : false; }, last ? 60000 : lifeMs);
        if (last)
            runUntil([] { return false; }, 300); // let the last mail be filed
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
        killed += last ? 0 : 1;
    }

    Store store(programFolder);
    const Store::LoadReport report = store.loadAtStartup();
    const MailTables& tables = store.tables();
    QSet<QByteArray> mailed;
    for (qint16 id = 1; id <= tables.MailCount(); ++id)
        mailed.insert(subjectNumber(tables.mail(id).Subject));
    int lost = 0;
    for (int n = 1; n <= jobs; ++n) {
        const QString name = jobFolder + QStringLiteral("/job%1.zub").arg(n, 5, 10, QLatin1Char('0'));
        lost += !mailed.contains(QByteArray::number(n)) && !QFile::exists(name);
    }
    int duplicates = 0;
    const QHash<QByteArray, int> accepted = server.acceptedSubjects();
    for (auto it = accepted.cbegin(); it != accepted.cend(); ++it)
        duplicates += it.value() > 1 ? it.value() - 1 : 0;
    // A mail the server took must never look unsent: its status is MSGSENT, or ERRMessage9 when a kill
    // came between the message and its filing.
    int unclear = 0;
    int acceptedButFailed = 0;
    for (qint16 id = 1; id <= tables.MailCount(); ++id) {
        const MailRecord& mail = tables.mail(id);
        unclear += mail.Status == DeliveryUnclear;
        acceptedButFailed +=
            accepted.value(mail.Subject) > 0 && mail.Status != MsgSent && mail.Status != DeliveryUnclear;
    }

    out << "kill: " << killed << " kills survived, " << jobs << " jobs, " << tables.MailCount() << " mails, "
        << accepted.size() << " accepted, " << jobFilesLeft(jobFolder) << " job files left" << Qt::endl;
    out << "mails lost: " << lost << ", duplicates: " << duplicates << ", unclear (ERRMessage9): " << unclear
        << Qt::endl;
    int failures = 0;
    check(lost == 0, "every job is a mail or still a job file", failures);
    check(acceptedButFailed == 0, "no accepted mail is filed as a plain failure", failures);
    check(duplicates == 0, "nothing was accepted twice", failures);
    check(report.problems.isEmpty() && noBadFiles(programFolder), "the store loads with no damaged file", failures);
    out << (failures == 0 ? "kill test passed" : "kill test FAILED") << Qt::endl;
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool kill = !args.isEmpty() && args.first() == QStringLiteral("--kill");
    if (kill)
        args.removeFirst();
    const int count = args.value(0, kill ? QStringLiteral("20") : QStringLiteral("500")).toInt();
    const quint32 seed = args.value(1, QStringLiteral("20261206")).toUInt();
    return kill ? runKills(count, seed) : runSoak(count, seed);
}
