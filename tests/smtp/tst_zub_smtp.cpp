#include "engine/FailureReason.h"
#include "smtp/Base64.h"
#include "smtp/ZUB_SMTP.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SendOnce.h"
#include "support/SmtpSink.h"

#include <QTest>

using namespace kadmel;
using kadmel::test::ScriptedSmtpServer;
using Lines = QList<QByteArray>;

namespace {

const SmtpTimings Short{400, 1500};

const SmtpMail SampleMail{{}, "von@example.com", {}, "an@example.org", "Test", "<HTML>body</HTML>", 7};

// The untrimmed user goes on the wire, and a password of one tab is a password.
const QByteArray User = " user ", Pass = "\t";

test::SendOutcome send(quint16 port, bool auth = false, Encryption encryption = Encryption::Keine,
                       const SmtpMail& mail = SampleMail, const QByteArray& token = {})
{
    return test::sendOnce(Short, {"127.0.0.1", qint16(port), User, Pass, auth, encryption, token}, mail);
}

// "S:" lines are server replies (segments split at "|"), "C:" lines what the client must send;
// "close" hangs up; a script of "refused" stands for a port where nothing listens. Every line gets its CR LF.
// Returns all the client must send, in order, its message standing as "DATA...".
QByteArray play(ScriptedSmtpServer& server, const Lines& script)
{
    QByteArray sent;
    for (const QByteArray& step : script) {
        if (step == "close")
            server.close();
        else if (step.startsWith("R:"))
            continue;
        else if (step.startsWith("C:"))
            server.expect(step == "C:DATA..." ? "\r\n.\r\n" : step.mid(2) + "\r\n");
        else
            for (const QByteArray& piece : (step.mid(2) + "\r\n").split('|'))
                server.reply(piece, 5);
        sent += step.startsWith("C:") ? step.mid(2) + "\r\n" : QByteArray();
    }
    return sent;
}

QByteArray received(const ScriptedSmtpServer& server)
{
    QByteArray bytes = server.received();
    if (const qsizetype message = bytes.indexOf("From:  <"); message >= 0)
        bytes.replace(message, bytes.indexOf("\r\n.\r\n") + 5 - message, "DATA...\r\n");
    return bytes;
}

// A plain conversation up to the end of the message, and its end.
const Lines UpToMessage = QByteArray("S:220 hi;C:EHLO 127.0.0.1;S:250 ok;C:MAIL FROM: <von@example.com>;S:250 ok;"
                                     "C:RCPT TO: <an@example.org>;S:250 ok;C:DATA;S:354 go;C:DATA...")
                              .split(';');
const Lines FromMailFrom = UpToMessage.mid(3) + Lines{"S:250 queued", "C:QUIT"};

} // namespace

class TestZubSmtp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void authenticatedConversationIsLogged()
    {
        ScriptedSmtpServer server;
        // STARTTLS on offer changes nothing without encryption. Replies come byte by byte and in pieces;
        // RCPT TO gets 251.
        Lines tail = FromMailFrom;
        tail[3] = "S:251 forwarded";
        const QByteArray sent = play(
            server, Lines{"S:2|2|0| |h|i|", "C:EHLO 127.0.0.1", "S:250-STARTTLS\r\n|250 AUTH LOGIN", "C:AUTH LOGIN",
                          "S:334 VXNlcg==", "C:" + Encode(User), "S:334 UGFzcw==", "C:" + Encode(Pass), "S:235 ok"} +
                        tail);
        const auto out = send(server.port(), true);
        QCOMPARE(out.code, QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(received(server), sent, 15000); // QUIT is on its way when finished() comes
        const SmtpLog& log = out.log;
        QCOMPARE(server.received(), log.Sent.join().replace("****\r\n", Encode(Pass) + "\r\n"));
        // One element per command, the password masked, the message whole, each array closed by an empty one.
        QCOMPARE(log.Sent.mid(2, 2), (Lines{Encode(User) + "\r\n", "****\r\n"}));
        QVERIFY(log.Sent[7].startsWith("From:  <von@example.com>\r\n"));
        QCOMPARE(log.Sent.mid(8), (Lines{"QUIT\r\n", ""}));
        QCOMPARE(log.Received,
                 (Lines{"220 hi\r\n", "250-STARTTLS\r\n250 AUTH LOGIN\r\n", "334 VXNlcg==\r\n", "334 UGFzcw==\r\n",
                        "235 ok\r\n", "250 ok\r\n", "251 forwarded\r\n", "354 go\r\n", "250 queued\r\n", ""}));

        // Each command sent shows its step of eight (EHLO, AUTH LOGIN, user, password, MAIL FROM, RCPT TO,
        // DATA after 251) with the connecting text; the message then counts its bytes under the sending text.
        QList<qint32> steps;
        for (const QList<QVariant>& call : out.progress)
            if (call.at(1).toInt() == 8)
                steps << call.at(0).toInt();
        QCOMPARE(steps, (QList<qint32>{1, 3, 8, 8, 2, 4, 7}));
        QCOMPARE(out.status.count({QByteArray("Verbindung zum Mailserver wird hergestellt...  (ID 7)")}), 7);
        QCOMPARE(out.status.last().at(0).toByteArray(), QByteArray("E-Mail wird gesendet...  (ID 7)"));
        const qint32 length = qint32(log.Sent[7].size());
        // Full only once the server has taken the message, so a stalled server never shows 100 %.
        const qsizetype written = out.progress.indexOf({length - 1, length, qint16(0)});
        QVERIFY(written >= 0 && out.progress.indexOf({length, length, qint16(0)}) > written);
    }

    // Each conversation ends with its code (none once sent), and the client sends exactly the script's lines.
    void conversations_data()
    {
        QTest::addColumn<Lines>("script");
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<int>("lastsAtLeastMs");
        const Lines greeted{"S:220 hi", "C:EHLO 127.0.0.1"};
        QTest::newRow("second greeting restarts at EHLO")
            << Lines{"S:220 hi",    "C:EHLO 127.0.0.1", "S:250 ok", "C:MAIL FROM: <von@example.com>",
                     "S:220 again", "C:EHLO 127.0.0.1", "S:250 ok"} +
                   FromMailFrom
            << QByteArray() << 0;
        const QByteArray err3 = "ERRMessage3", err6 = "ERRMessage6", err8 = "ERRMessage8", err9 = "ERRMessage9";
        QTest::newRow("5xx on EHLO") << greeted + Lines{"S:554 no", "R:554 no"} << err3 << 0;
        QTest::newRow("no reply line") << Lines{"S:hello"} << err3 << 0;
        QTest::newRow("closed after greeting") << greeted + Lines{"close"} << QByteArray("ERRMessage5") << 0;
        QTest::newRow("silent server") << Lines{} << err6 << Short.conversationMs;
        // The whole message went out: the server may have taken it, so it must not look undelivered.
        QTest::newRow("closed after the end of data") << UpToMessage + Lines{"close", "R:"} << err9 << 0;
        QTest::newRow("silent after the end of data") << UpToMessage << err9 << Short.conversationMs;
        // In the clear the AUTH list is not read: AUTH LOGIN as ever, whatever the server offers.
        QTest::newRow("only PLAIN offered, in the clear")
            << greeted + Lines{"S:250-mail\r\n250 AUTH PLAIN", "C:AUTH LOGIN", "S:504 unknown"} << err3 << 0;
        // A positive reply the step does not allow ends the mail at once, not at the time limit.
        QTest::newRow("250 during credentials") << greeted + Lines{"S:250 ok", "C:AUTH LOGIN", "S:250 eh"} << err3 << 0;
        QTest::newRow("250 before the greeting") << Lines{"S:250 ok"} << err3 << 0;
        QTest::newRow("354 to MAIL FROM")
            << greeted + Lines{"S:250 ok", "C:MAIL FROM: <von@example.com>", "S:354 go", "R:"} << err3 << 0;
        QTest::newRow("250 to DATA") << UpToMessage.mid(0, 8) + Lines{"S:250 ok"} << err3 << 0;
        QTest::newRow("a greeting after the end of data") << UpToMessage + Lines{"S:220 again"} << err9 << 0;
        const QByteArray endless = ("250-" + QByteArray(1000, 'z') + "\r\n|").repeated(80);
        QTest::newRow("endless reply") << greeted + Lines{"S:" + endless} << err3 << 0;
        QTest::newRow("refused port") << Lines{"refused", "R:Verbindung abgelehnt"} << QByteArray("ERRMessage4") << 0;
        // STARTTLS only as a keyword of its own in the EHLO reply; without it, or refused, the mail stays unsent.
        QTest::newRow("STARTTLS as the server name, a parameter, a prefix")
            << greeted + Lines{"S:250-STARTTLS\r\n250-AUTH STARTTLS\r\n250 STARTTLSX",
                               "R:Der Server bietet kein STARTTLS an."}
            << err8 << 0;
        QTest::newRow("STARTTLS refused with 454")
            << greeted + Lines{"S:250-mail\r\n250-STARTTLS\r\n250 HELP", "C:STARTTLS", "S:454 not now"} << err8 << 0;
        // Of several recipients one refused: no message to the others, that reply is the mail's reason.
        QTest::newRow("second recipient refused")
            << UpToMessage.mid(0, 6) + Lines{"S:250 ok", "C:RCPT TO: <b@example.org>", "S:550 5.1.1 unknown", "C:QUIT",
                                             "R:550 5.1.1 unknown"}
            << err3 << 0;
        // An umlaut address needs SMTPUTF8: without it nothing follows EHLO but QUIT.
        QTest::newRow("umlaut address, no SMTPUTF8")
            << greeted + Lines{"S:250-mail\r\n250 8BITMIME", "C:QUIT",
                               "R:Der Server nimmt keine Adressen mit Umlauten an. \x84j\xF6rg@example.org\x93"}
            << QByteArray("ERRMessage7") << 0;
        // A message over the server's SIZE never begins: no MAIL FROM. "SIZE" alone or 0 sets no limit.
        QTest::newRow("message over SIZE") << greeted + Lines{"S:250-mail\r\n250 SIZE 300", "C:QUIT",
                                                              "R:Die E-Mail ist 0,4 KB gro\xDF, der Server nimmt h\xF6"
                                                              "chstens 0,3 KB an."}
                                           << QByteArray("ERRMessage7") << 0;
        QTest::newRow("SIZE without a limit")
            << greeted + Lines{"S:250-SIZE\r\n250 size 0"} + FromMailFrom << QByteArray() << 0;
        // DSN offered: reports asked for, the IDs in xtext; an address that needs SMTPUTF8 gets no ORCPT.
        const QByteArray notify = "NOTIFY=FAILURE,DELAY", ok = "S:250 ok";
        QTest::newRow("DSN offered")
            << greeted +
                   Lines{"S:250-mail\r\n250-DSN\r\n250 SMTPUTF8",
                         "C:MAIL FROM: <von@example.com> SMTPUTF8 RET=HDRS ENVID=k1.x+2By+3Dz@example.com",
                         ok,
                         "C:RCPT TO: <an@example.org> " + notify + " ORCPT=rfc822;an@example.org",
                         ok,
                         "C:RCPT TO: <b+1=2@example.org> " + notify + " ORCPT=rfc822;b+2B1+3D2@example.org",
                         ok,
                         "C:RCPT TO: <j\xC3\xB6rg@example.org> " + notify,
                         ok} +
                   FromMailFrom.mid(4)
            << QByteArray() << 0;
        QTest::newRow("starttls in lower case, answered with 250")
            << greeted + Lines{"S:250-mail\n250 starttls", "C:STARTTLS", "S:250 ok"} << err8 << 0;
    }
    void conversations()
    {
        QFETCH(Lines, script);
        QFETCH(QByteArray, code);
        QFETCH(int, lastsAtLeastMs);
        ScriptedSmtpServer server;
        const QByteArray sent = play(server, script);
        QSignalSpy closed(&server, &ScriptedSmtpServer::clientDisconnected);
        const quint16 port = script.value(0) == "refused" ? ScriptedSmtpServer::unusedPort() : server.port();
        const Encryption encryption = code == "ERRMessage8" ? Encryption::StartTls : Encryption::Keine;
        SmtpMail mail = SampleMail; // a row's second RCPT TO or umlaut reason says whom it is sent to
        if (script.contains("C:RCPT TO: <b@example.org>"))
            mail.MailRecipientEMail += "; b@example.org";
        if (script.value(script.size() - 1).contains("Umlauten"))
            mail.MailCopyTo = "j\xF6rg@example.org";
        if (script.value(3).contains("ENVID")) {
            mail.MailMessageId = "<k1.x+y=z@example.com>";
            mail.MailCopyTo = "b+1=2@example.org, j\xF6rg@example.org";
        }
        const auto out = send(port, script.contains("C:AUTH LOGIN"), encryption, mail);
        QCOMPARE(out.code, code);
        QVERIFY(out.elapsedMs >= lastsAtLeastMs);
        QVERIFY(port == server.port() || out.elapsedMs < Short.connectMs / 2); // refused: no wait for the limit
        // A last "R:" line is the mail's reason: a refusal or the cause noted in its place, never a 354 or EHLO list.
        if (const QByteArray reason = script.value(script.size() - 1); reason.startsWith("R:"))
            QCOMPARE(failureReason({out.log, {}, {}, {}, {}, {}, {}, {}, code}), reason.mid(2));
        QCOMPARE(out.log.Received.last(), QByteArray());
        if (script.size() > 0 && script.last().startsWith("S:") &&
            script.last().size() < 100) // the reply that ended it
            QCOMPARE(out.log.Received.at(out.log.Received.size() - 2), script.last().mid(2).replace('|', "") + "\r\n");
        QVERIFY(out.log.Received.join().size() < 64 * 1024); // an endless reply is not kept
        if (port == server.port())
            QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 15000); // all the client sent has arrived
        QCOMPARE(received(server), sent);
    }

    // One session carries three mails, "RSET" between two; a recipient refused on the second leaves the first and
    // the third sent. Each mail's log is the session's opening, for a later one noted as carried on, and its own
    // lines. Without quit() the session ends once it has waited keptMs for another mail.
    void oneSessionCarriesSeveralMails()
    {
        test::SmtpSink sink;
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        SmtpSession session({.connectMs = 400, .conversationMs = 1500, .keptMs = 300});
        QSignalSpy done(&session, &SmtpSession::transactionDone);
        QSignalSpy closed(&session, &SmtpSession::closed);
        const SmtpServer server{"127.0.0.1", qint16(sink.port()), {}, {}};
        QVERIFY(session.open(server) && !session.open(server));
        const Lines to = {"eins@example.org", "zwei@abgelehnt.example", "drei@example.org"};
        for (const QByteArray& recipient : to) {
            SmtpMail mail = SampleMail;
            mail.MailRecipientEMail = recipient;
            mail.MailMessageId = NewMessageId(mail.MailSenderEMail);
            session.send({envelopeOf(mail), ComposeMessage(mail, QDateTime::currentDateTime())});
        }
        QTRY_COMPARE(done.size(), 3);
        QVERIFY(closed.isEmpty() && closed.wait(5000));
        const QByteArray from = "MAIL FROM: <von@example.com>|RCPT TO: <", rset = "EHLO 127.0.0.1||RSET|" + from;
        const Lines commands = {"EHLO 127.0.0.1|" + from + "eins@example.org>|DATA|(message)|",
                                rset + "zwei@abgelehnt.example>|", rset + "drei@example.org>|DATA|(message)|"};
        for (int i = 0; i < 3; ++i) {
            const auto outcome = done.at(i).at(0).value<DeliveryOutcome>();
            const auto log = done.at(i).at(1).value<SmtpLog>();
            QCOMPARE(log.Received.value(2), i == 0 ? QByteArray("250 OK\r\n")
                                                   : "(Verbindung weiterverwendet: E-Mail " +
                                                         QByteArray::number(i + 1) + " dieser Verbindung)\r\n");
            Lines sent;
            for (const QByteArray& line : log.Sent)
                sent << (line.startsWith("From:") ? QByteArray("(message)") : line.trimmed());
            QCOMPARE(sent.join('|'), commands.at(i));
            QCOMPARE(outcome.code, i == 1 ? ResultCode::ServerReply : ResultCode::Sent);
            QVERIFY2(outcome.reply.startsWith(i == 1 ? "550 5.1.1" : "250"), outcome.reply.constData());
            QCOMPARE(outcome.message.isEmpty(), i == 1);
        }
        QTRY_COMPARE(sink.messages().size(), 2);
        QCOMPARE(sink.messages().at(0).rcptTos + sink.messages().at(1).rcptTos, (Lines{to.at(0), to.at(2)}));
        QCOMPARE(sink.messages().at(1).content, done.at(2).at(0).value<DeliveryOutcome>().message);
    }

    // A field that could add commands, recipients, ESMTP parameters or header lines never reaches a server, nor
    // does an access token without encryption ("ERRMessage8").
    void headerInjectionIsRefusedBeforeConnecting()
    {
        // field: 0 sender, 1 recipient, 2 subject, 3 access token
        for (const auto& [field, value, refused] :
             {std::tuple{0, QByteArray("a@x.test\r\nRCPT TO: <x@evil>"), true},
              std::tuple{1, QByteArray("bob@y.test> NOTIFY=SUCCESS ORCPT=rfc822;spy@evil.test"), true},
              std::tuple{0, QByteArray("<a@x.test"), true}, std::tuple{1, QByteArray("bob@y.test spy@evil.test"), true},
              std::tuple{2, QByteArray("a\0b", 3), true}, std::tuple{2, QByteArray("a\x1B[2J"), true},
              std::tuple{0, QByteArray(990 - 7, 'a') + "@x.test", true}, // a From line of 999 bytes
              std::tuple{2, QByteArray(990, 's'), false}, // 7-bit subject past 998 bytes, encoded and folded
              std::tuple{3, QByteArray("ya29.x"), true},
              std::tuple{2, "\t\xE4" + QByteArray(988, 's'), false}}) { // 8-bit, folded
            SmtpMail mail = SampleMail;
            if (field < 3)
                (field == 0 ? mail.MailSenderEMail : field == 1 ? mail.MailRecipientEMail : mail.MailSubject) = value;
            // Nothing listens there: a mail that passes the checks fails at connecting instead.
            const auto out = send(ScriptedSmtpServer::unusedPort(), false, Encryption::Keine, mail,
                                  field == 3 ? value : QByteArray());
            QVERIFY2(out.code == (!refused     ? "ERRMessage4"
                                  : field == 3 ? "ERRMessage8"
                                               : "ERRMessage7"),
                     value.left(40).toPercentEncoding().constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestZubSmtp)
#include "tst_zub_smtp.moc"
