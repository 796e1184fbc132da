#include "engine/Dispatcher.h"
#include "smtp/ResultText.h"
#include "store/Ansi.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// A program folder and a job folder in a temporary place, a store loaded from it, and a dispatcher
// with short timings that shows into a recorder.
struct Bench
{
    QTemporaryDir dir;
    QString programFolder = dir.path() + QStringLiteral("/program");
    QString jobFolder = dir.path() + QStringLiteral("/watch/KDMEML/");
    std::unique_ptr<Store> store;
    RecordingView view;
    std::unique_ptr<Dispatcher> dispatcher;

    explicit Bench(quint16 port, int minJobAgeMs = 0, int alertMs = 5000)
    {
        QDir().mkpath(programFolder);
        QDir().mkpath(jobFolder);
        store = std::make_unique<Store>(programFolder);
        store->loadAtStartup();
        store->settings() = localSettings(dir.path() + QStringLiteral("/watch"), port);
        EngineTimings timings;
        timings.pollMs = 20;
        timings.minJobAgeMs = minJobAgeMs;
        timings.alertCloseMs = alertMs;
        timings.smtp.connectMs = 300;
        timings.smtp.conversationMs = 1500;
        timings.smtp.abortGraceMs = 300;
        dispatcher = std::make_unique<Dispatcher>(*store, view, timings);
    }

    void writeJob(const QString& name, const QByteArray& text) const
    {
        QFile file(jobFolder + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    static QByteArray job(const QByteArray& subject, const QByteArray& body = "Text")
    {
        return "@@FR alice@example.com@@TO bob@example.com@@SB " + subject + "@@\r\n\r\n" + body;
    }
    bool jobExists(const QString& name) const { return QFile::exists(jobFolder + name); }
    const MailTables& tables() const { return store->tables(); }
    void setPort(quint16 port) { store->settings().SmtpPort = static_cast<qint16>(port); }
};

// A server that takes a whole message from alice to bob and then never answers.
void silentAfterMessage(ScriptedSmtpServer& server)
{
    server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
    server.expect("MAIL FROM: <alice@example.com>\r\n").reply("250 ok\r\n");
    server.expect("RCPT TO: <bob@example.com>\r\n").reply("250 ok\r\n");
    server.expect("DATA\r\n").reply("354 go\r\n").expectUntil("\r\n.\r\n");
}

QByteArray decodedBody(const QByteArray& content)
{
    const qsizetype start = content.indexOf("\r\n\r\n") + 4;
    return QByteArray::fromBase64(content.mid(start).replace("\r\n", ""));
}

} // namespace

class TestDispatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void jobsTravelOneAtATimeAndLandOnDisk()
    {
        SmtpSink sink;
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        Bench bench(sink.port());
        // CP850: "Grüße" in the body, "ä" in the subject.
        bench.writeJob(QStringLiteral("a.zub"), Bench::job("eins \x84", "Gr\x81\xE1" "e  aus  Bonn"));
        bench.writeJob(QStringLiteral("b.ZUB"), Bench::job("zwei"));
        bench.writeJob(QStringLiteral("c.zub"), Bench::job("drei"));
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);

        QCOMPARE(bench.dispatcher->StartProcessing(), StartCheck::Ok);
        QVERIFY(bench.view.active);
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(bench.dispatcher->IdleFlag(), 2000);

        // Strictly one mail in hand at a time: every pick-up follows the previous mail's filing.
        QByteArrayList order;
        for (const QByteArray& line : bench.view.log) {
            if (line.startsWith("message E-Mail wird bearbeitet") || line.startsWith("row "))
                order.append(line);
        }
        QCOMPARE(order, (QByteArrayList{"message E-Mail wird bearbeitet...  (ID 1)", "row 1 1 bold",
                                        "message E-Mail wird bearbeitet...  (ID 2)", "row 1 2 bold",
                                        "message E-Mail wird bearbeitet...  (ID 3)", "row 1 3 bold"}));
        QCOMPARE(bench.view.captions.at(0), QByteArray("Gesendete Objekte  (3)"));
        QCOMPARE(bench.view.message, ResultText("MSGSENT"));
        QVERIFY(!bench.jobExists(QStringLiteral("a.zub")));

        const QList<ReceivedMail> mails = sink.messages();
        QCOMPARE(mails.size(), 3);
        QCOMPARE(mails.at(0).mailFrom, QByteArray("alice@example.com"));
        QVERIFY(mails.at(0).content.contains("\r\nSubject: eins \xE4\r\n"));
        QVERIFY(decodedBody(mails.at(0).content).contains("Gr\xFC\xDF" "e&nbsp; aus&nbsp; Bonn"));

        const MailRecord& first = bench.tables().mail(1);
        QCOMPARE(first.Status, QByteArray("MSGSENT"));
        QCOMPARE(first.Body, QByteArray("Gr\xFC\xDF" "e  aus  Bonn"));
        QCOMPARE(first.Size, QByteArray("16 Bytes"));
        QVERIFY(first.Log.Sent.size() > 5 && first.Log.Sent.last().isEmpty());

        // What is on disk is what is in memory.
        Store reloaded(bench.programFolder);
        reloaded.loadAtStartup();
        QCOMPARE(reloaded.tables(), bench.tables());
    }

    void failedMailsAndResends()
    {
        Bench bench(ScriptedSmtpServer::unusedPort());
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        QSignalSpy resent(bench.dispatcher.get(), &Dispatcher::resendFinished);
        for (const char* name : {"a.zub", "b.zub", "c.zub"})
            bench.writeJob(QString::fromLatin1(name), Bench::job(name));
        bench.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 3, 8000);
        QCOMPARE(bench.tables().folder(FailedFolder).entries(), (QList<qint16>{1, 2, 3}));
        QCOMPARE(bench.tables().mail(1).Status, QByteArray("ERRMessage4"));
        QCOMPARE(bench.view.message, QByteArray("Es konnte keine Verbindung zum Mailserver hergestellt werden."));
        bench.dispatcher->StopProcessing();
        QTRY_VERIFY(bench.dispatcher->IdleFlag());

        { // Fails again: stays in place with the new status in its row; a second request meanwhile is refused.
            QCOMPARE(bench.dispatcher->resend(FailedFolder, 2), Dispatcher::Answer::Started);
            QCOMPARE(bench.dispatcher->resend(FailedFolder, 1), Dispatcher::Answer::Busy);
            QVERIFY(resent.wait(5000));
            QCOMPARE(bench.tables().count(FailedFolder), 3);
            QCOMPARE(bench.view.statusCells.last(), (std::pair<qint16, QByteArray>(2, ResultText("ERRMessage4"))));
        }
        { // Send all, service inactive: each mail tried once; the one that can never go out (a line break in
          // its recipient) keeps its place and does not stop the others; one that may have been delivered
          // is not tried; polling stays off.
            SmtpSink sink;
            QVERIFY(sink.isRunning());
            bench.setPort(sink.port());
            bench.store->tables().mail(1).To = "bob@example.com\r\nRCPT TO: <eve@example.com>";
            bench.store->tables().mail(2).Status = "ERRMessage9";
            bench.writeJob(QStringLiteral("d.zub"), Bench::job("vier"));
            QCOMPARE(bench.dispatcher->resendAllFailed(), Dispatcher::Answer::Started);
            QVERIFY(resent.wait(8000));
            QCOMPARE(bench.tables().folder(FailedFolder).entries(), (QList<qint16>{1, 2}));
            QCOMPARE(bench.tables().mail(1).Status, QByteArray("ERRMessage7"));
            QCOMPARE(bench.tables().folder(SentFolder).entries(), QList<qint16>{3});
            QCOMPARE(bench.view.removedRows.last(), (std::pair<int, qint16>(FailedFolder, 3)));
            QCOMPARE(bench.view.addedRows.last().bold, false);
            QCOMPARE(sink.messages().size(), 1);
            QTest::qWait(150);
            QVERIFY(bench.jobExists(QStringLiteral("d.zub")));
            QVERIFY(!bench.view.active);
        }
    }

    void stopDuringSendFinishesTheMailThenStaysIdle()
    {
        ScriptedSmtpServer server;
        server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").stall();
        Bench bench(server.port());
        bench.writeJob(QStringLiteral("a.zub"), Bench::job("eins"));
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
        bench.writeJob(QStringLiteral("b.zub"), Bench::job("zwei"));
        QTest::qWait(150);
        QVERIFY(bench.jobExists(QStringLiteral("b.zub")));

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
        QVERIFY(filed.wait(1000));
        QVERIFY(clock.elapsed() >= 300);
        QCOMPARE(bench.tables().mail(2).Status, QByteArray("ERRMessage9"));
    }

    void badJobsNeitherVanishQuietlyNorBlockTheOthers()
    {
        SmtpSink sink;
        QVERIFY(sink.isRunning());
        Bench bench(sink.port());
        bench.writeJob(QStringLiteral("1-nomarker.zub"), "@@FR a@@TO b@@1234no subject marker");
        bench.writeJob(QStringLiteral("2-open.zub"), "@@FR a@@TO b@@SB never closed");
        bench.writeJob(QStringLiteral("3-good.zub"), Bench::job("gut"));
        bench.writeJob(QStringLiteral("4-other.zub.txt"), Bench::job("kein Auftrag"));
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QVERIFY(filed.wait(5000));
        QTest::qWait(200);
        QCOMPARE(bench.tables().MailCount(), qint16(1));
        QCOMPARE(bench.tables().mail(1).Subject, QByteArray("gut"));
        QVERIFY(!bench.jobExists(QStringLiteral("1-nomarker.zub")));
        QVERIFY(bench.jobExists(QStringLiteral("2-open.zub")));
        QVERIFY(bench.jobExists(QStringLiteral("4-other.zub.txt")));

        // A job changed a moment ago may still be being written.
        Bench young(sink.port(), 2000);
        young.writeJob(QStringLiteral("a.zub"), Bench::job("jung"));
        young.dispatcher->StartProcessing();
        QTest::qWait(300);
        QVERIFY(young.jobExists(QStringLiteral("a.zub")));
        QCOMPARE(young.tables().MailCount(), qint16(0));
    }

    void fullStoreAndFailedSavesAreSaid()
    {
        Bench bench(ScriptedSmtpServer::unusedPort());
        { // No room for another mail: the job waits and the user is told.
            for (int i = 0; i < MaxMails; ++i)
                bench.store->tables().createMail({});
            bench.writeJob(QStringLiteral("a.zub"), Bench::job("voll"));
            bench.dispatcher->StartProcessing();
            QTRY_VERIFY(bench.view.message.startsWith("Mailspeicher voll (32767 Mails)."));
            QVERIFY(bench.jobExists(QStringLiteral("a.zub")));
            QCOMPARE(bench.tables().MailCount(), MaxMails);
            bench.dispatcher->StopProcessing();
        }
        Bench broken(ScriptedSmtpServer::unusedPort());
        const QString mails = broken.programFolder + QStringLiteral("/Mails");
        { // The mail cannot reach the disk before sending: the job stays and nothing is sent.
            QVERIFY(QDir(mails).removeRecursively());
            QFile blocker(mails);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            broken.writeJob(QStringLiteral("a.zub"), Bench::job("eins"));
            broken.dispatcher->StartProcessing();
            QTRY_VERIFY(broken.view.message.startsWith("Neue E-Mail konnte nicht gespeichert werden"));
            QVERIFY(broken.jobExists(QStringLiteral("a.zub")));
            QCOMPARE(broken.tables().MailCount(), qint16(0));
            broken.dispatcher->StopProcessing();
            QTRY_VERIFY(broken.dispatcher->IdleFlag());
        }
        { // The filing cannot be saved: said in panel 2, kept in memory, written by the next save.
            QVERIFY(QFile::remove(mails));
            QVERIFY(QDir().mkpath(mails));
            QSignalSpy filed(broken.dispatcher.get(), &Dispatcher::mailFiled);
            broken.dispatcher->StartProcessing();
            QTRY_VERIFY(!broken.jobExists(QStringLiteral("a.zub")));
            QVERIFY(QDir(mails).removeRecursively());
            QFile blocker(mails);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            QVERIFY(filed.wait(3000));
            QVERIFY(broken.view.message.startsWith("E-Mail (ID 1) konnte nicht gespeichert werden"));
            QCOMPARE(broken.tables().count(FailedFolder), 1);
            QVERIFY(QFile::remove(mails));
            QVERIFY(QDir().mkpath(mails));
            broken.writeJob(QStringLiteral("b.zub"), Bench::job("zwei"));
            QVERIFY(filed.wait(3000));
            Store reloaded(broken.programFolder);
            reloaded.loadAtStartup();
            QCOMPARE(reloaded.tables().mail(1).Status, QByteArray("ERRMessage4"));
            QCOMPARE(reloaded.tables().count(FailedFolder), 2);
        }
    }

    void alertWhileInTrayHoldsTheNextJob()
    {
        SmtpSink sink;
        QVERIFY(sink.isRunning());
        Bench bench(sink.port(), 0, 300);
        bench.view.tray = true;
        bench.writeJob(QStringLiteral("a.zub"), Bench::job("eins"));
        bench.writeJob(QStringLiteral("b.zub"), Bench::job("zwei"));
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(bench.view.alertsClosed, 2, 8000);
        QCOMPARE(bench.view.alerts.at(0), QByteArray("E-Mail wird bearbeitet...  (ID 1)\r\nBetreff: eins\r\n"
                                                     "An: bob@example.com"));
        QCOMPARE(bench.view.alerts.at(1), ResultText("MSGSENT"));
        const qsizetype closed = bench.view.log.indexOf("close-alert");
        const qsizetype second = bench.view.log.indexOf("message E-Mail wird bearbeitet...  (ID 2)");
        QVERIFY(closed >= 0 && second > closed);
    }

    void killedMidSendLosesNothingAndSendsNothingTwice()
    {
        ScriptedSmtpServer server;
        silentAfterMessage(server);
        Bench bench(server.port());
        QVERIFY(bench.store->SaveAll());
        bench.dispatcher.reset(); // the child process owns the folders from here
        const QString programFolder = bench.programFolder;
        const QString jobFolder = bench.jobFolder;
        QFile job(jobFolder + QStringLiteral("a.zub"));
        QVERIFY(job.open(QIODevice::WriteOnly));
        job.write(Bench::job("eins"));
        job.close();

        const QString child = QStringLiteral(KADMEL_BINARY_DIR "/tests/engine_child");
        auto runChild = [&](auto until) {
            QProcess process;
            process.start(child, {programFolder, QStringLiteral("20"), QStringLiteral("60000")});
            QVERIFY(process.waitForStarted(5000));
            until();
            ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(5000));
        };
        runChild([&] { QTRY_VERIFY_WITH_TIMEOUT(server.received().contains("Subject: eins"), 10000); });
        runChild([&] { QTest::qWait(500); });

        QCOMPARE(server.connectionCount(), 1);
        QVERIFY(!QFile::exists(job.fileName()));
        Store store(programFolder);
        // A mail in hand at the kill is no damage: no problem reported, no ".bad" copy.
        QCOMPARE(store.loadAtStartup().problems, QStringList());
        QVERIFY(!QFile::exists(store.indexFilePath() + QStringLiteral(".bad")));
        QCOMPARE(store.tables().MailCount(), qint16(1));
        QCOMPARE(store.tables().folder(FailedFolder).entries(), QList<qint16>{1});
        QCOMPARE(store.tables().mail(1).Subject, QByteArray("eins"));
        // The message went out whole: the server may have it. The mark is on disk at once, so a second
        // crash before any save keeps it.
        QCOMPARE(store.tables().mail(1).Status, QByteArray("ERRMessage9"));
        Store again(programFolder);
        again.loadAtStartup();
        QCOMPARE(again.tables().mail(1).Status, QByteArray("ERRMessage9"));
    }
};

QTEST_GUILESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
