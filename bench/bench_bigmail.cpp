// Peak memory of the biggest ordinary mails: a job of 20 MiB of text lines through the engine to a local
// aiosmtpd server, filed and saved, then the store loaded back as at the next start. Each size runs in
// a process of its own, so the peak (VmHWM) is that mail's alone. A 10 ms timer beside the engine
// measures the longest time the event loop (the window, in the program) was held up by the mail.
#include "engine/Dispatcher.h"
#include "store/FileAccess.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"
#include "support/SmtpSink.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace kadmel;

namespace {

// The process's peak resident memory so far, in MiB.
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return -1;
}

// One job of `mib` MiB through the engine and back from disk; prints one line, returns the exit code.
int runOne(int mib, quint16 port)
{
    QTemporaryDir dir;
    const QString jobFolder = dir.path() + QStringLiteral("/watch/KDMEML/");
    QDir().mkpath(jobFolder);
    QDir().mkpath(dir.path() + QStringLiteral("/program"));
    const qint64 bodyBytes = qint64(mib) << 20;
    {
        QFile job(jobFolder + QStringLiteral("gross.zub"));
        if (!job.open(QIODevice::WriteOnly))
            return 1;
        job.write("@@FR bench@example.com@@TO rcpt@example.com@@SB Gro\xE1"
                  "e Lieferung@@\r\n\r\n");
        for (qint64 line = 0, written = 0; written < bodyBytes; ++line)
            written += job.write("Position " + QByteArray::number(line) + ": Lieferung  nach Bonn, je 3,50 EUR\r\n");
    }
    const double before = peakMiB();

    QElapsedTimer clock;
    clock.start();
    bool sent = false;
    qint64 longestStallMs = 0;
    {
        Store store(dir.path() + QStringLiteral("/program"));
        store.loadAtStartup();
        store.settings() = test::localSettings(dir.path() + QStringLiteral("/watch"), port);
        // A 20 MiB text is some 28 MB in Base64: over the default limit of kadmel.ini.
        if (!test::saveIni(dir.path() + QStringLiteral("/program"), {.maxMessageMB = 100}))
            return 1;
        EngineTimings timings;
        timings.pollMs = 0;
        timings.minJobAgeMs = 0;
        test::RecordingView view;
        Dispatcher dispatcher(store, view, timings);
        QEventLoop loop;
        QObject::connect(&dispatcher, &Dispatcher::mailFiled, &loop, [&](qint16, bool ok) {
            sent = ok;
            loop.quit();
        });
        QTimer::singleShot(300000, &loop, &QEventLoop::quit);
        QTimer beat;
        beat.setTimerType(Qt::PreciseTimer);
        QElapsedTimer sinceBeat;
        QObject::connect(&beat, &QTimer::timeout, &loop,
                         [&] { longestStallMs = qMax(longestStallMs, sinceBeat.restart()); });
        dispatcher.StartProcessing();
        sinceBeat.start();
        beat.start(10);
        loop.exec();
        dispatcher.StopProcessing();
    }
    const double sendMs = double(clock.elapsed());
    const qint64 fileBytes = QFileInfo(dir.path() + QStringLiteral("/program/Mails/Mail(1).zub")).size();

    clock.start();
    Store reloaded(dir.path() + QStringLiteral("/program"));
    reloaded.loadAtStartup();
    const bool intact = reloaded.tables().MailCount() == 1 && reloaded.tables().mail(1).Body.size() >= bodyBytes &&
                        reloaded.tables().mail(1).Status == "MSGSENT";
    std::printf("big mail: %d MiB text job %s in %.1f s, mail file %.1f MiB (limit %lld MiB), loaded back %s in "
                "%.1f s; peak memory %.0f MiB (%.0f MiB before the job); event loop held up %lld ms at most\n",
                mib, sent ? "sent" : "NOT SENT", sendMs / 1000, double(fileBytes) / (1 << 20), MaxMailFileBytes >> 20,
                intact ? "intact" : "DAMAGED", double(clock.elapsed()) / 1000, peakMiB(), before, longestStallMs);
    return sent && intact && peakMiB() < 1024 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 2) {
        test::SmtpSink sink;
        if (!sink.isRunning()) {
            std::printf("aiosmtpd sink did not start: %s\n", qPrintable(sink.errorString()));
            return 1;
        }
        return runOne(QByteArray(argv[1]).toInt(), sink.port());
    }
    for (const int mib : {1, 10, 20}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QString::number(mib)});
        if (!child.waitForFinished(600000) || child.exitCode() != 0)
            return 1;
    }
    return 0;
}
