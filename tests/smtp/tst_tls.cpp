#include "smtp/Base64.h"
#include "smtp/ResultText.h"
#include "smtp/ZUB_SMTP.h"
#include "support/RecordingRelay.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QSignalSpy>
#include <QSslSocket>
#include <QTest>
#include <memory>

using namespace kadmel;
using kadmel::test::RecordingRelay;
using kadmel::test::ScriptedSmtpServer;
using kadmel::test::SinkOptions;
using kadmel::test::SinkTls;
using kadmel::test::SmtpSink;

namespace {

const QByteArray User = "K\xE4the";
const QByteArray Password = "g\xFCltig 12";
const SmtpTimings Timings{5000, 20000};

SmtpMail sampleMail()
{
    SmtpMail mail;
    mail.MailSenderEMail = "von@example.com";
    mail.MailRecipientEMail = "an@example.org";
    mail.MailSubject = "Gr\xFC\xDF"
                       "e";
    mail.MailBody = "<HTML>Inhalt</HTML>";
    mail.MailID = 3;
    return mail;
}

struct Outcome
{
    std::shared_ptr<ZUB_SMTP> client; // kept, so its last bytes (the QUIT) still leave
    bool finished = false;
    bool sent = false;
    QByteArray code;
    SmtpLog log;
};

Outcome send(const SmtpServer& server, const QList<QSslCertificate>& authority = {}, SmtpTimings timings = Timings)
{
    timings.extraCaCertificates = authority;
    Outcome out;
    out.client = std::make_shared<ZUB_SMTP>(timings);
    out.client->setServer(server);
    out.client->setMail(sampleMail());
    QSignalSpy finished(out.client.get(), &ZUB_SMTP::finished);
    if (!out.client->SendMail() || !finished.wait(timings.connectMs + timings.conversationMs))
        return out;
    out.finished = true;
    out.sent = finished.at(0).at(0).toBool();
    out.code = finished.at(0).at(1).toByteArray();
    out.log = out.client->CurrentLog();
    return out;
}

SmtpServer serverAt(const QByteArray& host, quint16 port, Encryption encryption, bool auth)
{
    return SmtpServer{host, qint16(port), User, Password, auth, encryption};
}

// What must never show in the clear once encryption was asked for.
void checkNoSecretsIn(const QByteArray& wire)
{
    for (const QByteArray& secret : {Encode(User), Encode(Password), QByteArray("AUTH"), QByteArray("MAIL FROM"),
                                     QByteArray("RCPT TO"), QByteArray("Subject:")})
        QVERIFY2(!wire.contains(secret), secret.constData());
}

// The bytes after the clear-text part are a TLS handshake record, or nothing at all.
void checkRestIsTls(const QByteArray& wire, const QByteArray& clearPart)
{
    QVERIFY2(wire.startsWith(clearPart), wire.left(200).toPercentEncoding().constData());
    const QByteArray rest = wire.mid(clearPart.size());
    QVERIFY2(rest.isEmpty() || rest.startsWith('\x16'), rest.left(40).toPercentEncoding().constData());
    checkNoSecretsIn(wire);
}

} // namespace

class TestTls : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
        QCOMPARE(ResultText("ERRMessage8"), QByteArray("Sichere Verbindung zum Mailserver fehlgeschlagen."));
    }

    // With "Keine" the wire carries exactly the logged conversation, STARTTLS on offer or not.
    void plainConversationIsUnchanged()
    {
        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250-mail\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n");
        server.expect("AUTH LOGIN\r\n").reply("334 VXNlcm5hbWU6\r\n");
        server.expect(Encode(User) + "\r\n").reply("334 UGFzc3dvcmQ6\r\n");
        server.expect(Encode(Password) + "\r\n").reply("235 ok\r\n");
        server.expect("MAIL FROM: <von@example.com>\r\n").reply("250 ok\r\n");
        server.expect("RCPT TO: <an@example.org>\r\n").reply("250 ok\r\n");
        server.expect("DATA\r\n").reply("354 go\r\n");
        server.expectUntil("\r\n.\r\n").reply("250 queued\r\n");
        server.expect("QUIT\r\n");
        QSignalSpy closed(&server, &ScriptedSmtpServer::clientDisconnected);

        const Outcome out = send(serverAt("127.0.0.1", server.port(), Encryption::Keine, true));
        QVERIFY(out.sent);
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 3000);
        QCOMPARE(server.mismatches(), QStringList());
        QVERIFY(server.scriptDone());
        QCOMPARE(out.log.Sent.size(), 10);
        QCOMPARE(out.log.Sent[3], QByteArray("****\r\n"));
        QCOMPARE(server.received(), out.log.Sent.join().replace("****\r\n", Encode(Password) + "\r\n"));
    }

    // STARTTLS is sent only when EHLO lists it; without it, or refused, nothing more goes out.
    void startTlsMissingOrRefused_data()
    {
        QTest::addColumn<QByteArray>("ehloReply");
        QTest::addColumn<QByteArray>("startTlsReply"); // empty: STARTTLS must not be sent

        QTest::newRow("not listed") << QByteArray("250-mail.example\r\n250 AUTH LOGIN\r\n") << QByteArray();
        QTest::newRow("server name only") << QByteArray("250 STARTTLS\r\n") << QByteArray();
        QTest::newRow("as a parameter") << QByteArray("250-mail.example\r\n250 AUTH STARTTLS\r\n") << QByteArray();
        QTest::newRow("longer keyword") << QByteArray("250-mail.example\r\n250 STARTTLSX\r\n") << QByteArray();
        QTest::newRow("listed, refused with 454")
            << QByteArray("250-mail.example\r\n250-STARTTLS\r\n250 HELP\r\n") << QByteArray("454 not now\r\n");
        QTest::newRow("listed in lower case on the last line, refused with 502")
            << QByteArray("250-mail.example\r\n250 starttls\r\n") << QByteArray("502 no\r\n");
        QTest::newRow("listed, answered with 250")
            << QByteArray("250-mail.example\r\n250 STARTTLS\n") << QByteArray("250 ok\r\n");
    }
    void startTlsMissingOrRefused()
    {
        QFETCH(QByteArray, ehloReply);
        QFETCH(QByteArray, startTlsReply);
        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply(ehloReply);
        if (!startTlsReply.isEmpty())
            server.expect("STARTTLS\r\n").reply(startTlsReply);
        QSignalSpy closed(&server, &ScriptedSmtpServer::clientDisconnected);

        const Outcome out = send(serverAt("127.0.0.1", server.port(), Encryption::StartTls, true));
        QVERIFY(out.finished);
        QCOMPARE(out.code, QByteArray("ERRMessage8"));
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 3000);
        QCOMPARE(server.mismatches(), QStringList());

        const QByteArray startTls = startTlsReply.isEmpty() ? QByteArray() : QByteArray("STARTTLS\r\n");
        QCOMPARE(server.received(), "EHLO 127.0.0.1\r\n" + startTls);
        QList<QByteArray> sent{"EHLO 127.0.0.1\r\n"};
        QList<QByteArray> received{"220 hi\r\n", ehloReply};
        if (!startTlsReply.isEmpty()) {
            sent.append(startTls);
            received.append(startTlsReply);
        }
        QCOMPARE(out.log.Sent, sent + QList<QByteArray>{""});
        QCOMPARE(out.log.Received, received + QList<QByteArray>{""});
    }

    // Replies that ride in the clear behind the 220 to STARTTLS are not the server's: they are dropped.
    void clearBytesBehindStartTlsAreDropped()
    {
        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250-mail.example\r\n250 STARTTLS\r\n");
        server.expect("STARTTLS\r\n").reply("220 go ahead\r\n250 forged\r\n334 VXNlcm5hbWU6\r\n23");
        server.expect("\x16").reply("235 not a TLS record\r\n"); // the client's hello starts; answer in clear
        QSignalSpy closed(&server, &ScriptedSmtpServer::clientDisconnected);

        const Outcome out = send(serverAt("127.0.0.1", server.port(), Encryption::StartTls, true));
        QCOMPARE(out.code, QByteArray("ERRMessage8"));
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 3000);
        QCOMPARE(server.mismatches(), QStringList());
        QCOMPARE(out.log.Sent, (QList<QByteArray>{"EHLO 127.0.0.1\r\n", "STARTTLS\r\n", ""}));
        QCOMPARE(out.log.Received,
                 (QList<QByteArray>{"220 hi\r\n", "250-mail.example\r\n250 STARTTLS\r\n", "220 go ahead\r\n", ""}));
        checkRestIsTls(server.received(), "EHLO 127.0.0.1\r\nSTARTTLS\r\n");
    }

    // The relay sees the wire: after STARTTLS, or from the first byte, only TLS records travel.
    void deliversEncrypted_data()
    {
        QTest::addColumn<int>("sinkTls");
        QTest::addColumn<int>("encryption");
        QTest::addColumn<bool>("auth");
        QTest::addColumn<QByteArray>("clearPart");
        QTest::addColumn<QList<QByteArray>>("firstSent");

        const QByteArray ehlo = "EHLO localhost\r\n";
        const QList<QByteArray> upgrade{ehlo, "STARTTLS\r\n", ehlo};
        QTest::newRow("STARTTLS without AUTH")
            << int(SinkTls::StartTls) << int(Encryption::StartTls) << false << upgrade.mid(0, 2).join()
            << upgrade + QList<QByteArray>{"MAIL FROM: <von@example.com>\r\n"};
        QTest::newRow("STARTTLS with AUTH LOGIN") // the sink refuses AUTH before STARTTLS
            << int(SinkTls::StartTls) << int(Encryption::StartTls) << true << upgrade.mid(0, 2).join()
            << upgrade + QList<QByteArray>{"AUTH LOGIN\r\n"};
        QTest::newRow("SSL/TLS with AUTH LOGIN") << int(SinkTls::Implicit) << int(Encryption::SslTls) << true
                                                 << QByteArray() << QList<QByteArray>{ehlo, "AUTH LOGIN\r\n"};
    }
    void deliversEncrypted()
    {
        QFETCH(int, sinkTls);
        QFETCH(int, encryption);
        QFETCH(bool, auth);
        QFETCH(QByteArray, clearPart);
        QFETCH(QList<QByteArray>, firstSent);

        SmtpSink sink(SinkOptions{auth ? User : QByteArray(), auth ? Password : QByteArray(), SinkTls(sinkTls)});
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        RecordingRelay relay(sink.port());
        QSignalSpy closed(&relay, &RecordingRelay::clientDisconnected);
        const Outcome out =
            send(serverAt("localhost", relay.port(), Encryption(encryption), auth), sink.caCertificates());
        QVERIFY(out.sent);
        const QList<kadmel::test::ReceivedMail> got = sink.messages();
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].login, auth ? User : QByteArray());
        QVERIFY(got[0].content.startsWith("From:  <von@example.com>\r\n"));
        QCOMPARE(out.log.Sent.mid(0, firstSent.size()), firstSent);
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 3000);
        checkRestIsTls(relay.fromClient(), clearPart);
        QVERIFY(relay.fromClient().size() > clearPart.size() + 200);
    }

    // A server that cannot prove who it is gets nothing: no mail, no credentials, "ERRMessage8".
    void unprovenServersAreRefused_data()
    {
        QTest::addColumn<int>("sinkTls");
        QTest::addColumn<QByteArray>("certificateHost");
        QTest::addColumn<bool>("trustAuthority");
        QTest::addColumn<int>("encryption");
        QTest::addColumn<QByteArray>("clearPart"); // what may travel unencrypted

        const int startTlsSink = int(SinkTls::StartTls);
        const int implicitSink = int(SinkTls::Implicit);
        const int startTls = int(Encryption::StartTls);
        const int sslTls = int(Encryption::SslTls);
        const QByteArray upToStartTls = "EHLO localhost\r\nSTARTTLS\r\n";
        QTest::newRow("STARTTLS, certificate for another host")
            << startTlsSink << QByteArray("mail.example.com") << true << startTls << upToStartTls;
        QTest::newRow("SSL/TLS, certificate for another host")
            << implicitSink << QByteArray("mail.example.com") << true << sslTls << QByteArray();
        QTest::newRow("STARTTLS, authority not trusted")
            << startTlsSink << QByteArray("localhost") << false << startTls << upToStartTls;
        QTest::newRow("SSL/TLS, authority not trusted")
            << implicitSink << QByteArray("localhost") << false << sslTls << QByteArray();
        QTest::newRow("SSL/TLS against a plain server")
            << int(SinkTls::None) << QByteArray() << false << sslTls << QByteArray();
        QTest::newRow("STARTTLS, not offered by a plain server")
            << int(SinkTls::None) << QByteArray() << false << startTls << QByteArray("EHLO localhost\r\n");
    }
    void unprovenServersAreRefused()
    {
        QFETCH(int, sinkTls);
        QFETCH(QByteArray, certificateHost);
        QFETCH(bool, trustAuthority);
        QFETCH(int, encryption);
        QFETCH(QByteArray, clearPart);

        SmtpSink sink(SinkOptions{User, Password, SinkTls(sinkTls), certificateHost});
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        RecordingRelay relay(sink.port());
        QSignalSpy closed(&relay, &RecordingRelay::clientDisconnected);
        const Outcome out = send(serverAt("localhost", relay.port(), Encryption(encryption), true),
                                 trustAuthority ? sink.caCertificates() : QList<QSslCertificate>{});
        QVERIFY(out.finished);
        QCOMPARE(out.code, QByteArray("ERRMessage8"));
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 3000);
        checkRestIsTls(relay.fromClient(), clearPart);
        QCOMPARE(sink.messages().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTls)
#include "tst_tls.moc"
