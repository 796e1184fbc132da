#include "engine/HtmlBody.h"
#include "smtp/Message.h"
#include "smtp/ZUB_SMTP.h"
#include "support/SmtpSink.h"

#include <QSignalSpy>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// Several Base64 lines, umlauts as single Windows-1252 bytes in subject and body.
const SmtpMail Mail{{},
                    "versand@example.com",
                    {},
                    "kunde@example.org",
                    "Rechnung f\xFCr M\xE4rz",
                    ComposeHtmlBody(QByteArray("Gr\xFC\xDF  aus K\xF6ln\r\n sch\xF6n\r\n").repeated(8)),
                    42};

bool deliver(const SmtpSink& sink, const QByteArray& user, const QByteArray& password, bool auth)
{
    ZUB_SMTP client;
    client.setServer(SmtpServer{"127.0.0.1", qint16(sink.port()), user, password, auth});
    client.setMail(Mail);
    QSignalSpy finished(&client, &ZUB_SMTP::finished);
    return client.SendMail() && finished.wait(10000) && finished.at(0).at(0).toBool();
}

// The envelope, and the message byte for byte as composed (the date being the one of the send).
void checkReceived(const ReceivedMail& got)
{
    QCOMPARE(got.mailFrom, Mail.MailSenderEMail);
    QCOMPARE(got.rcptTos, QList<QByteArray>{Mail.MailRecipientEMail});
    const qsizetype date = got.content.indexOf("\r\nDate: ") + 8;
    const QDateTime sentAt = QDateTime::fromString(QString::fromLatin1(got.content.mid(date, 25)),
                                                   QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
    QVERIFY(sentAt.isValid());
    QByteArray expected = ComposeMessage(Mail, sentAt);
    expected.chop(3); // the sink keeps DATA without its final ".\r\n"
    QCOMPARE(got.content, expected);
}

} // namespace

class TestDelivery : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void deliversToARealServer()
    {
        const QByteArray user = " K\xE4the ", password = "g\xFCltig 12";
        SmtpSink sink(SinkOptions{user, password});
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        QVERIFY(!deliver(sink, user, "falsch", true));
        QVERIFY(!deliver(sink, user, password, false)); // the server insists on AUTH
        QVERIFY(deliver(sink, user, password, true));
        QCOMPARE(sink.messages().size(), 1);
        checkReceived(sink.messages().at(0));
        QCOMPARE(sink.messages().at(0).login, user);
        QCOMPARE(sink.messages().at(0).password, password);
    }
};

QTEST_GUILESS_MAIN(TestDelivery)
#include "tst_delivery.moc"
