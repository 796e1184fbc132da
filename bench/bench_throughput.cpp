// A month's jobs at once: 2,000 small jobs from the job folder to a local aiosmtpd sink, paced without a
// limit, side by side with one connection per mail and with a bare session reusing one connection (the
// floor); then 100 jobs at 600 mails a minute, which must take 9.9 to 11 s.
#include "engine/Dispatcher.h"
#include "engine/HtmlBody.h"
#include "smtp/SmtpSession.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"
#include "support/SmtpSink.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using namespace kadmel;

namespace {

constexpr int Jobs = 2000;

qint64 peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

qint64 rssKiB()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    return status.readAll().split(' ').value(1).toLongLong() * 4;
}

// The longest time the event loop was held from a 5 ms timer: what a window would have stalled.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_clock.restart() - 5); });
        m_clock.start();
        m_timer.start();
    }
    qint64 longestMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

struct Run
{
    qint64 ms = 0;
    int mails = 0;
    qint64 stallMs = 0;
    qint64 rssBeforeKiB = 0;
    qint64 rssAfterKiB = 0;
};

// `count` jobs through the engine, kadmel.ini's [Zustellung] holding `delivery`, the folders below `base`.
Run engineRun(const QString& base, quint16 port, int count, const QByteArray& delivery)
{
    QTemporaryDir dir(base + QStringLiteral("/kadmel-bench-XXXXXX"));
    const QString program = dir.path() + QStringLiteral("/program");
    const QString jobFolder = dir.path() + QStringLiteral("/watch/KDMEML/");
    QDir().mkpath(jobFolder);
    QDir().mkpath(program);
    Store store(program);
    store.loadAtStartup();
    store.settings() = test::localSettings(dir.path() + QStringLiteral("/watch"), port);
    store.SaveAll();
    QFile ini(program + QStringLiteral("/kadmel.ini"));
    if (!ini.open(QIODevice::Append))
        return {};
    ini.write("\r\n[Zustellung]\r\n" + delivery);
    ini.close();
    store.kadmelIni().read();

    for (int n = 0; n < count; ++n) {
        QFile job(jobFolder + QStringLiteral("job%1.zub").arg(n, 5, 10, QLatin1Char('0')));
        if (!job.open(QIODevice::WriteOnly))
            return {};
        job.write("@@FR Buchhaltung <bench@example.com>\r\n@@TO rcpt@example.com\r\n@@SB Rechnung " +
                  QByteArray::number(n) + "\r\n@@\r\n\r\nSehr geehrte Damen und Herren,\r\nanbei 100 \xD5 netto.\r\n");
    }
    test::RecordingView view;
    EngineTimings timings;
    timings.minJobAgeMs = 0;
    Dispatcher dispatcher(store, view, timings);
    Run run;
    run.rssBeforeKiB = rssKiB();
    QEventLoop loop;
    QObject::connect(&dispatcher, &Dispatcher::mailFiled, &loop, [&](qint16, bool sent) {
        run.mails += sent;
        if (store.tables().count(SentFolder) + store.tables().count(FailedFolder) == count)
            loop.quit();
    });
    QTimer::singleShot(30 * 60 * 1000, &loop, &QEventLoop::quit);
    StallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    dispatcher.StartProcessing();
    loop.exec();
    run.ms = clock.elapsed();
    run.stallMs = stalls.longestMs();
    dispatcher.StopProcessing();
    run.rssAfterKiB = rssKiB();
    return run;
}

// The floor: one bare session carrying every mail over one connection.
Run sessionRun(quint16 port, int count)
{
    SmtpServer server;
    server.SMTPserver = "127.0.0.1";
    server.SMTPPort = static_cast<qint16>(port);
    SmtpMail mail;
    mail.MailSenderEMail = "bench@example.com";
    mail.MailRecipientEMail = "rcpt@example.com";
    mail.MailSubject = "Rechnung";
    mail.MailBody = ComposeHtmlBody("Sehr geehrte Damen und Herren,\r\nanbei 100 \x80 netto.\r\n");
    const SmtpTransaction transaction{envelopeOf(mail), ComposeMessage(mail, QDateTime::currentDateTime())};
    SmtpSession session;
    Run run;
    QEventLoop loop;
    QObject::connect(&session, &SmtpSession::transactionDone, &loop,
                     [&](const DeliveryOutcome& outcome) { run.mails += outcome.sent(); });
    QObject::connect(&session, &SmtpSession::closed, &loop, &QEventLoop::quit);
    StallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    session.open(server);
    for (int n = 0; n < count; ++n)
        session.send(transaction);
    session.quit();
    loop.exec();
    run.ms = clock.elapsed();
    run.stallMs = stalls.longestMs();
    return run;
}

void print(const char* what, const Run& run)
{
    std::printf("%-50s %5d mails in %7.2f s, %7.1f mails/s, longest stall %3lld ms", what, run.mails,
                double(run.ms) / 1000, run.ms > 0 ? run.mails * 1000.0 / double(run.ms) : 0.0,
                static_cast<long long>(run.stallMs));
    if (run.rssBeforeKiB > 0)
        std::printf(", memory %lld -> %lld KiB", static_cast<long long>(run.rssBeforeKiB),
                    static_cast<long long>(run.rssAfterKiB));
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    test::SmtpSink sink;
    if (!sink.isRunning()) {
        std::printf("aiosmtpd sink did not start: %s\n", qPrintable(sink.errorString()));
        return 1;
    }
    // Each mail costs some eight synced file writes; on this machine's disk the file system's own work for them
    // dominates, so the same runs in memory show the program's.
    const QString disk = QDir::tempPath();
    const QString memory = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : disk;
    for (const QString& base : {disk, memory}) {
        std::printf("store in %s:\n", qPrintable(base));
        print("  engine, paced without limit, reused", engineRun(base, sink.port(), Jobs, "MailsProMinute=0\r\n"));
        print("  engine, paced without limit, 1 per connection",
              engineRun(base, sink.port(), Jobs, "MailsProMinute=0\r\nMailsProVerbindung=1\r\n"));
    }
    print("bare session, one connection (floor)", sessionRun(sink.port(), Jobs));
    const Run paced = engineRun(disk, sink.port(), 100, "MailsProMinute=600\r\n");
    print("engine, MailsProMinute=600, 100 jobs", paced);
    std::printf("peak memory of the whole run: %lld KiB; 600 a minute %s (9.9 to 11 s)\n",
                static_cast<long long>(peakRssKiB()), paced.ms >= 9900 && paced.ms <= 11000 ? "met" : "MISSED");
    return 0;
}
