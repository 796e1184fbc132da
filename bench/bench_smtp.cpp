// Figures for the message path: Base64, the HTML page and whole deliveries to a local aiosmtpd
// server, beside curl and a minimal blocking client doing the same exchange.
#include "engine/HtmlBody.h"
#include "smtp/Base64.h"
#include "smtp/Message.h"
#include "smtp/ZUB_SMTP.h"
#include "support/SmtpSink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace kadmel;

namespace {

constexpr int Deliveries = 200;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median time of `runs` calls in milliseconds.
double timeIt(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

QByteArray textWithSpaceRuns(qsizetype size)
{
    QRandomGenerator random(99);
    QByteArray text;
    text.reserve(size);
    while (text.size() < size) {
        text += QByteArray(int(random.bounded(1, 8)), 'w');
        text += QByteArray(int(random.bounded(1, 6)), ' ');
        if (random.bounded(10) == 0)
            text += "\r\n ";
    }
    text.truncate(size);
    return text;
}

// The floor: one blocking socket, each command written and its reply read, nothing else.
class MinimalClient
{
public:
    explicit MinimalClient(quint16 port) : m_port(port) {}

    bool deliver(const QByteArray& message)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return false;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && reply(fd, '2') &&
                  command(fd, "EHLO 127.0.0.1\r\n", '2') && command(fd, "MAIL FROM: <a@example.com>\r\n", '2') &&
                  command(fd, "RCPT TO: <b@example.org>\r\n", '2') && command(fd, "DATA\r\n", '3') &&
                  command(fd, message, '2');
        ok = ok && send(fd, "QUIT\r\n");
        ::close(fd);
        return ok;
    }

private:
    static bool send(int fd, const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    // Reads until the last line read is a final reply line ("ddd " or "ddd").
    static bool reply(int fd, char firstDigit)
    {
        QByteArray got;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            got.append(buffer, n);
            if (!got.endsWith('\n'))
                continue;
            const qsizetype lineStart = got.lastIndexOf('\n', got.size() - 2) + 1;
            if (got.size() - lineStart < 4 || got[lineStart + 3] != '-')
                return got[lineStart] == firstDigit;
        }
    }
    static bool command(int fd, const QByteArray& text, char firstDigit)
    {
        return send(fd, text) && reply(fd, firstDigit);
    }

    quint16 m_port;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);

    const QByteArray mebibyte = textWithSpaceRuns(1024 * 1024);
    const double base64Ms = timeIt(21, [&] { (void)Encode(mebibyte); });
    std::printf("Base64 of 1 MiB: %.2f ms (%.0f MiB/s)\n", base64Ms, 1000.0 / base64Ms);

    double htmlMs[3] = {};
    const qsizetype sizes[3] = {16 * 1024, 64 * 1024, 256 * 1024};
    for (int i = 0; i < 3; ++i) {
        const QByteArray text = textWithSpaceRuns(sizes[i]);
        htmlMs[i] = timeIt(31, [&] { (void)ComposeHtmlBody(text); });
        std::printf("HTML page of %lld KiB: %.3f ms\n", static_cast<long long>(sizes[i] / 1024), htmlMs[i]);
    }
    std::printf("HTML page 256 KiB / 16 KiB: %.1f (linear is 16)\n", htmlMs[2] / htmlMs[0]);

    test::SmtpSink sink;
    if (!sink.isRunning()) {
        std::printf("SMTP sink unavailable (%s): delivery figures skipped\n", qPrintable(sink.errorString()));
        return 0;
    }

    SmtpMail mail;
    mail.MailSenderEMail = "a@example.com";
    mail.MailRecipientEMail = "b@example.org";
    mail.MailSubject = "Messung";
    mail.MailBody = ComposeHtmlBody(textWithSpaceRuns(4096));
    mail.MailID = 1;
    const QByteArray message = ComposeMessage(mail, QDateTime::currentDateTime());

    // Our session: mails one after the other, each started when the previous one has finished.
    std::vector<double> sessionMs;
    {
        ZUB_SMTP client;
        client.setServer(SmtpServer{"127.0.0.1", qint16(sink.port()), {}, {}, false});
        client.setMail(mail);
        QElapsedTimer clock;
        int failures = 0;
        QObject::connect(&client, &ZUB_SMTP::finished, &app, [&](const DeliveryOutcome& outcome) {
            sessionMs.push_back(double(clock.nsecsElapsed()) / 1e6);
            failures += outcome.sent() ? 0 : 1;
            if (int(sessionMs.size()) == Deliveries) {
                app.quit();
                return;
            }
            QMetaObject::invokeMethod(
                &client,
                [&] {
                    clock.start();
                    client.SendMail();
                },
                Qt::QueuedConnection);
        });
        clock.start();
        client.SendMail();
        app.exec();
        if (failures)
            std::printf("session: %d of %d deliveries failed\n", failures, Deliveries);
    }
    const double session = median(sessionMs);
    std::printf("ZUB_SMTP delivery, median of %d: %.3f ms\n", Deliveries, session);

    std::vector<double> minimalMs;
    {
        MinimalClient minimal(sink.port());
        for (int i = 0; i < Deliveries; ++i) {
            QElapsedTimer clock;
            clock.start();
            if (!minimal.deliver(message))
                std::printf("minimal client: delivery %d failed\n", i);
            minimalMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
    }
    const double minimal = median(minimalMs);
    std::printf("minimal blocking client, median: %.3f ms (session / minimal: %.2f, target <= 1.5)\n", minimal,
                session / minimal);

    const QString curl = QStringLiteral("/usr/bin/curl");
    if (!QFileInfo(curl).isExecutable()) {
        std::printf("curl figure unavailable: /usr/bin/curl is not installed (Debian package curl)\n");
        return 0;
    }
    QTemporaryDir folder;
    QFile upload(folder.filePath(QStringLiteral("message.eml")));
    if (!upload.open(QIODevice::WriteOnly) || upload.write(message.left(message.size() - 3)) < 0) {
        std::printf("curl figure unavailable: cannot write the message file\n");
        return 0;
    }
    upload.close();
    const QStringList arguments = {QStringLiteral("-s"),
                                   QStringLiteral("smtp://127.0.0.1:%1").arg(sink.port()),
                                   QStringLiteral("--mail-from"),
                                   QStringLiteral("a@example.com"),
                                   QStringLiteral("--mail-rcpt"),
                                   QStringLiteral("b@example.org"),
                                   QStringLiteral("--upload-file"),
                                   upload.fileName()};
    std::vector<double> curlMs;
    for (int i = 0; i < Deliveries; ++i) {
        QElapsedTimer clock;
        clock.start();
        QProcess process;
        process.start(curl, arguments);
        if (!process.waitForFinished(10000) || process.exitCode() != 0)
            std::printf("curl: delivery %d failed\n", i);
        curlMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    const double curlMedian = median(curlMs);
    std::printf("curl delivery, median: %.3f ms (session / curl: %.2f, target <= 1)\n", curlMedian,
                session / curlMedian);
    return 0;
}
