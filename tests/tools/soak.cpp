// Soak and kill runs against a faulty local SMTP server; exit code 0 when every check holds, figures on stdout.
// soak [jobs] [seed]: the engine here takes the jobs, then resends the failed folder till none is lost or doubled.
// soak --retry [jobs] [seed]: the same with automatic retry on (a 5 ms schedule minute) before the user's resends.
// soak --kill [rounds] [seed]: an engine child process is killed at random moments and started again.

#include "store/MailAttachments.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"
#include "support/EngineBench.h"
#include "support/FaultySmtpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>

#include <csignal>
#include <fstream>

using namespace kadmel;

namespace {

QTextStream out(stdout);
constexpr int ConversationMs = 400;

// The bench's folders with `count` numbered jobs waiting, a CP850 "ü" in each body: it must travel as Windows-1252.
struct Folders : test::EngineBench
{
    // The subject of job n, its file named after it.
    static QByteArray subject(int n) { return "soak-" + QByteArray::number(n); }
    Folders(int count, quint16 port, const EngineTimings& engineTimings) : EngineBench(port, engineTimings)
    {
        QDir().mkpath(QFile::decodeName(QFile::encodeName(dir.path()) + "/anhaenge"));
        for (int n = 1; n <= count; ++n) {
            const QByteArray body = "Hallo Gr\x81\xE1 " + QByteArray::number(n) + "\r\n";
            if (n % 3 != 0) {
                writeJob(subject(n) + ".zub", subject(n), body);
                continue;
            }
            // Every third job carries a file, which the intake copies into the store before the job goes.
            std::ofstream(attachmentPath(n).constData(), std::ios::binary) << attachment(n).toStdString();
            writeRawJob(subject(n) + ".zub", "@@FR alice@example.com\r\n@@TO bob@example.com\r\n@@AN " +
                                                 attachmentPath(n) + "\r\n@@SB " + subject(n) + "@@\r\n\r\n" + body);
        }
    }
    QByteArray attachmentPath(int n) const
    {
        return QFile::encodeName(dir.path()) + "/anhaenge/" + subject(n) + ".pdf";
    }
    static QByteArray attachment(int n) { return "%PDF-1.4\n" + QByteArray(6 << 20, char('a' + n % 26)) + "\n%%EOF\n"; }
    // Every mail's copies hold its file's bytes, and the store keeps no copy that no mail names.
    bool attachmentsAgree(const MailTables& tables) const
    {
        int named = 0;
        for (qint16 id = 1; id <= tables.MailCount(); ++id) {
            const MailRecord& mail = tables.mail(id);
            const int n = mail.Subject.mid(5).toInt();
            const int count = int(extrasOf(mail).attachments.size());
            QByteArray bytes;
            if (count != (n % 3 == 0 ? 1 : 0) ||
                (count == 1 && (!readAttachment(program, mail, 0, bytes, nullptr) || bytes != attachment(n))))
                return false;
            named += count;
        }
        return QDir(program + QStringLiteral("/Anhaenge")).entryList(QDir::Files).size() == named;
    }
    int jobsLeft() const { return int(QDir(QFile::decodeName(jobs), QStringLiteral("*.zub")).count()); }
    // Loads the store as the next start would; true when it holds no damaged file.
    bool loadsClean(Store& again) const
    {
        return again.loadAtStartup().problems.isEmpty() &&
               QDir(program).entryList({QStringLiteral("*.bad")}).isEmpty() &&
               QDir(program + QStringLiteral("/Mails")).entryList({QStringLiteral("*.bad")}).isEmpty();
    }
};

int failures = 0;
void check(bool condition, const char* what)
{
    out << (condition ? "  ok    " : "  FAIL  ") << what << Qt::endl;
    failures += condition ? 0 : 1;
}

// Jobs the server never took, and takes beyond the first.
std::pair<int, int> lostAndDuplicates(const QHash<QByteArray, int>& accepted, int jobs)
{
    int lost = 0, duplicates = 0;
    for (int n = 1; n <= jobs; ++n) {
        const int times = accepted.value(Folders::subject(n));
        lost += times == 0;
        duplicates += std::max(times - 1, 0);
    }
    return {lost, duplicates};
}

int runSoak(int jobs, quint32 seed, bool retry)
{
    test::FaultySmtpServer server(seed);
    if (!server.listen())
        return 2;
    Folders folders(jobs, server.port(),
                    {.pollMs = 0, .minJobAgeMs = 0, .smtp = {2000, ConversationMs}, .retryMinuteMs = 5});
    if (retry && !test::saveIni(folders.program, {.retry = true}))
        return 2;
    Dispatcher& dispatcher = folders.restart();
    const test::RecordingView& view = folders.view;
    const MailTables& tables = folders.store.tables();
    const int timeoutMs = jobs * (ConversationMs + 500) + 10000;

    QElapsedTimer clock;
    clock.start();
    // A mail's first filing is its job's attempt; any later one is a retry (IDs stay, nothing is removed here).
    QHash<qint16, int> filings;
    int failedAtFirst = 0, retries = 0, deliveredByRetry = 0;
    const auto counting = QObject::connect(&dispatcher, &Dispatcher::mailFiled, [&](qint16 id, bool sent) {
        const bool first = filings[id]++ == 0;
        failedAtFirst += first && !sent;
        retries += !first;
        deliveredByRetry += !first && sent;
    });
    dispatcher.StartProcessing();
    const bool intake = QTest::qWaitFor([&] { return folders.jobsLeft() == 0 && dispatcher.IdleFlag(); }, timeoutMs);
    // With retry on the engine goes on by itself until no mail waits for a next attempt.
    const bool retriesDone =
        !retry || QTest::qWaitFor([&] { return view.retryTimes.isEmpty() && dispatcher.IdleFlag(); }, timeoutMs);
    dispatcher.StopProcessing();
    QObject::disconnect(counting);
    const qint16 failedAfterIntake = tables.count(FailedFolder);

    int rounds = 0, unclear = 0;
    while (tables.count(FailedFolder) > 0 && rounds++ < 100 + jobs) {
        // "Alle Senden" leaves mails that may have been delivered. Once only those are left the server is
        // asked, as a user would: one it never took is sent on its own, one it took stays where it is.
        const QList<qint16> failed = tables.folder(FailedFolder).entries();
        const auto notTaken = std::find_if(failed.cbegin(), failed.cend(), [&](qint16 id) {
            return server.acceptedSubjects().value(tables.mail(id).Subject) == 0;
        });
        const bool onlyUnclear = std::all_of(failed.cbegin(), failed.cend(), [&](qint16 id) {
            return isResult(tables.mail(id).Status, ResultCode::DeliveryUnclear);
        });
        if (onlyUnclear && notTaken == failed.cend())
            break;
        QSignalSpy finished(&dispatcher, &Dispatcher::resendFinished);
        unclear += onlyUnclear;
        if (onlyUnclear)
            dispatcher.resend(FailedFolder, qint16(notTaken - failed.cbegin() + 1));
        else
            dispatcher.resendAllFailed();
        (void)(!finished.isEmpty() || finished.wait(timeoutMs)); // one that never ends shows in the checks
    }

    const QHash<QByteArray, int> accepted = server.acceptedSubjects();
    QSet<QByteArray> subjects;
    int unclearTaken = 0;
    for (qint16 id = 1; id <= tables.MailCount(); ++id) {
        const MailRecord& mail = tables.mail(id);
        subjects.insert(mail.Subject);
        unclearTaken += isResult(mail.Status, ResultCode::DeliveryUnclear) && accepted.value(mail.Subject) == 1;
    }
    const auto [lost, duplicates] = lostAndDuplicates(accepted, jobs);
    out << "soak: " << jobs << " jobs, seed " << seed << ", " << clock.elapsed() << " ms, " << failedAtFirst
        << " failed at first";
    if (retry)
        out << ", " << retries << " automatic retries delivered " << deliveredByRetry;
    out << ", " << failedAfterIntake << " left for the user, " << rounds << " resend rounds, " << unclear
        << " unclear mails resent after asking the server\nfaults injected: " << server.faultSummary()
        << "\nmails lost: " << lost << ", duplicates: " << duplicates << ", marked unclear and taken: " << unclearTaken
        << Qt::endl;
    check(intake && folders.jobsLeft() == 0, "every job was taken");
    if (retry)
        check(retriesDone && deliveredByRetry > 0, "the engine sent mails again by itself until none waited");
    check(tables.MailCount() == jobs && subjects.size() == jobs, "every job became exactly one mail");
    check(tables.count(SentFolder) + unclearTaken == jobs,
          "every mail is in the sent folder, or marked unclear and taken by the server");
    check(lost == 0 && duplicates == 0, "every mail was accepted by the server exactly once");
    Store reloaded(folders.program);
    check(folders.loadsClean(reloaded), "no damaged file");
    check(reloaded.tables() == tables, "the store on disk loads back to the same folders and records");
    check(folders.attachmentsAgree(tables), "the attachment copies and the mails agree");
    return failures > 0;
}

int runKills(int rounds, quint32 seed)
{
    const int jobs = rounds * 3;
    test::FaultySmtpServer server(seed, /*faultPercent=*/0);
    if (!server.listen())
        return 2;
    Folders folders(jobs, server.port(), {});
    if (!folders.store.SaveAll())
        return 2;
    QRandomGenerator random(seed);
    const QString child = QCoreApplication::applicationDirPath() + QStringLiteral("/engine_child");
    for (int round = 0; round <= rounds; ++round) {
        // Every other run is paced without a limit: its jobs go back to back over kept connections, so a kill
        // comes in the middle of one.
        QFile ini(folders.program + QStringLiteral("/kadmel.ini"));
        if (!ini.open(QIODevice::WriteOnly) || ini.write(round % 2 ? "[Zustellung]\r\nMailsProMinute=0\r\n" : "") < 0)
            return 2;
        ini.close();
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(child, {folders.program, QStringLiteral("0"), QString::number(ConversationMs)});
        if (!process.waitForStarted(5000))
            return 2;
        // The last run finishes the jobs and files the last mail; every other one dies at a random moment.
        if (round < rounds)
            QTest::qWait(int(random.bounded(20, 400)));
        else if (QTest::qWaitFor([&] { return folders.jobsLeft() == 0; }, 60000))
            QTest::qWait(300);
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
    }

    Store store(folders.program);
    const bool clean = folders.loadsClean(store);
    const MailTables& tables = store.tables();
    const QHash<QByteArray, int> accepted = server.acceptedSubjects();
    QSet<QByteArray> mailed;
    int unclear = 0, acceptedButFailed = 0;
    for (qint16 id = 1; id <= tables.MailCount(); ++id) {
        const MailRecord& mail = tables.mail(id);
        mailed.insert(mail.Subject);
        unclear += isResult(mail.Status, ResultCode::DeliveryUnclear);
        // A mail the server took never looks unsent: MSGSENT, or ERRMessage9 if a kill came before its filing.
        acceptedButFailed += accepted.value(mail.Subject) > 0 && !isResult(mail.Status, ResultCode::Sent) &&
                             !isResult(mail.Status, ResultCode::DeliveryUnclear);
    }
    int lost = 0;
    for (int n = 1; n <= jobs; ++n)
        lost += !mailed.contains(Folders::subject(n)) && !folders.jobExists(Folders::subject(n) + ".zub");
    const int duplicates = lostAndDuplicates(accepted, jobs).second;

    out << "kill: " << rounds << " kills survived, " << jobs << " jobs, " << tables.MailCount() << " mails, "
        << accepted.size() << " accepted, " << folders.jobsLeft() << " job files left\nmails lost: " << lost
        << ", duplicates: " << duplicates << ", unclear (ERRMessage9): " << unclear
        << ", jobs filed as two mails: " << tables.MailCount() - mailed.size() << Qt::endl;
    check(lost == 0, "every job is a mail or still a job file");
    check(tables.MailCount() == mailed.size(), "no job became two mails");
    check(acceptedButFailed == 0, "no accepted mail is filed as a plain failure");
    check(duplicates == 0, "nothing was accepted twice");
    check(clean, "the store loads with no damaged file");
    check(folders.attachmentsAgree(tables), "the attachment copies and the mails agree");
    return failures > 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool kill = args.value(0) == QStringLiteral("--kill"), retry = args.value(0) == QStringLiteral("--retry");
    if (kill || retry)
        args.removeFirst();
    const int count = args.value(0, kill ? QStringLiteral("20") : QStringLiteral("500")).toInt();
    const quint32 seed = args.value(1, QStringLiteral("20261206")).toUInt();
    const int result = kill ? runKills(count, seed) : runSoak(count, seed, retry); // 2: no run at all
    if (result < 2)
        out << (kill ? "kill test" : "soak") << (result == 0 ? " passed" : " FAILED") << Qt::endl;
    return result;
}
