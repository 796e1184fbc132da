// The dispatcher's own cost per mail: 200 jobs through the engine to a local aiosmtpd server with no
// poll delay, pick-up to filed-and-saved, beside the SMTP session alone for the same mail.
#include "engine/Dispatcher.h"
#include "engine/HtmlBody.h"
#include "smtp/ZUB_SMTP.h"
#include "store/Ansi.h"
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

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kadmel;

namespace {

constexpr int Jobs = 200;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QByteArray body2k()
{
    QByteArray text;
    while (text.size() < 2048)
        text += "Sehr geehrte Damen und Herren,  die Lieferung  ist unterwegs.\r\n";
    text.truncate(2048);
    return text;
}

// Stamps the moment a job is picked up (the dispatcher leaves idle) and the moment it is filed.
class TimingView : public test::RecordingView
{
public:
    QElapsedTimer clock;
    qint64 pickedUpNs = 0;
    void setIdle(bool idle) override
    {
        if (!idle)
            pickedUpNs = clock.nsecsElapsed();
    }
};

struct Figures
{
    double perMail = 0;
    double session = 0;
};

// Takes the jobs through the engine with its program and job folders below `base`.
Figures run(const QString& base, quint16 port)
{
    QTemporaryDir dir(base + QStringLiteral("/kadmel-bench-XXXXXX"));
    const QString jobFolder = dir.path() + QStringLiteral("/watch/KDMEML/");
    QDir().mkpath(jobFolder);
    QDir().mkpath(dir.path() + QStringLiteral("/program"));

    Store store(dir.path() + QStringLiteral("/program"));
    store.loadAtStartup();
    store.settings() = test::localSettings(dir.path() + QStringLiteral("/watch"), port);

    EngineTimings timings;
    timings.pollMs = 0;
    timings.minJobAgeMs = 0;
    TimingView view;
    view.clock.start();
    Dispatcher dispatcher(store, view, timings);

    const QByteArray body = body2k();
    for (int n = 0; n < Jobs; ++n) {
        QFile job(jobFolder + QStringLiteral("job%1.zub").arg(n, 4, 10, QLatin1Char('0')));
        if (!job.open(QIODevice::WriteOnly))
            return {};
        job.write("@@FR bench@example.com@@TO rcpt@example.com@@SB Lieferung " + QByteArray::number(n) + "@@\r\n\r\n" +
                  body);
    }

    std::vector<double> perMail;
    QEventLoop loop;
    QObject::connect(&dispatcher, &Dispatcher::mailFiled, &loop, [&] {
        perMail.push_back(double(view.clock.nsecsElapsed() - view.pickedUpNs) / 1e6);
        if (int(perMail.size()) == Jobs)
            loop.quit();
    });
    dispatcher.StartProcessing();
    loop.exec();
    dispatcher.StopProcessing();

    // The session alone, for the same page, on a client of its own.
    ZUB_SMTP client;
    SmtpServer server;
    server.SMTPserver = "127.0.0.1";
    server.SMTPPort = static_cast<qint16>(port);
    client.setServer(server);
    SmtpMail mail;
    mail.MailSenderEMail = "bench@example.com";
    mail.MailRecipientEMail = "rcpt@example.com";
    mail.MailSubject = "Lieferung";
    mail.MailBody = ComposeHtmlBody(body);
    client.setMail(mail);
    std::vector<double> sessions;
    QElapsedTimer clock;
    QObject::connect(&client, &ZUB_SMTP::finished, &loop, [&] {
        sessions.push_back(double(clock.nsecsElapsed()) / 1e6);
        loop.quit();
    });
    for (int n = 0; n < Jobs; ++n) {
        clock.start();
        client.SendMail();
        loop.exec();
    }
    return {median(perMail), median(sessions)};
}

void print(const char* where, const Figures& figures)
{
    std::printf("engine (%s): %d jobs of 2 KB, pick-up to filed and saved: median %.2f ms, session alone %.2f ms,"
                " dispatcher overhead %.2f ms\n",
                where, Jobs, figures.perMail, figures.session, figures.perMail - figures.session);
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
    // Each mail costs four atomic, synced file writes (mail and index before the send, both after it);
    // on disk they dominate, so the same run in memory shows the dispatcher's own work.
    print("store on disk", run(QDir::tempPath(), sink.port()));
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        print("store in memory, /dev/shm", run(QStringLiteral("/dev/shm"), sink.port()));
    return 0;
}
