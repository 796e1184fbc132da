#include "smtp/Base64.h"
#include "smtp/ZUB_SMTP.h"
#include "support/ScriptedSmtpServer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace kadmel;
using kadmel::test::ScriptedSmtpServer;

namespace {

const SmtpTimings Short{400, 1500};

SmtpMail sampleMail()
{
    SmtpMail mail;
    mail.MailSenderEMail = "von@example.com";
    mail.MailRecipientEMail = "an@example.org";
    mail.MailSubject = "Test";
    mail.MailBody = "<HTML>body</HTML>";
    mail.MailID = 7;
    return mail;
}

SmtpServer serverAt(quint16 port, bool auth = false)
{
    return SmtpServer{"127.0.0.1", qint16(port), " user ", "geheim ", auth};
}

struct Outcome
{
    bool sent = false;
    QByteArray code;
    SmtpLog log;
    int finishedCount = 0;
};

Outcome send(ZUB_SMTP& client, const SmtpServer& server, const SmtpMail& mail = sampleMail(), int waitMs = 5000)
{
    client.setServer(server);
    client.setMail(mail);
    QSignalSpy finished(&client, &ZUB_SMTP::finished);
    Outcome out;
    if (!client.SendMail() || !finished.wait(waitMs))
        return out;
    QTest::qWait(20); // a second finished() would show up here
    out.finishedCount = int(finished.size());
    out.sent = finished.at(0).at(0).toBool();
    out.code = finished.at(0).at(1).toByteArray();
    out.log = client.CurrentLog();
    return out;
}

// The rest of a conversation once the client has sent MAIL FROM.
void scriptFromMailFrom(ScriptedSmtpServer& s)
{
    s.expect("MAIL FROM: <von@example.com>\r\n").reply("250 ok\r\n");
    s.expect("RCPT TO: <an@example.org>\r\n").reply("250 ok\r\n");
    s.expect("DATA\r\n").reply("354 go\r\n");
    s.expectUntil("\r\n.\r\n").reply("250 queued\r\n");
    s.expect("QUIT\r\n");
}

} // namespace

class TestZubSmtp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void authenticatedConversationIsLogged()
    {
        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250-x\r\n250 AUTH LOGIN\r\n");
        server.expect("AUTH LOGIN\r\n").reply("334 VXNlcm5hbWU6\r\n");
        // Untrimmed credentials go on the wire.
        server.expect(Encode(" user ") + "\r\n").reply("334 UGFzc3dvcmQ6\r\n");
        server.expect(Encode("geheim ") + "\r\n").reply("235 ok\r\n");
        scriptFromMailFrom(server);

        ZUB_SMTP client(Short);
        QSignalSpy status(&client, &ZUB_SMTP::statusText);
        QSignalSpy progress(&client, &ZUB_SMTP::progress);
        const Outcome out = send(client, serverAt(server.port(), true));
        QCOMPARE(server.mismatches(), QStringList());
        QVERIFY(server.scriptDone());
        QVERIFY(out.sent);
        QCOMPARE(out.code, QByteArray());
        QCOMPARE(out.finishedCount, 1);

        const QList<QByteArray>& sent = out.log.Sent;
        QCOMPARE(sent.size(), 10);
        QCOMPARE(sent.mid(0, 7),
                 (QList<QByteArray>{"EHLO 127.0.0.1\r\n", "AUTH LOGIN\r\n", Encode(" user ") + "\r\n", "****\r\n",
                                    "MAIL FROM: <von@example.com>\r\n", "RCPT TO: <an@example.org>\r\n", "DATA\r\n"}));
        QVERIFY(sent[7].startsWith("From:  <von@example.com>\r\nTo:  <an@example.org>\r\nDate: "));
        QVERIFY(sent[7].endsWith(Encode(sampleMail().MailBody) + "\r\n\r\n.\r\n"));
        QCOMPARE(sent.mid(8), (QList<QByteArray>{"QUIT\r\n", ""}));
        QCOMPARE(out.log.Received, (QList<QByteArray>{"220 hi\r\n", "250-x\r\n250 AUTH LOGIN\r\n",
                                                      "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n",
                                                      "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n", ""}));

        // The panel texts, and the progress bar shown on every reply and filled by the message.
        QVERIFY(status.contains({QByteArray("E-Mail wird gesendet...  (ID 7)")}));
        QVERIFY(status.contains({QByteArray("Verbindung zum Mailserver wird hergestellt...  (ID 7)")}));
        int shows = 0;
        bool messageFilled = false;
        const qint32 length = qint32(sent[7].size());
        for (const QList<QVariant>& call : progress) {
            shows += call == QList<QVariant>{0, 0, qint16(1)};
            messageFilled |= call == QList<QVariant>{length, length, qint16(0)};
        }
        QCOMPARE(shows, 9 + 1); // each reply, and once more at 354
        QVERIFY(messageFilled);
    }

    void framedReplies_data()
    {
        QTest::addColumn<QList<QByteArray>>("greeting");
        QTest::addColumn<QList<QByteArray>>("ehloReply");
        const QList<QByteArray> multi = {"250-mail.example\r\n", "250-SIZE 100\r\n", "250-8BITMIME\r\n",
                                         "250 HELP\r\n"};
        QTest::newRow("greeting byte by byte")
            << QList<QByteArray>{"2", "2", "0", " ", "h", "i", "\r", "\n"} << QList<QByteArray>{"250 ok\r\n"};
        QTest::newRow("multi-line in one segment")
            << QList<QByteArray>{"220 hi\r\n"} << QList<QByteArray>{multi.join()};
        QTest::newRow("multi-line in four segments") << QList<QByteArray>{"220 hi\r\n"} << multi;
        QTest::newRow("multi-line cut mid-line") << QList<QByteArray>{"220-a\r\n22", "0 b\r\n"}
                                                 << QList<QByteArray>{"250-mail.ex", "ample\r\n250 H", "ELP\n"};
    }
    void framedReplies()
    {
        QFETCH(QList<QByteArray>, greeting);
        QFETCH(QList<QByteArray>, ehloReply);
        ScriptedSmtpServer server;
        server.replyInSegments(greeting).expect("EHLO 127.0.0.1\r\n").replyInSegments(ehloReply);
        scriptFromMailFrom(server);
        ZUB_SMTP client(Short);
        const Outcome out = send(client, serverAt(server.port()));
        QCOMPARE(server.mismatches(), QStringList());
        QVERIFY(out.sent);
        QCOMPARE(out.log.Received.first(), greeting.join());
        QCOMPARE(out.log.Received.at(1), ehloReply.join());
        QCOMPARE(out.log.Sent.size(), 6 + 1);
    }

    void secondGreetingRestartsAtEhlo()
    {
        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
        server.expect("MAIL FROM: <von@example.com>\r\n").reply("220 again\r\n");
        server.expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
        scriptFromMailFrom(server);
        ZUB_SMTP client(Short);
        const Outcome out = send(client, serverAt(server.port()));
        QCOMPARE(server.mismatches(), QStringList());
        QVERIFY(out.sent);
    }

    void failuresGiveTheirCode()
    {
        {
            ScriptedSmtpServer server; // rejection of EHLO
            server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("554 no\r\n");
            ZUB_SMTP client(Short);
            const Outcome out = send(client, serverAt(server.port()));
            QCOMPARE(out.code, QByteArray("ERRMessage3"));
            QVERIFY(!out.sent);
            QCOMPARE(out.log.Received, (QList<QByteArray>{"220 hi\r\n", "554 no\r\n", ""}));
            QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 1, 1000);
        }
        {
            ScriptedSmtpServer server; // a line that is no reply
            server.reply("hello there\r\n");
            ZUB_SMTP client(Short);
            QCOMPARE(send(client, serverAt(server.port())).code, QByteArray("ERRMessage3"));
        }
        {
            ScriptedSmtpServer server; // server hangs up after its greeting
            server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").close();
            ZUB_SMTP client(Short);
            const Outcome out = send(client, serverAt(server.port()));
            QCOMPARE(out.code, QByteArray("ERRMessage5"));
            QCOMPARE(out.finishedCount, 1);
        }
        {
            ScriptedSmtpServer server; // never says a word
            ZUB_SMTP client(Short);
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(send(client, serverAt(server.port())).code, QByteArray("ERRMessage6"));
            QVERIFY(clock.elapsed() >= Short.conversationMs - 50);
        }
        {
            ScriptedSmtpServer server; // a 250 where a 334 belongs is ignored until the time runs out
            server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
            server.expect("AUTH LOGIN\r\n").reply("250 what\r\n");
            ZUB_SMTP client(Short);
            const Outcome out = send(client, serverAt(server.port(), true));
            QCOMPARE(out.code, QByteArray("ERRMessage6"));
            QCOMPARE(out.log.Sent, (QList<QByteArray>{"EHLO 127.0.0.1\r\n", "AUTH LOGIN\r\n", ""}));
        }
        {
            ScriptedSmtpServer server; // a reply that never ends
            QList<QByteArray> endless(80, "250-" + QByteArray(1000, 'z') + "\r\n");
            server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").replyInSegments(endless, 0);
            ZUB_SMTP client(Short);
            const Outcome out = send(client, serverAt(server.port()));
            QCOMPARE(out.code, QByteArray("ERRMessage3"));
            QCOMPARE(out.log.Received, (QList<QByteArray>{"220 hi\r\n", ""}));
        }
    }

    void refusedConnectionWaitsOutTheConnectTime()
    {
        ZUB_SMTP client(Short);
        QElapsedTimer clock;
        clock.start();
        const Outcome out = send(client, serverAt(ScriptedSmtpServer::unusedPort()));
        QCOMPARE(out.code, QByteArray("ERRMessage4"));
        QVERIFY(clock.elapsed() >= Short.connectMs - 50);
        QCOMPARE(out.log.Sent, QList<QByteArray>{""});
    }

    void headerInjectionIsRefusedBeforeConnecting()
    {
        const QList<QByteArray> bad = {"a@example.com\r\nRCPT TO: <x@evil>", "a\nb", QByteArray("a\0b", 3)};
        for (int field = 0; field < 3; ++field) {
            for (const QByteArray& text : bad) {
                SmtpMail mail = sampleMail();
                (field == 0 ? mail.MailSenderEMail : field == 1 ? mail.MailRecipientEMail : mail.MailSubject) = text;
                ScriptedSmtpServer server;
                server.reply("220 hi\r\n");
                ZUB_SMTP client(Short);
                const Outcome out = send(client, serverAt(server.port()), mail);
                QCOMPARE(out.code, QByteArray("ERRMessage7"));
                QCOMPARE(out.finishedCount, 1);
                QCOMPARE(out.log.Sent, QList<QByteArray>{""});
                QCOMPARE(out.log.Received, QList<QByteArray>{""});
                QCOMPARE(server.connectionCount(), 0);
            }
        }
    }

    void oneSessionAtATime()
    {
        ScriptedSmtpServer server;
        ZUB_SMTP client(Short);
        client.setServer(serverAt(server.port()));
        client.setMail(sampleMail());
        QSignalSpy finished(&client, &ZUB_SMTP::finished);
        QVERIFY(client.SendMail());
        QVERIFY(client.isBusy());
        QVERIFY(!client.SendMail());
        QVERIFY(finished.wait(5000));
        QVERIFY(!client.isBusy());
        QCOMPARE(finished.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestZubSmtp)
#include "tst_zub_smtp.moc"
