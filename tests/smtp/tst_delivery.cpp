#include "engine/HtmlBody.h"
#include "smtp/Base64.h"
#include "smtp/ZUB_SMTP.h"
#include "support/SmtpSink.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace kadmel;
using kadmel::test::ReceivedMail;
using kadmel::test::SmtpSink;

namespace {

// Several Base64 lines, umlauts as single Windows-1252 bytes in subject and body.
const SmtpMail Mail{{},
                    "versand@example.com",
                    {},
                    "kunde@example.org",
                    "Rechnung f\xFCr M\xE4rz",
                    ComposeHtmlBody(QByteArray("Gr\xFC\xDF"
                                               "e  aus K\xF6ln\r\n sch\xF6n\r\n")
                                        .repeated(8)),
                    42};

// Sends Mail to the sink; the outcome and the client's log.
bool deliver(const SmtpSink& sink, QByteArray user, QByteArray password, bool auth, SmtpLog* log = nullptr)
{
    ZUB_SMTP client;
    client.setServer(SmtpServer{"127.0.0.1", qint16(sink.port()), user, password, auth});
    client.setMail(Mail);
    QSignalSpy finished(&client, &ZUB_SMTP::finished);
    if (!client.SendMail() || !finished.wait(10000))
        return false;
    if (log)
        *log = client.CurrentLog();
    return finished.at(0).at(0).toBool();
}

void checkReceived(const ReceivedMail& got)
{
    QCOMPARE(got.mailFrom, Mail.MailSenderEMail);
    QCOMPARE(got.rcptTos, QList<QByteArray>{Mail.MailRecipientEMail});
    const qsizetype headerEnd = got.content.indexOf("\r\n\r\n");
    const QList<QByteArray> header = got.content.left(headerEnd).split('\n');
    QCOMPARE(header.size(), 8);
    QCOMPARE(header.mid(0, 2), (QList<QByteArray>{"From:  <versand@example.com>\r", "To:  <kunde@example.org>\r"}));
    const QRegularExpression date(
        QStringLiteral("^Date: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d\\r$"));
    QVERIFY(date.match(QString::fromLatin1(header[2])).hasMatch());
    QCOMPARE(header.mid(3),
             (QList<QByteArray>{"Subject: Rechnung f\xFCr M\xE4rz\r", "X-Mailer: Kadmel Mail System v3.0\r",
                                "MIME-Version: 1.0\r", "Content-Type: text/html; charset=\"us-ascii\"\r",
                                "Content-Transfer-Encoding: base64"}));

    // The server keeps the CR LF in front of the final dot: body, CR LF, blank line.
    QByteArray body = got.content.mid(headerEnd + 4);
    QVERIFY(body.endsWith("\r\n\r\n"));
    body.chop(4);
    const QList<QByteArray> lines = body.split('\n');
    QVERIFY(lines.size() > 3);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        QCOMPARE(lines[i].size(), 75); // 74 characters and the CR
    QCOMPARE(QByteArray::fromBase64(body.replace("\r\n", "")), Mail.MailBody);
}

} // namespace

class TestDelivery : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void deliversWithoutAuthentication()
    {
        SmtpSink sink;
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        QVERIFY(deliver(sink, "nutzer", "pw", false));
        QCOMPARE(sink.messages().size(), 1);
        checkReceived(sink.messages().at(0));
        QCOMPARE(sink.messages().at(0).login, QByteArray());
    }

    void deliversWithAuthLogin()
    {
        const QByteArray user = " K\xE4the ", password = "g\xFCltig 12";
        SmtpSink sink(user, password);
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        QVERIFY(!deliver(sink, user, "falsch", true));
        QVERIFY(!deliver(sink, user, password, false)); // the server insists on AUTH
        QCOMPARE(sink.messages().size(), 0);

        SmtpLog log;
        QVERIFY(deliver(sink, user, password, true, &log));
        QCOMPARE(sink.messages().size(), 1);
        const ReceivedMail got = sink.messages().at(0);
        checkReceived(got);
        QCOMPARE(got.login, user);
        QCOMPARE(got.password, password);
        QCOMPARE(log.Sent.at(3), QByteArray("****\r\n"));
        QVERIFY(!log.Sent.join().contains(Encode(password)));
    }
};

QTEST_GUILESS_MAIN(TestDelivery)
#include "tst_delivery.moc"
