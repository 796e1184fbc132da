#include "engine/DeliveryAttempt.h"
#include "engine/FailureReason.h"
#include "engine/HtmlBody.h"
#include "engine/SecretStore.h"
#include "store/ResultCode.h"
#include "support/EngineBench.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"
#include "support/TokenEndpoint.h"

#include <QSignalSpy>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;
using Answers = QList<TokenEndpoint::Answer>;

Q_DECLARE_METATYPE(kadmel::AuthMethod)

namespace {

// One mail in the store and the delivery attempt alone: no job folder, no dispatcher, no filing.
struct AttemptBench : EngineBench
{
    std::unique_ptr<DeliveryAttempt> attempt;

    AttemptBench(quint16 port, const EngineTimings& engineTimings, const QByteArray& body = "Text")
        : EngineBench(port, engineTimings)
    {
        MailRecord mail = mailWith("Betreff", {});
        mail.From = "alice@example.com";
        mail.To = "bob@example.com";
        mail.Body = body;
        store.tables().createMail(mail);
        attempt = std::make_unique<DeliveryAttempt>(store, view, timings);
    }
    // Runs the attempt to its end, which comes once and never from within start(): the status it files, what
    // panel 2 says of it, and all its log holds.
    struct Outcome
    {
        QByteArray status, said, log;
    };
    Outcome run(const std::function<void()>& meanwhile = [] {})
    {
        QSignalSpy finished(attempt.get(), &DeliveryAttempt::finished);
        attempt->start(1);
        if (!finished.isEmpty())
            return {"(aus start())", {}, {}};
        meanwhile();
        if ((finished.isEmpty() && !finished.wait(10000)) || finished.size() != 1)
            return {"(kein Ende)", {}, {}};
        MailRecord filed;
        filed.Status = codeBytes(finished.at(0).at(0).value<DeliveryOutcome>().code);
        filed.Log = attempt->takeLog();
        return {filed.Status, resultTextWithReason(filed), filed.Log.Sent.join() + filed.Log.Received.join()};
    }
};

EngineTimings quick(qint64 offThreadBytes)
{
    return {.smtp = {.connectMs = 2000, .abortGraceMs = 300}, .offThreadBytes = offThreadBytes};
}

const QByteArray Secret = "S3cr3t&Wert=1 +", Token = "ya29.a0AfH6SM-gut";

// The desktop's keyring holding the secret, answering after the call as the real one does; locked, it refuses.
struct SecretKeyring : SecretStore
{
    bool locked = false;
    JobPtr<SecretJob> read(const QString&) override
    {
        auto job = startJob<SecretJob>();
        job->answerWith({!locked, locked ? QByteArray() : Secret, QStringLiteral("gesperrt")});
        return job;
    }
    JobPtr<SecretJob> write(const QString&, const QByteArray&) override { return startJob<SecretJob>(); } // not asked
    JobPtr<SecretJob> remove(const QString&) override { return startJob<SecretJob>(); }
};

} // namespace

class TestDeliveryAttempt : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The same message leaves whether its page and Base64 were made here or beside the window's thread; the
    // program's end cuts the attempt short, also while its page is still being made.
    void oneAttemptSendsThePage_data()
    {
        QTest::addColumn<qint64>("offThreadBytes");
        QTest::newRow("page made here") << (qint64(1) << 40);
        QTest::newRow("page made beside") << qint64(0);
    }
    void oneAttemptSendsThePage()
    {
        QFETCH(qint64, offThreadBytes);
        SmtpSink sink;
        const QByteArray body = "Gr\xFC\xDF" + QByteArray("e  aus\r\n Bonn ").repeated(3000);
        AttemptBench bench(sink.port(), quick(offThreadBytes), body);
        const auto [status, said, log] = bench.run();
        QCOMPARE(status, QByteArray("MSGSENT"));
        QCOMPARE(sink.messages().size(), 1);
        QCOMPARE(sink.messages().at(0).decodedBody(), ComposeHtmlBody(body));
        QVERIFY(log.contains("DATA\r\n"));

        ScriptedSmtpServer server;
        server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").stall();
        AttemptBench stalled(server.port(), quick(offThreadBytes));
        const auto cut = stalled.run([&] {
            if (offThreadBytes != 0)
                QTRY_VERIFY(server.received().contains("EHLO"));
            stalled.attempt->abort();
        });
        QCOMPARE(cut.status, QByteArray("ERRMessage6"));
    }

    // Two mails with each answer of the token address, through STARTTLS to a sink that takes one token. A token
    // is asked for again only when the kept one is near its end; a failed sign-in says the address's reason
    // where a server's reply is said. No secret, token or refresh token is left in any file in the clear.
    void oauthSignIn_data()
    {
        QTest::addColumn<AuthMethod>("method");
        QTest::addColumn<QByteArray>("tokenUrl"); // empty: the local endpoint
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QByteArray>("status"); // of both mails
        QTest::addColumn<int>("requests");
        QTest::addColumn<QByteArray>("shown"); // the reason after the status text
        const QByteArray sent = "MSGSENT", err10 = "ERRMessage10", none;
        const auto row = [&](const char* name, const TokenEndpoint::Answer& answer, const QByteArray& status,
                             int requests, const QByteArray& shown, AuthMethod method = AuthMethod::OAuth2Dienst,
                             QByteArray url = {}) {
            QTest::newRow(name) << method << url << Answers{answer} << status << requests << shown;
        };
        row("service account, the token kept for the next mail", TokenEndpoint::token(Token, 3600), sent, 1, none);
        row("a token in its last minute is asked for again", TokenEndpoint::token(Token, 60), sent, 2, none);
        row("browser sign-in, the new refresh token stored", TokenEndpoint::token(Token, 3600, "rt-neu.2"), sent, 1,
            none, AuthMethod::OAuth2Browser);
        row("the mail server refuses the token: asked anew", TokenEndpoint::token("ya29.abgelaufen", 3600),
            "ERRMessage3", 2, "(535 5.7.8 Username and Password not accepted)");
        row("the mail server asks again after the empty answer", TokenEndpoint::token("ya29.nochmal", 3600),
            "ERRMessage3", 2, none); // a 334 is no refusal, whatever it holds
        row("no answer within the limit", {200, {}, true}, err10, 2, "nicht innerhalb von 1,5 s geantwortet.");
        row("no JSON", {200, "<html>Anmelden</html>"}, err10, 2, "keine g\xFCltige Antwort (HTTP 200).");
        row("a token that would break the command line", TokenEndpoint::token("ya29\\r\\nQUIT", 3600), err10, 2,
            "kein verwendbares Zugriffstoken.");
        row("http to another machine", {}, err10, 0, "muss mit \x84https://\x93 beginnen", AuthMethod::OAuth2Dienst,
            "http://192.0.2.1/token");
    }
    void oauthSignIn()
    {
        QFETCH(AuthMethod, method);
        QFETCH(QByteArray, tokenUrl);
        QFETCH(Answers, answers);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, shown);
        SinkOptions options{"konto@example.com", {}, SinkTls::StartTls, "localhost", Token};
        SmtpSink sink(options);
        TokenEndpoint endpoint(answers);
        EngineTimings timings{.smtp = {5000, 5000}, .tokenMs = 1500};
        timings.smtp.extraCaCertificates = sink.caCertificates();
        AttemptBench bench(sink.port(), timings);
        Settings& settings = bench.store.settings();
        settings = {settings.WatchFolder, "localhost", settings.SmtpPort, options.user, {}, 1, 2}; // no password
        const bool service = method == AuthMethod::OAuth2Dienst;
        // The first row's secret is in the keyring, locked after the first mail: the kept token needs it no more.
        SecretKeyring keyring;
        const bool fromKeyring = QByteArray(QTest::currentDataTag()).startsWith("service account");
        if (fromKeyring)
            bench.attempt = std::make_unique<DeliveryAttempt>(bench.store, bench.view, timings, &keyring);
        // Non-ASCII as the dialog of older versions wrote it (Windows-1252) and as typed into the file (UTF-8).
        const AuthSetting auth{method,
                               tokenUrl.isEmpty() ? endpoint.url() : tokenUrl,
                               {},
                               service ? "kadmel \xE4pp" : "kadmel \xC3\xA4pp",
                               service && !fromKeyring ? Secret : QByteArray(),
                               "https://mail.google.com/ \xC3\xBC",
                               service ? QByteArray() : QByteArray("rt-alt.1"),
                               fromKeyring ? QByteArray("k") : QByteArray()};
        QVERIFY(saveIni(bench.program, {.encryption = Encryption::StartTls, .signIn = auth}));
        QByteArray logs;
        for (int mail = 0; mail < 2; ++mail) {
            const auto [filed, said, log] = bench.run();
            QCOMPARE(filed, status);
            QVERIFY2(said.startsWith(ResultText(status)) && said.contains(shown), said.constData());
            logs += log;
            keyring.locked = true;
        }
        QCOMPARE(sink.messages().size(), status == "MSGSENT" ? 2 : 0);
        for (const ReceivedMail& got : sink.messages())
            QCOMPARE(got.mechanism + ' ' + got.login + ' ' + got.password, "XOAUTH2 konto@example.com " + Token);
        QTEST(int(endpoint.requests().size()), "requests");
        if (!endpoint.requests().isEmpty())
            QCOMPARE(endpoint.requests().at(0),
                     (service ? "grant_type=client_credentials" : "grant_type=refresh_token&refresh_token=rt-alt.1") +
                         QByteArray("&client_id=kadmel%20%C3%A4pp") +
                         (service ? "&client_secret=S3cr3t%26Wert%3D1%20%2B" : "") +
                         "&scope=https%3A%2F%2Fmail.google.com%2F%20%C3%BC");
        if (!service)
            QCOMPARE(loadIni(bench.program).signIn->refreshToken, QByteArray("rt-neu.2"));
        // Neither the log that is filed with the mail nor any file holds a secret or token in the clear.
        const QByteArrayList kept = snapshot(bench.dir.path()).values() << logs;
        for (const QByteArray& bytes : kept)
            for (const QByteArray& secret : {Secret, QByteArray("rt-"), QByteArray("ya29"), Token.toBase64().left(8),
                                             QByteArray("user=konto").toBase64().left(12)})
                QVERIFY(!bytes.contains(secret));
    }

    // What cannot sign in is refused by the start's check and fails an attempt before any connection to the
    // listening server, saying why. The program's end cuts a token request short.
    void unusableSignInIsRefused()
    {
        TokenEndpoint endpoint({{200, {}, true}});
        ScriptedSmtpServer server;
        AttemptBench bench(server.port(), quick(qint64(1) << 40));
        bench.store.settings().SmtpPassword.clear();
        bench.store.settings().UseSpa = 2;
        const QByteArray oauth = "[Anmeldung]\nVerfahren=oauth2-dienst\nClientId=id\nTokenAdresse=" + endpoint.url();
        const std::tuple<QByteArray, StartCheck, QByteArray, QByteArray> rows[] = {
            {"", StartCheck::IncompleteSmtp, "ERRMessage10", "aber das Passwort fehlt"}, // never sent without AUTH
            {"[Anmeldung]\nVerfahren=SAML\n", StartCheck::UnusableSignIn, "ERRMessage10", "\x84SAML\x93 ist unbekannt"},
            {oauth + "\nClientGeheimnis=KaL", StartCheck::OAuthNeedsEncryption, "ERRMessage8",
             "OAuth 2.0 erfordert eine verschl\xFCsselte Verbindung."},
            {"[SMTP]\nVerschluesselung=STARTTLS\n" + oauth, StartCheck::IncompleteSmtp, "ERRMessage10",
             "mit OAuth 2.0 ist unvollst\xE4ndig"},
            {"[SMTP]\nVerschluesselung=STARTTLS\n" + oauth + "\nClientGeheimnis=KaL", StartCheck::Ok, "ERRMessage10",
             "abgebrochen: Das Programm wird beendet."}};
        for (const auto& [ini, check, code, shown] : rows) {
            writeBytes(iniFilePathIn(bench.program), ini);
            QString reason;
            QCOMPARE(bench.attempt->checkStart(bench.store.settings(), &reason), check);
            QCOMPARE(toAnsi(reason).contains(shown), check > StartCheck::UnusableEncryption);
            // The token request runs into the program's end, long before its 10 s.
            const auto [status, said, log] = bench.run([&] {
                if (check == StartCheck::Ok) {
                    QTRY_COMPARE(endpoint.requests().size(), 1);
                    bench.attempt->abort();
                }
            });
            QCOMPARE(status, code);
            QVERIFY2(said.contains(shown), said.constData());
        }
        QCOMPARE(server.connectionCount(), 0);
    }

    // A message over kadmel.ini's limit fails before any connection, naming both sizes.
    void ownSizeLimitRefusesBeforeConnecting()
    {
        ScriptedSmtpServer server;
        AttemptBench bench(server.port(), quick(0), QByteArray(1500000, 'x'));
        writeBytes(iniFilePathIn(bench.program), "[Zustellung]\nMaximaleGroesseMB=1\n");
        const auto [status, said, log] = bench.run();
        QCOMPARE(status + said.mid(said.indexOf(' ')),
                 QByteArray("ERRMessage7 (Die E-Mail ist 2,1 MB gro\xDF, MaximaleGroesseMB in kadmel.ini erlaubt "
                            "h\xF6"
                            "chstens 1,0 MB.)"));
        QCOMPARE(server.connectionCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDeliveryAttempt)
#include "tst_deliveryattempt.moc"
