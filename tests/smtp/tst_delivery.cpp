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

SmtpMail umlautMail()
{
    SmtpMail mail;
    mail.MailSenderEMail = "versand@example.com";
    mail.MailRecipientEMail = "kunde@example.org";
    mail.MailSubject = "Rechnung f\xFCr M\xE4rz";
    // Long enough for several Base64 lines, with umlauts as single Windows-1252 bytes.
    mail.MailBody = ComposeHtmlBody(QByteArray("Gr\xFC\xDF"
                                               "e  aus K\xF6ln\r\n sch\xF6ne Zeit\r\n")
                                        .repeated(8));
    mail.MailID = 42;
    return mail;
}

bool deliver(const SmtpSink& sink, const SmtpServer& base, const SmtpMail& mail, SmtpLog* log = nullptr)
{
    SmtpServer server = base;
    server.SMTPserver = "127.0.0.1";
    server.SMTPPort = qint16(sink.port());
    ZUB_SMTP client;
    client.setServer(server);
    client.setMail(mail);
    QSignalSpy finished(&client, &ZUB_SMTP::finished);
    if (!client.SendMail() || !finished.wait(10000))
        return false;
    if (log)
        *log = client.CurrentLog();
    return finished.at(0).at(0).toBool();
}

// Checks what the server saw against what the client composed, line by line.
void checkReceived(const ReceivedMail& got, const SmtpMail& mail)
{
    QCOMPARE(got.mailFrom, mail.MailSenderEMail);
    QCOMPARE(got.rcptTos, QList<QByteArray>{mail.MailRecipientEMail});
    const qsizetype headerEnd = got.content.indexOf("\r\n\r\n");
    QVERIFY(headerEnd > 0);
    const QList<QByteArray> header = got.content.left(headerEnd).split('\n');
    QCOMPARE(header.size(), 8);
    QCOMPARE(header[0], QByteArray("From:  <versand@example.com>\r"));
    QCOMPARE(header[1], QByteArray("To:  <kunde@example.org>\r"));
    QVERIFY(QRegularExpression(QStringLiteral("^Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d "
                                              "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} "
                                              "\\d\\d:\\d\\d:\\d\\d\\r$"))
                .match(QString::fromLatin1(header[2]))
                .hasMatch());
    QCOMPARE(header[3], "Subject: " + mail.MailSubject + "\r");
    QCOMPARE(header[4], QByteArray("X-Mailer: Kadmel Mail System v3.0\r"));
    QCOMPARE(header[5], QByteArray("MIME-Version: 1.0\r"));
    QCOMPARE(header[6], QByteArray("Content-Type: text/html; charset=\"us-ascii\"\r"));
    QCOMPARE(header[7], QByteArray("Content-Transfer-Encoding: base64"));

    // The server keeps the CR LF in front of the final dot: body, CR LF, blank line.
    QByteArray body = got.content.mid(headerEnd + 4);
    QVERIFY(body.endsWith("\r\n\r\n"));
    body.chop(4);
    const QList<QByteArray> lines = body.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        QCOMPARE(lines[i].size(), 75); // 74 characters and the CR
    QVERIFY(lines.last().size() <= 74);
    QCOMPARE(QByteArray::fromBase64(QByteArray(body).replace("\r\n", "")), mail.MailBody);
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
        const SmtpMail mail = umlautMail();
        SmtpLog log;
        QVERIFY(deliver(sink, SmtpServer{{}, 0, "nutzer", "pw", false}, mail, &log));
        const QList<ReceivedMail> got = sink.messages();
        QCOMPARE(got.size(), 1);
        checkReceived(got[0], mail);
        QCOMPARE(got[0].login, QByteArray());
        QCOMPARE(log.Sent.first(), QByteArray("EHLO 127.0.0.1\r\n"));
        QCOMPARE(log.Sent.at(1), QByteArray("MAIL FROM: <versand@example.com>\r\n"));
        QCOMPARE(log.Sent.size(), 7);
    }

    void deliversWithAuthLogin()
    {
        const QByteArray user = " K\xE4the ";
        const QByteArray password = "g\xFCltig 12";
        SmtpSink sink(user, password);
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        const SmtpMail mail = umlautMail();

        QVERIFY(!deliver(sink, SmtpServer{{}, 0, user, "falsch", true}, mail));
        QVERIFY(!deliver(sink, SmtpServer{{}, 0, user, password, false}, mail)); // no AUTH: refused
        QCOMPARE(sink.messages().size(), 0);

        SmtpLog log;
        QVERIFY(deliver(sink, SmtpServer{{}, 0, user, password, true}, mail, &log));
        const QList<ReceivedMail> got = sink.messages();
        QCOMPARE(got.size(), 1);
        checkReceived(got[0], mail);
        QCOMPARE(got[0].login, user);
        QCOMPARE(got[0].password, password);
        QVERIFY(!log.Sent.join().contains(Encode(password)));
        QCOMPARE(log.Sent.at(3), QByteArray("****\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestDelivery)
#include "tst_delivery.moc"
