#include "engine/DeliveryAttempt.h"
#include "engine/HtmlBody.h"
#include "store/Ansi.h"
#include "store/KadmelIni.h"
#include "store/StoreFiles.h"
#include "support/LocalSettings.h"
#include "support/MemorySecretStore.h"
#include "support/RecordingView.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"
#include "support/TokenEndpoint.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// A store holding one mail and the delivery attempt alone: no job folder, no dispatcher, no filing.
struct AttemptBench
{
    QTemporaryDir dir;
    Store store{dir.path()};
    RecordingView view;
    std::unique_ptr<DeliveryAttempt> attempt;

    AttemptBench(quint16 port, qint64 offThreadBytes, const QByteArray& body, SecretStore* secrets = nullptr,
                 const QList<QSslCertificate>& ca = {})
    {
        store.loadAtStartup();
        store.settings() = localSettings(dir.path(), port);
        MailRecord mail = mailWith("Betreff", {});
        mail.From = "alice@example.com";
        mail.To = "bob@example.com";
        mail.Body = body;
        store.tables().createMail(mail);
        attempt = std::make_unique<DeliveryAttempt>(
            store, view,
            EngineTimings{.smtp = {.connectMs = 2000, .abortGraceMs = 300, .extraCaCertificates = ca},
                          .offThreadBytes = offThreadBytes},
            secrets);
    }
};

} // namespace

class TestDeliveryAttempt : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The same message leaves whether its page and Base64 were made here or beside the window's thread.
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
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        const QByteArray body = "Gr\xFC\xDF" + QByteArray("e  aus\r\n Bonn ").repeated(3000);
        AttemptBench bench(sink.port(), offThreadBytes, body);
        QSignalSpy finished(bench.attempt.get(), &DeliveryAttempt::finished);
        bench.attempt->start(1);
        QVERIFY(finished.isEmpty()); // never from within start()
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(sink.messages().size(), 1);
        QCOMPARE(sink.messages().at(0).decodedBody(), ComposeHtmlBody(body));
        const SmtpLog log = bench.attempt->takeLog();
        QVERIFY(log.Sent.contains("DATA\r\n"));
    }

    // The program ends during the attempt: it is cut short, also while its page is still being made.
    void abortCutsTheAttemptShort_data() { oneAttemptSendsThePage_data(); }
    void abortCutsTheAttemptShort()
    {
        QFETCH(qint64, offThreadBytes);
        ScriptedSmtpServer server;
        server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").stall();
        AttemptBench bench(server.port(), offThreadBytes, "Text");
        QSignalSpy finished(bench.attempt.get(), &DeliveryAttempt::finished);
        bench.attempt->start(1);
        if (offThreadBytes != 0)
            QTRY_VERIFY(server.received().contains("EHLO"));
        bench.attempt->abort();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QCOMPARE(finished.at(0).at(1).toByteArray(), QByteArray("ERRMessage6"));
    }

    // Secrets in the keyring: read for the token request; a renewed refresh token goes to a new entry before
    // the old one is removed; a keyring that refuses fails the mail with its reason.
    void keyringHoldsTheSecrets()
    {
        const QByteArray token = "ya29.schluesselbund";
        SmtpSink sink({"konto@example.com", {}, SinkTls::StartTls, "localhost", token});
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        TokenEndpoint endpoint({TokenEndpoint::token(token, 3600, "rt-neu.2")});
        MemorySecretStore keyring;
        keyring.entries = {{QStringLiteral("Client-Geheimnis-a"), "S3cr3t"},
                           {QStringLiteral("Aktualisierungstoken-a"), "rt-alt.1"}};
        AttemptBench bench(sink.port(), qint64(1) << 40, "Text", &keyring, sink.caCertificates());
        bench.store.settings().SmtpServer = "localhost";
        bench.store.settings().SmtpUser = "konto@example.com";
        KadmelIniChanges ini;
        ini.encryption = Encryption::StartTls;
        AuthSetting& auth = ini.signIn.emplace();
        auth.method = AuthMethod::OAuth2Browser;
        auth.tokenUrl = endpoint.url();
        auth.authorizationUrl = "https://login.example/authorize";
        auth.clientId = "kadmel";
        auth.clientSecretKey = "Client-Geheimnis-a";
        auth.refreshTokenKey = "Aktualisierungstoken-a";
        QString error;
        QVERIFY2(bench.store.kadmelIni().write(ini, &error), qPrintable(error));
        QSignalSpy finished(bench.attempt.get(), &DeliveryAttempt::finished);
        bench.attempt->start(1);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(endpoint.requests(), QByteArrayList{"grant_type=refresh_token&refresh_token=rt-alt.1&client_id=kadmel"
                                                     "&client_secret=S3cr3t"});
        const QString renewed = QString::fromLatin1(bench.store.kadmelIni().read().signIn->refreshTokenKey);
        QCOMPARE(keyring.entries.keys(), QStringList({renewed, QStringLiteral("Client-Geheimnis-a")}));
        QCOMPARE(keyring.entries.value(renewed), QByteArray("rt-neu.2"));
        QVERIFY(!fileBytes(bench.store.kadmelIni().path()).contains("rt-"));

        keyring.refusal = QStringLiteral("Der Schlüsselbund ist gesperrt.");
        bench.attempt->start(1);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(1).at(1).toByteArray(), QByteArray("ERRMessage10"));
        QVERIFY(bench.attempt->takeLog().Received.join().contains(toAnsi(keyring.refusal)));
    }
};

QTEST_GUILESS_MAIN(TestDeliveryAttempt)
#include "tst_deliveryattempt.moc"
