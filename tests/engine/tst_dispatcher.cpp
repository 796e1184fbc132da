#include "engine/ByteText.h"
#include "engine/Dispatcher.h"
#include "engine/HtmlBody.h"
#include "engine/MailBudget.h"
#include "engine/RetrySchedule.h"
#include "smtp/Message.h"
#include "store/Ansi.h"
#include "store/AuthSetting.h"
#include "store/EncryptionSetting.h"
#include "store/FileAccess.h"
#include "store/IniFile.h"
#include "store/ResultCode.h"
#include "store/RetryFile.h"
#include "store/RetrySetting.h"
#include "store/StoreFiles.h"
#include "support/LocalSettings.h"
#include "support/MailReader.h"
#include "support/RecordingView.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmallDisk.h"
#include "support/SmtpSink.h"
#include "support/TimePassed.h"
#include "support/TokenEndpoint.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kadmel;
using namespace kadmel::test;
using Answers = QList<TokenEndpoint::Answer>;

Q_DECLARE_METATYPE(kadmel::AuthMethod)

namespace {

// A program folder and a job folder in a temporary place, a store loaded from it, and a dispatcher
// with short timings that shows into a recorder.
struct Bench
{
    QTemporaryDir dir;
    QString programFolder = dir.path() + QStringLiteral("/program");
    QString jobFolder = dir.path() + QStringLiteral("/watch/KDMEML/");
    std::unique_ptr<SmallDisk> disk; // the program folder on a tmpfs of its own, when asked for
    std::unique_ptr<Store> store;
    RecordingView view;
    EngineTimings timings;
    std::unique_ptr<Dispatcher> dispatcher;

    explicit Bench(quint16 port, int minJobAgeMs = 0, int alertMs = 5000, int pollMs = 20, int conversationMs = 1500,
                   int retryMinuteMs = 60000, const char* smallDisk = nullptr)
        : timings{.pollMs = pollMs,
                  .alertCloseMs = alertMs,
                  .minJobAgeMs = minJobAgeMs,
                  .smtp = {.connectMs = 300, .conversationMs = conversationMs, .abortGraceMs = 300},
                  .retryMinuteMs = retryMinuteMs}
    {
        QDir().mkpath(programFolder);
        QDir().mkpath(jobFolder);
        if (smallDisk)
            disk = std::make_unique<SmallDisk>(programFolder, smallDisk);
        store = std::make_unique<Store>(programFolder);
        store->loadAtStartup();
        store->settings() = localSettings(dir.path() + QStringLiteral("/watch"), port);
        dispatcher = std::make_unique<Dispatcher>(*store, view, timings);
    }

    // Names are bytes, as the producer's file system holds them.
    void writeJob(const QByteArray& name, const QByteArray& text) const
    {
        QFile file;
        const int fd = ::open(jobPath(name).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        QCOMPARE(file.write(text), text.size());
    }
    QByteArray jobPath(const QByteArray& name) const { return QFile::encodeName(jobFolder) + name; }
    static QByteArray job(const QByteArray& subject, const QByteArray& body = "Text")
    {
        return "@@FR alice@example.com@@TO bob@example.com@@SB " + subject + "@@\r\n\r\n" + body;
    }
    bool jobExists(const QByteArray& name) const
    {
        struct stat st;
        return ::lstat(jobPath(name).constData(), &st) == 0;
    }
    const MailTables& tables() const { return store->tables(); }
    // The folders and records as the next start loads them.
    MailTables reloaded() const
    {
        Store again(programFolder);
        again.loadAtStartup();
        return again.tables();
    }
    void setPort(quint16 port) { store->settings().SmtpPort = static_cast<qint16>(port); }
};

// A server that greets and answers EHLO.
ScriptedSmtpServer& greeting(ScriptedSmtpServer& server)
{
    return server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
}

// A server that takes a whole message from alice to bob and then never answers.
void silentAfterMessage(ScriptedSmtpServer& server)
{
    greeting(server).expect("MAIL FROM: <alice@example.com>\r\n").reply("250 ok\r\n");
    server.expect("RCPT TO: <bob@example.com>\r\n").reply("250 ok\r\n");
    server.expect("DATA\r\n").reply("354 go\r\n").expect("\r\n.\r\n");
}

const QByteArray Secret = "S3cr3t&Wert=1 +", Token = "ya29.a0AfH6SM-gut";

} // namespace

class TestDispatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void jobsTravelOneAtATimeAndLandOnDisk()
    {
        SmtpSink sink;
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        Bench bench(sink.port(), 0, 300);
        bench.view.tray = true; // each mail's alert closes before the next job is taken
        // CP850: "Grüße" in the body, "ä" in the subject.
        bench.writeJob("a.zub", Bench::job("eins \x84", "Gr\x81\xE1" + QByteArray("e  aus  Bonn")));
        bench.writeJob("b.ZUB", Bench::job("zwei"));
        bench.writeJob("c.zub", Bench::job("drei"));
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);

        QCOMPARE(bench.dispatcher->StartProcessing(), StartCheck::Ok);
        QVERIFY(bench.view.active);
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(bench.dispatcher->IdleFlag(), 15000);

        // Strictly one mail in hand at a time: every pick-up follows the previous mail's filing and alert.
        QByteArrayList order;
        for (const QByteArray& line : bench.view.log)
            if (line.startsWith("message E-Mail wird b") || line.startsWith("row ") || line.endsWith("-alert"))
                order.append(line);
        QCOMPARE(order, (QByteArrayList{"message E-Mail wird bearbeitet...  (ID 1)", "row 1 1 bold", "close-alert",
                                        "message E-Mail wird bearbeitet...  (ID 2)", "row 1 2 bold", "close-alert",
                                        "message E-Mail wird bearbeitet...  (ID 3)", "row 1 3 bold", "close-alert"}));
        QVERIFY(bench.view.log.contains("show-alert E-Mail wird bearbeitet...  (ID 2)\r\nBetreff: zwei\r\n"
                                        "An: bob@example.com"));
        QVERIFY(bench.view.log.contains("set-alert " + ResultText("MSGSENT")));
        QCOMPARE(bench.view.captions.at(0), QByteArray("Gesendete Objekte  (3)"));

        const QList<ReceivedMail> mails = sink.messages();
        QCOMPARE(mails.size(), 3);
        QVERIFY(mails.at(0).content.contains("\r\nSubject: =?windows-1252?Q?eins_=E4?=\r\n"));

        const MailRecord& first = bench.tables().mail(1);
        QCOMPARE(first.Body, "Gr\xFC\xDF" + QByteArray("e  aus  Bonn"));
        QCOMPARE(first.Size, QByteArray("16 Bytes"));
        QVERIFY(first.Log.Sent.size() > 5 && first.Log.Sent.last().isEmpty());
    }

    void failedMailsAndResends()
    {
        Bench bench(ScriptedSmtpServer::unusedPort());
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        QSignalSpy resent(bench.dispatcher.get(), &Dispatcher::resendFinished);
        for (const char* name : {"a.zub", "b.zub", "c.zub"})
            bench.writeJob(name, Bench::job(name));
        bench.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 3, 8000);
        QCOMPARE(bench.tables().folder(FailedFolder).entries(), (QList<qint16>{1, 2, 3}));
        QCOMPARE(bench.view.message, QByteArray("Es konnte keine Verbindung zum Mailserver hergestellt werden."));
        bench.dispatcher->StopProcessing();
        QTRY_VERIFY(bench.dispatcher->IdleFlag());

        // A second request while one runs is refused.
        QCOMPARE(bench.dispatcher->resend(FailedFolder, 2), Dispatcher::Answer::Started);
        QCOMPARE(bench.dispatcher->resend(FailedFolder, 1), Dispatcher::Answer::Busy);
        QVERIFY(resent.wait(5000));
        { // Send all, service inactive: each mail tried once, moved to the sent folder; polling stays off.
          // (The mails it leaves alone or that cannot go out are the folder commands' test.)
            SmtpSink sink;
            QVERIFY(sink.isRunning());
            bench.setPort(sink.port());
            bench.store->tables().mail(1).Status = "ERRMessage9";
            bench.writeJob("d.zub", Bench::job("vier"));
            QCOMPARE(bench.dispatcher->resendAllFailed(), Dispatcher::Answer::Started);
            QVERIFY(resent.wait(8000));
            QCOMPARE(bench.tables().folder(SentFolder).entries(), (QList<qint16>{2, 3}));
            QVERIFY(bench.view.log.contains("remove 2 2") && bench.view.log.contains("row 1 3"));
            QCOMPARE(sink.messages().size(), 2);
            QVERIFY(letTimePass(150)); // time for several ticks, had polling been on
            QVERIFY(bench.jobExists("d.zub"));
            QVERIFY(!bench.view.active);
        }
    }

    void stopDuringSendFinishesTheMailThenStaysIdle()
    {
        ScriptedSmtpServer server;
        server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").stall();
        Bench bench(server.port());
        bench.writeJob("a.zub", Bench::job("eins"));
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QTRY_VERIFY(!bench.dispatcher->IdleFlag());
        QCOMPARE(bench.dispatcher->beginCommand(), false);
        bench.dispatcher->StopProcessing();
        QCOMPARE(bench.dispatcher->ServiceState(), qint16(2));
        QVERIFY(!bench.dispatcher->IdleFlag()); // the mail in hand goes on
        QVERIFY(filed.wait(5000));
        QCOMPARE(bench.tables().mail(1).Status, QByteArray("ERRMessage6"));
        QVERIFY(bench.dispatcher->IdleFlag());
        bench.writeJob("b.zub", Bench::job("zwei"));
        QVERIFY(letTimePass(150)); // time for several ticks, had polling been on
        QVERIFY(bench.jobExists("b.zub"));

        // The program ends: a mail whose message went out still gets the grace for its reply, then counts as
        // perhaps delivered.
        ScriptedSmtpServer quiet;
        silentAfterMessage(quiet);
        bench.setPort(quiet.port());
        bench.dispatcher->StartProcessing();
        QTRY_VERIFY(quiet.scriptDone());
        QElapsedTimer clock;
        clock.start();
        bench.dispatcher->stopForExit();
        QVERIFY(filed.wait(15000));
        QVERIFY(clock.elapsed() >= 300);
        QCOMPARE(bench.tables().mail(2).Status, QByteArray("ERRMessage9"));
    }

    void youngJobsWaitUntilWritten()
    {
        SmtpSink sink;
        QVERIFY(sink.isRunning());
        // A job changed a moment ago may still be being written; one dated ahead waits until seen unchanged.
        Bench young(sink.port(), 2000);
        young.writeJob("a.zub", Bench::job("jung"));
        young.writeJob("b.zub", Bench::job("Zukunft"));
        QFile ahead(QFile::decodeName(young.jobPath("b.zub")));
        QVERIFY(ahead.open(QIODevice::ReadWrite) &&
                ahead.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
        const QDateTime written = QFileInfo(QFile::decodeName(young.jobPath("a.zub"))).lastModified();
        QList<std::pair<QDateTime, qint64>> taken; // each pick-up on the wall clock and since the start
        QElapsedTimer clock;
        connect(young.dispatcher.get(), &Dispatcher::idleChanged, [&](bool idle) {
            if (!idle)
                taken.append({QDateTime::currentDateTime(), clock.elapsed()});
        });
        clock.start();
        young.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(young.tables().MailCount(), qint16(2), 15000);
        QCOMPARE(young.tables().mail(1).Subject, QByteArray("jung"));
        QVERIFY(taken.at(0).first >= written.addMSecs(2000)); // on the clock of the file's time
        QVERIFY(taken.at(1).second >= 2000);                  // seen unchanged that long from the first tick on
    }

    // A mail's file holds its body and the Base64 message: the largest accepted job is delivered and
    // loads back after a restart, one byte more is refused before sending and stays, the next job goes out.
    void mailsAtTheFileLimitGoOutAndLoadBack()
    {
        SmtpSink sink;
        QVERIFY(sink.isRunning());
        Bench bench(sink.port(), 0, 5000, 20, 60000);
        const QByteArray line = "Position 17: Lieferung  nach Bonn, Menge 12, je 3,50 EUR\r\n";
        const QByteArray text = line.repeated(MaxMailFileBytes / 2 / line.size());
        MailRecord probe{
            {}, {}, "alice@example.com", "bob@example.com", "gro\xDF", {}, dateText(QDateTime::currentDateTime()),
            {}, {}};
        const auto fits = [&](qsizetype size) {
            probe.Body = text.first(size);
            probe.Size = FormatByteSize(size);
            return projectedMailFileSize(probe, bench.store->settings()) <= MaxMailFileBytes;
        };
        qsizetype low = 0, high = text.size(); // fits(low), !fits(high)
        QVERIFY(!fits(high));
        while (high - low > 1)
            (fits((low + high) / 2) ? low : high) = (low + high) / 2;
        QVERIFY(low > 20 * 1024 * 1024); // ordinary text up to 20 MiB always goes
        bench.writeJob("1-over.zub", Bench::job("gro\xE1", text.first(high)));
        bench.writeJob("2-under.zub", Bench::job("gro\xE1", text.first(low)));
        bench.writeJob("3-small.zub", Bench::job("klein"));
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 2, 60000);
        QVERIFY(bench.jobExists("1-over.zub"));
        QCOMPARE(bench.view.said("1-over.zub\x93 wird nicht gesendet: Seine Maildatei w\xE4re"), 1);
        QCOMPARE(sink.messages().size(), 2);
        QCOMPARE(sink.messages().at(0).decodedBody(), ComposeHtmlBody(text.first(low)));
        QVERIFY(QFileInfo(bench.store->mailFilePath(1)).size() <= MaxMailFileBytes);
        QCOMPARE(bench.reloaded(), bench.tables());
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
            "ERRMessage3", 2, "(334 ");
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
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        TokenEndpoint endpoint(answers);
        Bench bench(sink.port());
        Settings& settings = bench.store->settings();
        settings = {settings.WatchFolder, "localhost", settings.SmtpPort, options.user, {}, 1, 2}; // no password
        const bool service = method == AuthMethod::OAuth2Dienst;
        QVERIFY(saveEncryption(bench.programFolder, Encryption::StartTls));
        AuthSetting auth;
        auth.method = method;
        auth.tokenUrl = tokenUrl.isEmpty() ? endpoint.url() : tokenUrl;
        // Non-ASCII as the dialog of older versions wrote it (Windows-1252) and as typed into the file (UTF-8).
        auth.clientId = service ? "kadmel \xE4pp" : "kadmel \xC3\xA4pp";
        auth.scope = "https://mail.google.com/ \xC3\xBC";
        (service ? auth.clientSecret : auth.refreshToken) = service ? Secret : "rt-alt.1"; // by the method
        QVERIFY(saveAuthSetting(bench.programFolder, auth));
        EngineTimings timings{
            .pollMs = 20, .alertCloseMs = 5000, .minJobAgeMs = 0, .smtp = {5000, 5000}, .tokenMs = 1500};
        timings.smtp.extraCaCertificates = sink.caCertificates();
        bench.dispatcher = std::make_unique<Dispatcher>(*bench.store, bench.view, timings);
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.writeJob("a.zub", Bench::job("eins"));
        bench.writeJob("b.zub", Bench::job("zwei"));
        QCOMPARE(bench.dispatcher->StartProcessing(), StartCheck::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 2, 8000);

        QCOMPARE(bench.tables().mail(1).Status + ' ' + bench.tables().mail(2).Status, status + ' ' + status);
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
        QVERIFY2(bench.view.message.startsWith(ResultText(status)) && bench.view.message.contains(shown),
                 bench.view.message.constData());
        if (!service)
            QCOMPARE(loadAuthSetting(bench.programFolder)->refreshToken, QByteArray("rt-neu.2"));
        for (QDirIterator files(bench.programFolder, QDir::Files, QDirIterator::Subdirectories); files.hasNext();) {
            const QByteArray bytes = fileBytes(files.next());
            for (const QByteArray& secret : {Secret, QByteArray("rt-"), QByteArray("ya29"), Token.toBase64().left(8),
                                             QByteArray("user=konto").toBase64().left(12)})
                QVERIFY2(!bytes.contains(secret), qPrintable(files.fileName()));
        }
    }

    // What cannot sign in does not start, and a resend of it fails before any connection, saying why. The
    // program's end cuts a token request short.
    void unusableSignInIsRefused()
    {
        TokenEndpoint endpoint({{200, {}, true}});
        Bench bench(ScriptedSmtpServer::unusedPort());
        bench.store->settings().SmtpPassword.clear();
        MailTables& tables = bench.store->tables();
        tables.folder(FailedFolder).append(*tables.createMail(mailWith("Betreff", "ERRMessage4")));
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        const QByteArray oauth = "[Anmeldung]\nVerfahren=oauth2-dienst\nClientId=id\nTokenAdresse=" + endpoint.url();
        struct Row
        {
            QByteArray ini;
            StartCheck check;
            QByteArray status, shown;
        } const rows[] = {
            {"[Anmeldung]\nVerfahren=SAML\n", StartCheck::UnusableSignIn, "ERRMessage10", "\x84SAML\x93 ist unbekannt"},
            {oauth + "\nClientGeheimnis=KaL", StartCheck::OAuthNeedsEncryption, "ERRMessage8",
             "OAuth 2.0 erfordert eine verschl\xFCsselte Verbindung."},
            {"[SMTP]\nVerschluesselung=STARTTLS\n" + oauth, StartCheck::IncompleteSmtp, "ERRMessage10",
             "mit OAuth 2.0 ist unvollst\xE4ndig"},
            {"[SMTP]\nVerschluesselung=STARTTLS\n" + oauth + "\nClientGeheimnis=KaL", StartCheck::Ok, "ERRMessage10",
             "abgebrochen: Das Programm wird beendet."}};
        for (const Row& row : rows) {
            writeBytes(iniFilePathIn(bench.programFolder), row.ini);
            bench.view.messages.clear();
            QCOMPARE(bench.dispatcher->StartProcessing(), row.check);
            QCOMPARE(bench.view.messages.join().contains(row.shown), row.check > StartCheck::UnusableEncryption);
            bench.dispatcher->StopProcessing();
            QCOMPARE(bench.dispatcher->resend(FailedFolder, 1), Dispatcher::Answer::Started);
            if (row.check == StartCheck::Ok) { // the token request runs into the program's end, long before its 10 s
                QTRY_COMPARE(endpoint.requests().size(), 1);
                bench.dispatcher->stopForExit();
            }
            QVERIFY(filed.wait(15000) && bench.dispatcher->IdleFlag());
            QCOMPARE(tables.mail(1).Status, row.status);
            QVERIFY2(bench.view.message.contains(row.shown), bench.view.message.constData());
        }
    }

    // With the choice on, a failure that may pass is tried again until it goes out; others never are.
    // The schedule holds through Stop and a restart of the engine; a job waiting beside a due retry goes first.
    void retryScheduleAcrossStopAndRestart()
    {
        ScriptedSmtpServer stalling;
        stalling.reply("220 hello\r\n").stall();
        Bench bench(ScriptedSmtpServer::unusedPort(), 0, 5000, 20, 300, 100);
        QVERIFY(saveRetrySetting(bench.programFolder, true));
        bench.writeJob("a.zub", Bench::job("eins"));
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QVERIFY(filed.wait(5000));

        // Stop while a retry is in hand: that mail runs out of time and waits again, and no attempt follows.
        bench.setPort(stalling.port());
        QTRY_VERIFY_WITH_TIMEOUT(stalling.connectionCount() == 1 && !bench.dispatcher->IdleFlag(), 15000);
        bench.dispatcher->StopProcessing();
        const QDateTime from = QDateTime::currentDateTime();
        QVERIFY(filed.wait(15000));
        QCOMPARE(bench.tables().mail(1).Status, QByteArray("ERRMessage6"));
        QVERIFY(bench.view.retryTimes.isEmpty()); // a stopped service promises no attempt
        const std::optional<RetryFileContent> saved = loadRetryFile(bench.programFolder);
        QVERIFY(saved && saved->entries.size() == 1);
        const QDateTime next = QDateTime::fromMSecsSinceEpoch(saved->entries.at(0).nextAttempt); // the second step
        QVERIFY(from.addMSecs(200) <= next && next <= QDateTime::currentDateTime().addMSecs(200));

        // A new engine on the same folder keeps the schedule, never later than it was, and shows it once started.
        bench.dispatcher.reset();
        bench.dispatcher = std::make_unique<Dispatcher>(*bench.store, bench.view, bench.timings);
        QVERIFY(letTimePass(400));
        QCOMPARE(stalling.connectionCount(), 1);

        SmtpSink sink;
        QVERIFY(sink.isRunning());
        bench.setPort(sink.port());
        bench.writeJob("b.zub", Bench::job("zwei"));
        QSignalSpy refiled(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QCOMPARE(bench.view.retryTimes.keys(), QList<qint16>{1});
        QTRY_COMPARE_WITH_TIMEOUT(refiled.size(), 2, 15000);
        QVERIFY(letTimePass(300));
        QCOMPARE(sink.messages().size(), 2);
        QCOMPARE(bench.tables().folder(SentFolder).entries(), (QList<qint16>{2, 1})); // the new job went first
        QVERIFY(bench.view.retryTimes.isEmpty());
    }

    // One Message-ID for a mail across a 451 and its retry, on disk before the first attempt; another for the
    // next mail. Each delivered mail reads as written in a recipient's program.
    void oneMessageIdPerMail()
    {
        ScriptedSmtpServer refusing;
        greeting(refusing).expect("MAIL FROM: <alice@example.com>\r\n").reply("250 ok\r\n");
        refusing.expect("RCPT TO: <bob@example.com>\r\n").reply("250 ok\r\n");
        refusing.expect("DATA\r\n").reply("354 go\r\n").expect("\r\n.\r\n").reply("451 4.3.0 later\r\n").close();
        Bench bench(refusing.port(), 0, 50, 20, 1500, 20);
        QVERIFY(saveRetrySetting(bench.programFolder, true));
        bench.writeJob("a.zub", Bench::job("Gr\x81\xE1\x65 aus M\x81nchen", "\x8E\x72ger")); // CP850
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        SmtpSink sink;
        QVERIFY(sink.isRunning());
        bench.dispatcher->StartProcessing();
        QVERIFY(filed.wait(5000));
        bench.setPort(sink.port());
        const QByteArray id = bench.tables().mail(1).Reserved;
        QVERIFY(isMessageId(id) && id.endsWith("@example.com>"));
        QVERIFY(refusing.received().contains("\r\nMessage-ID: " + id + "\r\n"));
        QCOMPARE(bench.reloaded().mail(1).Reserved, id);

        bench.writeJob("b.zub", Bench::job("zwei"));
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 2, 15000);
        QList<QJsonObject> read;
        for (const ReceivedMail& mail : sink.messages()) {
            read.append(readAsRecipient(mail.content));
            QCOMPARE(read.last()[u"defects"].toArray(), QJsonArray());
        }
        if (read.at(0)[u"subject"] != QStringLiteral("zwei")) // the retry and the new job go in either order
            read.swapItemsAt(0, 1);
        QCOMPARE(read.at(1)[u"subject"].toString(), QStringLiteral("Grüße aus München"));
        QVERIFY(read.at(1)[u"body"].toString().contains(QStringLiteral("Ärger")));
        QCOMPARE(read.at(1)[u"messageId"].toString().toLatin1(), id);
        QVERIFY(read.at(0)[u"messageId"].toString().toLatin1() == bench.tables().mail(2).Reserved &&
                bench.tables().mail(2).Reserved != id);
    }

    // The steps over a day; wall times read back after a clock jump; an entry read back after a restart
    // following its mail through renumbering and losing it to an edit; the file at the reader's limit and damaged.
    void retryScheduleRules()
    {
        MailTables tables;
        MailRecord mail{{}, {}, "a@example.com", "b@example.com", "Betreff", "Text", "07.12.2026 03:00:00", {}, {}};
        mail.Status = "ERRMessage4";
        for (const int folder : {DeletedFolder, FailedFolder, FailedFolder}) {
            tables.folder(folder).append(*tables.createMail(mail));
            mail.Date[18] = char(mail.Date[18] + 1);
        }
        RetrySchedule schedule(1); // a minute is a millisecond
        schedule.failed(2, tables.mail(2), 0, true);
        QList<qint64> attempts, expected = {1, 3, 7, 15, 31, 63};
        for (qint64 t = 123; t <= 24 * 60; t += 60)
            expected.append(t);
        for (bool changed = false; !schedule.isEmpty() && attempts.size() < 100;) {
            const qint64 at = schedule.nextAttempts().value(2);
            QVERIFY(!schedule.due(tables, at - 1, changed) && schedule.due(tables, at, changed) == 2);
            attempts.append(at);
            schedule.failed(2, tables.mail(2), at, false);
        }
        QCOMPARE(attempts, expected);

        // Saved after two failures, read back with a wait far beyond its step (a clock set back), and a day later.
        schedule.failed(2, tables.mail(2), 1000, true);
        schedule.failed(2, tables.mail(2), 1001, false);
        const qint64 wall = 5'000'000'000;
        RetryFileContent saved = schedule.toFile(1001, wall);
        RetrySchedule restarted(1);
        restarted.fromFile(saved, 7, wall + 1); // read a moment later: the attempt keeps its time
        QCOMPARE(restarted.nextAttempts().value(2), 8);
        saved.entries[0].nextAttempt += 86'400'000;
        restarted.fromFile(saved, 0, wall);
        QCOMPARE(restarted.nextAttempts().value(2), 2);
        restarted.fromFile(saved, 0, wall + 24 * 60);
        QVERIFY(restarted.isEmpty());

        // Mail 1 removed for good while the program was off: mail 3 is 2 now. Edited, it is another mail.
        schedule.failed(3, tables.mail(3), 0, true);
        schedule.forget(2);
        tables.deleteMails({1});
        tables.folder(DeletedFolder).removeAt(1);
        QVERIFY(schedule.reconcile(tables) && schedule.nextAttempts().keys() == QList<qint16>{2});
        tables.mail(2).To = "c@example.com";
        QVERIFY(schedule.reconcile(tables) && schedule.isEmpty());

        RetryFileContent full{std::numeric_limits<qint64>::max(), {}};
        for (int id = 1; id <= MaxMails; ++id)
            full.entries.append({qint16(id), "0123456789abcdef", std::numeric_limits<qint64>::min(),
                                 std::numeric_limits<qint64>::max(), std::numeric_limits<qint32>::max()});
        QVERIFY(encodeRetryFile(full).size() <= MaxRetryFileBytes);
        QCOMPARE(decodeRetryFile(encodeRetryFile(full)), full);
        const QByteArray head = "KadmelWiederholung 1 5\n", line = "2 0123456789abcdef 1 2 1\n";
        QVERIFY(decodeRetryFile(head + line));
        for (const QByteArray& bad :
             {QByteArray(), head + line.chopped(1), head + line + line, "X" + head + line, head + "0" + line.mid(1),
              head + "32768" + line.mid(1), head + line.toUpper(), head + "2 0123456789abcdef +1 2 1\n",
              head + "2 0123456789abcdef 1 2 0\n", head + "2 0123456789abcdef 1  2 1\n"})
            QVERIFY2(!decodeRetryFile(bad), bad.constData());
        QTemporaryDir dir;
        QString error;
        QVERIFY(writeWholeFile(retryFilePathIn(dir.path()), line, nullptr) && !loadRetryFile(dir.path(), &error));
        QVERIFY(error.contains(QStringLiteral("beschädigt")) &&
                QFile::exists(dir.filePath(QStringLiteral("kadmel.retry.bad"))));
        // Over the reader's limit: refused, and its bytes stay as ".bad" when the next save removes it.
        const QByteArray huge = head + line.repeated(MaxRetryFileBytes / line.size() + 1);
        QVERIFY(writeWholeFile(retryFilePathIn(dir.path()), huge, nullptr) && !loadRetryFile(dir.path(), &error));
        QVERIFY(error.contains(QStringLiteral("zu groß")) && saveRetryFile(dir.path(), {}));
        QCOMPARE(fileBytes(dir.filePath(QStringLiteral("kadmel.retry.bad"))), huge);
    }

    // Two mails wait for their retry on a full disk: neither goes out, by a retry, "Senden" or "Alle Senden",
    // while its "unclear" mark cannot be saved first; with room again each is delivered once.
    void noSendWithoutItsMarkOnDisk()
    {
        SmtpSink sink;
        QVERIFY(sink.isRunning());
        Bench bench(ScriptedSmtpServer::unusedPort(), 0, 5000, 20, 400, 20, "size=1m");
        if (!bench.disk->isMounted())
            QSKIP("A tmpfs of its own needs the right to mount (root).");
        QVERIFY(saveRetrySetting(bench.programFolder, true));
        bench.writeJob("a.zub", Bench::job("eins"));
        bench.writeJob("b.zub", Bench::job("zwei"));
        bench.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(bench.view.retryTimes.size(), 2, 5000);
        bench.dispatcher->StopProcessing();
        QTRY_VERIFY(bench.dispatcher->IdleFlag());

        QFile filler(bench.programFolder + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        for (const int size : {65536, 512})
            while (filler.write(QByteArray(size, 'x')) == size) {
            }
        bench.setPort(sink.port());
        QSignalSpy resent(bench.dispatcher.get(), &Dispatcher::resendFinished);
        QCOMPARE(bench.dispatcher->resendAllFailed(), Dispatcher::Answer::Started);
        QCOMPARE(bench.dispatcher->resend(FailedFolder, 2), Dispatcher::Answer::Started);
        QCOMPARE(bench.dispatcher->resend(FailedFolder, 3), Dispatcher::Answer::NotFound);
        QCOMPARE(resent.size(), 2);
        bench.dispatcher->StartProcessing();
        const QByteArray refused = ") wurde nicht gesendet: Ihr Versandstatus lie\xDF sich vorher nicht speichern.";
        QTRY_VERIFY_WITH_TIMEOUT(bench.view.said("(ID 1" + refused) >= 3 && bench.view.said("(ID 2" + refused) >= 3,
                                 5000);
        QCOMPARE(sink.messages().size(), 0);
        QCOMPARE(bench.tables().folder(FailedFolder).entries(), (QList<qint16>{1, 2}));
        QCOMPARE(bench.reloaded().mail(2).Status, QByteArray("ERRMessage4"));

        QVERIFY(filler.remove());
        QTRY_COMPARE_WITH_TIMEOUT(bench.tables().count(SentFolder), 2, 10000);
        QCOMPARE(sink.messages().size(), 2);
    }

    void killedMidSendLosesNothingAndSendsNothingTwice()
    {
        ScriptedSmtpServer server;
        silentAfterMessage(server);
        Bench bench(server.port());
        QVERIFY(bench.store->SaveAll());
        bench.dispatcher.reset(); // the child process owns the folders from here
        bench.writeJob("a.zub", Bench::job("eins"));

        const QString child = QStringLiteral(KADMEL_BINARY_DIR "/tests/engine_child");
        auto runChild = [&](auto until) {
            QProcess process;
            process.start(child, {bench.programFolder, QStringLiteral("20"), QStringLiteral("60000")});
            QVERIFY(process.waitForStarted(5000));
            until();
            ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(5000));
        };
        runChild([&] { QTRY_VERIFY_WITH_TIMEOUT(server.received().contains("Subject: eins"), 10000); });
        runChild(
            [&] { QTRY_VERIFY_WITH_TIMEOUT(fileBytes(bench.store->mailFilePath(1)).contains("ERRMessage9"), 15000); });

        QCOMPARE(server.connectionCount(), 1);
        QVERIFY(!bench.jobExists("a.zub"));
        Store store(bench.programFolder);
        // A mail in hand at the kill is no damage: no problem reported, no ".bad" copy.
        QCOMPARE(store.loadAtStartup().problems, QStringList());
        QVERIFY(!QFile::exists(store.indexFilePath() + QStringLiteral(".bad")));
        QCOMPARE(store.tables().MailCount(), qint16(1));
        QCOMPARE(store.tables().folder(FailedFolder).entries(), QList<qint16>{1});
        QCOMPARE(store.tables().mail(1).Subject, QByteArray("eins"));
        // The message went out whole: the server may have it. The mark is on disk at once, so the second
        // run, killed before any save, keeps it.
        QCOMPARE(store.tables().mail(1).Status, QByteArray("ERRMessage9"));
    }
};

QTEST_GUILESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
