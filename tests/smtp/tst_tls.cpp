#include "engine/HtmlBody.h"
#include "smtp/Base64.h"
#include "smtp/Message.h"
#include "support/EngineBench.h"
#include "support/RecordingRelay.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SendOnce.h"
#include "support/SmtpSink.h"

#include <QSslSocket>

using namespace kadmel;
using namespace kadmel::test;
using Lines = QList<QByteArray>;

Q_DECLARE_METATYPE(kadmel::test::SinkTls)

namespace {

// Untrimmed credentials; several Base64 lines, umlauts as single Windows-1252 bytes in subject and body.
const QByteArray User = " K\xE4the ";
const QByteArray Password = "g\xFCltig 12";
const QByteArray Body = ComposeHtmlBody(QByteArray("Gr\xFC\xDF  aus K\xF6ln\r\n sch\xF6n\r\n").repeated(8));
const SmtpMail Mail{{}, "von@example.com", {}, "an@example.org", "Rechnung f\xFCr M\xE4rz", Body, 42};

SendOutcome send(const QByteArray& host, quint16 port, Encryption encryption, bool auth,
                 const QList<QSslCertificate>& authority = {})
{
    return sendOnce({5000, 20000, 5000, authority}, {host, qint16(port), User, Password, auth, encryption}, Mail);
}

// After the clear-text part only a TLS handshake record may follow, and no secret shows anywhere.
void checkRestIsTls(const QByteArray& wire, const QByteArray& clearPart)
{
    QVERIFY2(wire.startsWith(clearPart), wire.left(200).toPercentEncoding().constData());
    const QByteArray rest = wire.mid(clearPart.size());
    QVERIFY2(rest.isEmpty() || rest.startsWith('\x16'), rest.left(40).toPercentEncoding().constData());
    for (const QByteArray& secret : {Encode(User), Encode(Password), QByteArray("AUTH"), QByteArray("MAIL FROM"),
                                     QByteArray("RCPT TO"), QByteArray("Subject:")})
        QVERIFY2(!wire.contains(secret), secret.constData());
}

} // namespace

class TestTls : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here"); }

    // Replies that ride in the clear behind the 220 to STARTTLS are not the server's: they are dropped.
    void clearBytesBehindStartTlsAreDropped()
    {
        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250-mail.example\r\n250 STARTTLS\r\n");
        server.expect("STARTTLS\r\n").reply("220 go ahead\r\n250 forged\r\n334 VXNlcm5hbWU6\r\n23");
        server.expect("\x16").reply("235 not a TLS record\r\n"); // the client's hello starts; answer in clear
        QSignalSpy closed(&server, &ScriptedSmtpServer::clientDisconnected);
        const auto out = send("127.0.0.1", server.port(), Encryption::StartTls, true);
        QCOMPARE(out.code, QByteArray("ERRMessage8"));
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 15000);
        // No forged reply logged behind the 220: the handshake's failure with its cause, the mail's reason.
        QVERIFY(out.log.Received.at(2) == "220 go ahead\r\n" && out.log.Received.at(3).startsWith("TLS: "));
        checkRestIsTls(server.received(), "EHLO 127.0.0.1\r\nSTARTTLS\r\n");
    }

    // A relay sees the wire: after STARTTLS, or from the first byte (SSL/TLS, also against a plain sink), only
    // TLS records travel. A server that cannot prove who it is gets nothing: no mail, no credentials, "ERRMessage8".
    // Inside TLS a server that offers PLAIN and not LOGIN gets AUTH PLAIN, masked in the log.
    void encryptedConnections_data()
    {
        QTest::addColumn<SinkTls>("sinkTls");
        QTest::addColumn<QByteArray>("certificateHost");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QByteArray>("mechanism"); // the sink offers LOGIN and PLAIN, or PLAIN only, or no AUTH
        const QByteArray local = "localhost", other = "mail.example.com", login = "LOGIN", plain = "PLAIN";
        QTest::newRow("STARTTLS without AUTH") << SinkTls::StartTls << local << true << QByteArray();
        // The sink refuses AUTH before STARTTLS.
        QTest::newRow("STARTTLS with AUTH LOGIN") << SinkTls::StartTls << local << true << login;
        QTest::newRow("SSL/TLS with AUTH LOGIN") << SinkTls::Implicit << local << true << login;
        QTest::newRow("STARTTLS, only PLAIN offered") << SinkTls::StartTls << local << true << plain;
        QTest::newRow("STARTTLS, certificate for another host") << SinkTls::StartTls << other << true << login;
        QTest::newRow("SSL/TLS, certificate for another host") << SinkTls::Implicit << other << true << login;
        QTest::newRow("SSL/TLS, authority not trusted") << SinkTls::Implicit << local << false << login;
        QTest::newRow("SSL/TLS against a plain server") << SinkTls::None << local << true << login;
    }
    void encryptedConnections()
    {
        QFETCH(SinkTls, sinkTls);
        QFETCH(QByteArray, certificateHost);
        QFETCH(bool, trusted);
        QFETCH(QByteArray, mechanism);
        const bool auth = !mechanism.isEmpty();
        const bool delivered = trusted && certificateHost == "localhost" && sinkTls != SinkTls::None;
        const Encryption encryption = sinkTls == SinkTls::StartTls ? Encryption::StartTls : Encryption::SslTls;

        // AUTH PLAIN carries UTF-8 (RFC 4616); AUTH LOGIN the stored Windows-1252 bytes as ever.
        const auto onWire = [&](const QByteArray& text) {
            return !auth ? QByteArray() : mechanism == "PLAIN" ? fromAnsi(text).toUtf8() : text;
        };
        const QByteArray user = onWire(User), password = onWire(Password);
        SmtpSink sink(SinkOptions{user, password, sinkTls, certificateHost, {}, mechanism == "PLAIN"});
        RecordingRelay relay(sink.port());
        QSignalSpy closed(&relay, &RecordingRelay::clientDisconnected);
        const auto out = send("localhost", relay.port(), encryption, auth,
                              trusted ? sink.caCertificates() : QList<QSslCertificate>{});
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 15000);
        const QByteArray ehlo = "EHLO localhost\r\n";
        const Lines clear = Lines{ehlo, "STARTTLS\r\n"}.mid(0, encryption == Encryption::StartTls ? 2 : 0);
        checkRestIsTls(relay.fromClient(), clear.join());
        const QList<ReceivedMail> got = sink.messages();
        QCOMPARE(got.size(), delivered ? 1 : 0);
        if (!delivered) {
            QCOMPARE(out.code, QByteArray("ERRMessage8"));
            return;
        }
        // The envelope and credentials, and the message byte for byte as composed, with the send's date and ID.
        const QByteArray& content = got[0].content;
        QCOMPARE((QByteArrayList{got[0].mailFrom, got[0].rcptTos.join('|'), got[0].login, got[0].password,
                                 got[0].mechanism}),
                 (QByteArrayList{Mail.MailSenderEMail, Mail.MailRecipientEMail, user, password, mechanism}));
        const qsizetype date = content.indexOf("\r\nDate: ") + 8, id = content.indexOf("\r\nMessage-ID: ") + 14;
        const QDateTime sentAt = QDateTime::fromString(QString::fromLatin1(content.mid(date, 31)), Qt::RFC2822Date);
        SmtpMail sent = Mail;
        sent.MailMessageId = content.mid(id, content.indexOf("\r\n", id) - id);
        QVERIFY(out.sent && sentAt.isValid());
        QCOMPARE(content + ".\r\n", ComposeMessage(sent, sentAt)); // the sink keeps DATA without its end
        // Inside the encrypted connection the conversation starts over at EHLO.
        const Lines firstSent =
            clear + Lines{ehlo, !auth ? "MAIL FROM: <von@example.com>\r\n"
                                      : "AUTH " + mechanism + (mechanism == "PLAIN" ? " ****\r\n" : "\r\n")};
        QCOMPARE(out.log.Sent.mid(0, firstSent.size()), firstSent);
    }

    // Each way kadmel.ini can stand, through the dispatcher's start and a resend with AUTH LOGIN, against a
    // server that offers STARTTLS and records every byte: only a missing file or key means the clear, and
    // what cannot be read sends nothing at all.
    void everyChoiceOnTheWire_data()
    {
        QTest::addColumn<QByteArray>("ini");  // or what stands in its place: "(none)", "(folder)", "(FIFO)"
        QTest::addColumn<QByteArray>("wire"); // all the client sends; "(refused)": the start is refused, no connection
        const char *clear = "EHLO 127.0.0.1\r\nAUTH LOGIN\r\n", *startTls = "EHLO 127.0.0.1\r\nSTARTTLS\r\n";
        const char* refused = "(refused)"; // what seems to ask for encryption and is not understood sends nothing
        const char* const rows[][3] = {
            {"no file", "(none)", clear},
            {"other sections only, behind a byte order mark",
             "\xEF\xBB\xBF[Fenster]\nMaximiert=1\n[Anmeldung]\nVerfahren=Kennwort\n", clear},
            {"the key with an umlaut, UTF-8", "[SMTP]\nVerschl\xC3\xBCsselung=STARTTLS\n", refused},
            {"the key with an umlaut, Windows-1252", "[SMTP]\nVerschl\xFCsselung=STARTTLS\n", refused},
            {"a colon for the equals sign", "[SMTP]\nVerschluesselung: STARTTLS\n", refused},
            {"a no-break space in the key", "[SMTP]\nVerschluesselung\xC2\xA0=STARTTLS\n", refused},
            {"a zero-width space in the key", "[SMTP]\nVerschl\xE2\x80\x8Buesselung=STARTTLS\n", refused},
            {"a misspelt section", "[SMPT]\nVerschluesselung=STARTTLS\n", refused},
            {"the key in another section", "[Fenster]\nVerschluesselung=SSL/TLS\n", refused},
            {"\"STARTTLS \" with a blank", "[SMTP]\nVerschluesselung=\"STARTTLS \"\n", startTls},
            {"unknown value", "[SMTP]\nVerschluesselung=TLS\n", refused},
            {"empty value", "[SMTP]\nVerschluesselung=\n", refused},
            {"before the sections and in [SMTP], alike",
             "Verschluesselung=STARTTLS\n[SMTP]\nVerschluesselung=starttls\n", startTls},
            {"two differing values", "[SMTP]\nVerschluesselung=STARTTLS\nVerschluesselung=Keine\n", refused},
            {"a folder", "(folder)", refused},
            {"a FIFO", "(FIFO)", refused}};
        for (const auto& [name, ini, wire] : rows)
            QTest::newRow(name) << QByteArray(ini) << QByteArray(wire);
        const QString text = QStringLiteral("[SMTP]\r\nVerschluesselung=STARTTLS\r\n");
        const QByteArray utf16 = "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        QTest::newRow("UTF-16 with a byte order mark") << utf16 << QByteArray(refused);
    }
    void everyChoiceOnTheWire()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, wire);
        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250-mail\r\n250 STARTTLS\r\n");
        EngineBench bench(server.port(), {.smtp = {.conversationMs = 300}});
        const QString path = iniFilePathIn(bench.program);
        if (ini == "(folder)")
            QVERIFY(QDir().mkdir(path));
        else if (ini == "(FIFO)")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (ini != "(none)")
            writeBytes(path, ini);
        bench.store.settings().UseSpa = 2;
        bench.store.tables()
            .folder(FailedFolder)
            .append(*bench.store.tables().createMail(mailWith("B", "ERRMessage4")));
        Dispatcher& dispatcher = bench.restart();
        const bool refused = wire == "(refused)";
        QCOMPARE(dispatcher.StartProcessing(), refused ? StartCheck::UnusableEncryption : StartCheck::Ok);
        QSignalSpy done(&dispatcher, &Dispatcher::resendFinished);
        QCOMPARE(dispatcher.resend(FailedFolder, 1), Dispatcher::Answer::Started);
        QVERIFY(done.wait(5000));
        QCOMPARE(server.received(), refused ? QByteArray() : wire);
        if (refused) {
            QCOMPARE(bench.store.tables().mail(1).Status, QByteArray("ERRMessage8"));
            QVERIFY2(bench.view.messages.first().contains("kadmel.ini"), bench.view.messages.first().constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestTls)
#include "tst_tls.moc"
