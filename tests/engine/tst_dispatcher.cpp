#include "engine/ByteText.h"
#include "engine/FailureReason.h"
#include "engine/HtmlBody.h"
#include "engine/MailBudget.h"
#include "smtp/Message.h"
#include "store/MailAttachments.h"
#include "store/MailExtras.h"
#include "store/PermanentRemoval.h"
#include "store/RetryFile.h"
#include "support/EngineBench.h"
#include "support/MailReader.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmallDisk.h"
#include "support/SmtpSink.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>

#include <cctype>
#include <csignal>

using namespace kadmel;
using namespace kadmel::test;
using namespace Qt::StringLiterals;

namespace {

// A server that takes a whole message from alice to bob and then never answers.
void silentAfterMessage(ScriptedSmtpServer& server)
{
    server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
    server.expect("MAIL FROM: <alice@example.com>\r\n").reply("250 ok\r\n");
    server.expect("RCPT TO: <bob@example.com>\r\n").reply("250 ok\r\n");
    server.expect("DATA\r\n").reply("354 go\r\n").expect("\r\n.\r\n");
}

} // namespace

class TestDispatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // While active, one mail is in hand at a time: a job is taken only after the previous mail was filed and
    // its alert closed. A job whose mail file would outgrow what the store reads back stays and is said; the
    // largest accepted one goes out and loads back after a restart.
    void jobsTravelOneAtATime()
    {
        SinkOptions utf8;
        utf8.smtpUtf8 = true;
        SmtpSink sink(utf8);
        EngineBench bench(sink.port(), {.pollMs = 20, .alertCloseMs = 300, .minJobAgeMs = 0, .smtp = {300, 60000}});
        QVERIFY(test::saveIni(bench.program, {.maxMessageMB = 100})); // 20 MiB of text is 28 MB in Base64
        Dispatcher& dispatcher = bench.restart();
        bench.view.tray = true;
        const QByteArray line = "Position 17: Lieferung  nach Bonn, Menge 12, je 3,50 EUR\r\n";
        const QByteArray text = line.repeated(MaxMailFileBytes / 2 / line.size());
        MailRecord probe{
            {}, {}, "alice@example.com", "bob@example.com", "gro\xDF", {}, dateText(QDateTime::currentDateTime()),
            {}, {}};
        const auto fits = [&](qsizetype size) {
            probe.Body = text.first(size);
            probe.Size = FormatByteSize(size);
            return projectedMailFileSize(probe, bench.store.settings()) <= MaxMailFileBytes;
        };
        qsizetype low = 0, high = text.size(); // fits(low), !fits(high)
        QVERIFY(!fits(high));
        while (high - low > 1)
            (fits((low + high) / 2) ? low : high) = (low + high) / 2;
        QVERIFY(low > 20 * 1024 * 1024); // ordinary text up to 20 MiB always goes
        bench.writeJob("1-over.zub", "gro\xE1", text.first(high));
        bench.writeJob("2-under.zub", "gro\xE1", text.first(low));
        // As producers write them: a field per line, code page 858 with the euro at D5, names, copies, a blind
        // copy, a reply address and an umlaut address (the sink offers SMTPUTF8); a body's "@@CC" means nothing.
        bench.writeRawJob(
            "3-small.ZUB",
            "@@FR Buchhaltung <alice@example.com>\r\n@@TO Max M\x81ller <bob@example.com>; carl@example.com "
            "\r\n@@CC \"Meier, Eva\" <eva@example.com>, j\x94rg@example.com\r\n@@BC archiv@example.com\r\n"
            "@@RT info@example.com\r\n@@SB zwei \x84 \xD5\r\n@@\r\n\r\nGr\x81\xE1"
            "e 100 \xD5@@CC x@example.com");
        QSignalSpy filed(&dispatcher, &Dispatcher::mailFiled);
        QCOMPARE(dispatcher.StartProcessing(), StartCheck::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 2, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(dispatcher.IdleFlag(), 15000);

        QByteArrayList order;
        for (const QByteArray& entry : bench.view.log)
            if (entry.startsWith("message E-Mail wird b") || entry.startsWith("row ") || entry.endsWith("-alert"))
                order.append(entry);
        QCOMPARE(order, (QByteArrayList{"message E-Mail wird bearbeitet...  (ID 1)", "row 1 1 bold", "close-alert",
                                        "message E-Mail wird bearbeitet...  (ID 2)", "row 1 2 bold", "close-alert"}));
        QVERIFY(bench.view.log.contains("show-alert E-Mail wird bearbeitet...  (ID 2)\r\nBetreff: zwei \xE4 \x80\r\n"
                                        "An: Max M\xFCller <bob@example.com>; carl@example.com"));
        QVERIFY(bench.jobExists("1-over.zub"));
        QCOMPARE(bench.view.said("1-over.zub\x93 wird nicht gesendet: Seine Maildatei w\xE4re"), 1);
        QCOMPARE(sink.messages().size(), 2);
        QCOMPARE(sink.messages().at(0).decodedBody(), ComposeHtmlBody(text.first(low)));
        QCOMPARE(bench.store.tables().mail(2).Body + '|' + bench.store.tables().mail(2).Size,
                 QByteArray("Gr\xFC\xDF\x65 100 \x80@@CC x@example.com|29 Bytes"));
        const ReceivedMail small = sink.messages().at(1);
        const QJsonObject read = readAsRecipient(small.content);
        QCOMPARE(read[u"subject"].toString() + u'|' +
                     QString::fromLatin1(small.mailFrom + ' ' + small.rcptTos.join(',')),
                 u"zwei ä €|alice@example.com bob@example.com,carl@example.com,eva@example.com,jörg@example.com,"
                 u"archiv@example.com");
        const QJsonObject addresses = read[u"addresses"].toObject();
        QCOMPARE(QStringList({addresses[u"From"].toString(), addresses[u"To"].toString(), addresses[u"Cc"].toString(),
                              addresses[u"Reply-To"].toString()})
                     .join(u'|'),
                 u"Buchhaltung<alice@example.com>|Max Müller<bob@example.com>, <carl@example.com>|"
                 u"Meier, Eva<eva@example.com>, <jörg@example.com>|<info@example.com>");
        QVERIFY(!small.content.contains("archiv@") && small.content.contains("\r\nCc: \"Meier, Eva\" <eva@"));
        QVERIFY(read[u"body"].toString().contains(u"Grüße 100 €") && read[u"defects"].toArray().isEmpty());
        QCOMPARE(bench.reloaded(), bench.store.tables());
    }

    // Unpaced, a Start takes nothing before its first tick. Paced, jobs go back to back from the Start, long before
    // the first tick and the alert's pause, until the day's window is full, which holds across a restart; an
    // "Alle Senden" waits for it too, until Stop ends it untried.
    void pacedJobsGoBackToBack()
    {
        SmtpSink sink;
        EngineBench bench(sink.port(), {.pollMs = 60000, .alertCloseMs = 60000, .minJobAgeMs = 0, .smtp = {300, 1500}});
        bench.view.tray = true;
        for (int i = 1; i <= 10; ++i)
            bench.writeJob("job" + QByteArray::number(i) + ".zub", "Rechnung");
        const auto filedAfterStart = [&bench] {
            auto spy = std::make_unique<QSignalSpy>(&bench.restart(), &Dispatcher::mailFiled);
            return bench.dispatcher->StartProcessing() == StartCheck::Ok ? std::move(spy) : nullptr;
        };
        const auto unpaced = filedAfterStart();
        QVERIFY(letTimePass(300) && unpaced->isEmpty());
        QVERIFY(saveIni(bench.program, {.pace = PaceLimits{10000, 8}}));
        const auto paced = filedAfterStart();
        QTRY_COMPARE_WITH_TIMEOUT(paced->size(), 8, 30000);
        QVERIFY(bench.view.runProgress.startsWith("8 von 10, fertig etwa "));
        QVERIFY(letTimePass(300) && paced->size() == 8 && sink.messages().size() == 8);
        const auto restarted = filedAfterStart();
        QVERIFY(letTimePass(300) && restarted->isEmpty());
        QCOMPARE(QDir(QFile::decodeName(bench.jobs)).entryList({QStringLiteral("*.zub")}, QDir::Files).size(), 2);
        MailTables& tables = bench.store.tables();
        tables.MoveMail(1, SentFolder, FailedFolder);
        tables.folder(SentFolder).removeAt(1);
        tables.mail(tables.idAt(FailedFolder, 1)).Status = "ERRMessage4";
        QSignalSpy resent(bench.dispatcher.get(), &Dispatcher::resendFinished);
        QCOMPARE(bench.dispatcher->resendAllFailed(), Dispatcher::Answer::Started);
        QVERIFY(letTimePass(300) && restarted->isEmpty() && bench.dispatcher->sendAllRunning());
        bench.dispatcher->stopSendAll();
        QCOMPARE(resent.size(), 1);
        QCOMPARE(resent.at(0), (QVariantList{true, 1}));
    }

    // "Senden" while another resend runs is refused. "Alle Senden" with the service off tries each failed mail
    // once and moves the delivered ones; the job folder is not polled meanwhile.
    void resendsWhileTheServiceIsOff()
    {
        EngineBench bench(ScriptedSmtpServer::unusedPort());
        Dispatcher& dispatcher = bench.restart();
        QSignalSpy filed(&dispatcher, &Dispatcher::mailFiled);
        QSignalSpy resent(&dispatcher, &Dispatcher::resendFinished);
        for (const char* name : {"a.zub", "b.zub", "c.zub"})
            bench.writeJob(name, name);
        dispatcher.StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 3, 8000);
        QCOMPARE(bench.store.tables().folder(FailedFolder).entries(), (QList<qint16>{1, 2, 3}));
        dispatcher.StopProcessing();
        QTRY_VERIFY(dispatcher.IdleFlag());

        QCOMPARE(dispatcher.resend(FailedFolder, 2), Dispatcher::Answer::Started);
        QCOMPARE(dispatcher.resend(FailedFolder, 1), Dispatcher::Answer::Busy);
        QVERIFY(resent.wait(5000));
        SmtpSink sink;
        bench.setPort(sink.port());
        bench.store.tables().mail(1).Status = "ERRMessage9"; // perhaps delivered: not tried
        bench.writeJob("d.zub", "vier");
        QCOMPARE(dispatcher.resendAllFailed(), Dispatcher::Answer::Started);
        QVERIFY(resent.wait(8000));
        QCOMPARE(bench.store.tables().folder(SentFolder).entries(), (QList<qint16>{2, 3}));
        QCOMPARE(sink.messages().size(), 2);
        QVERIFY(letTimePass(150)); // time for several ticks, had polling been on
        QVERIFY(bench.jobExists("d.zub") && !bench.view.active);
    }

    // Stop cuts the mail in hand short, filed within a second while folder commands wait, then nothing is taken:
    // before the message's end as not sent; after it, past the short grace for the reply, as perhaps delivered.
    // The program's end gives that reply its longer grace, without the alert's pause.
    void stopCutsTheMailInHandShort()
    {
        ScriptedSmtpServer server;
        server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").stall();
        EngineBench bench(server.port());
        Dispatcher& dispatcher = bench.restart();
        bench.writeJob("a.zub", "eins");
        QSignalSpy filed(&dispatcher, &Dispatcher::mailFiled);
        dispatcher.StartProcessing();
        QTRY_VERIFY(server.received().contains("EHLO"));
        QCOMPARE(dispatcher.beginCommand(), false);
        QElapsedTimer clock;
        clock.start();
        dispatcher.StopProcessing();
        QVERIFY(dispatcher.ServiceState() == 2 && !dispatcher.IdleFlag());
        QVERIFY(filed.wait(5000) && clock.elapsed() < 1000 && dispatcher.IdleFlag());
        QVERIFY(
            resultTextWithReason(bench.store.tables().mail(1)).endsWith("ZUB getrennt. (Vom Benutzer abgebrochen.)"));
        bench.writeJob("b.zub", "zwei");
        bench.writeJob("c.zub", "drei");
        QVERIFY(letTimePass(150)); // time for several ticks, had polling been on
        QVERIFY(bench.jobExists("b.zub"));

        for (const bool exit : {false, true}) {
            ScriptedSmtpServer quiet;
            silentAfterMessage(quiet);
            bench.setPort(quiet.port());
            bench.view.tray = exit;
            dispatcher.StartProcessing();
            QTRY_VERIFY(quiet.scriptDone());
            clock.start();
            exit ? dispatcher.stopForExit() : dispatcher.StopProcessing();
            QVERIFY(bench.view.message.startsWith("Warte auf Antwort des Servers (h\xF6"
                                                  "chstens 1 s)..."));
            QVERIFY(filed.wait(5000) && dispatcher.IdleFlag() &&
                    (exit ? clock.elapsed() >= 300 : clock.elapsed() < 1000));
            QCOMPARE(bench.store.tables().mail(exit ? 3 : 2).Status, QByteArray("ERRMessage9"));
        }
    }

    // With the choice on, a failure that may pass is tried again until it goes out. The schedule holds through
    // Stop and a restart of the engine; a job waiting beside a due retry goes first. Every attempt of a mail
    // carries the Message-ID kept on disk with it, the next mail its own.
    void retryScheduleAcrossStopAndRestart()
    {
        ScriptedSmtpServer stalling;
        stalling.reply("220 hello\r\n").stall();
        EngineBench bench(ScriptedSmtpServer::unusedPort(),
                          {.pollMs = 20, .minJobAgeMs = 0, .smtp = {300, 300, 300}, .retryMinuteMs = 100});
        bench.restart();
        QVERIFY(test::saveIni(bench.program, {.retry = true}));
        bench.writeJob("a.zub", "eins");
        QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QVERIFY(filed.wait(5000));
        const QByteArray id = messageIdOf(bench.reloaded().mail(1));
        QVERIFY(isMessageId(id));

        // Stop while a retry is in hand: that mail runs out of time and waits again, and no attempt follows.
        bench.setPort(stalling.port());
        QTRY_VERIFY_WITH_TIMEOUT(stalling.connectionCount() == 1 && !bench.dispatcher->IdleFlag(), 15000);
        bench.dispatcher->StopProcessing();
        const QDateTime from = QDateTime::currentDateTime();
        QVERIFY(filed.wait(15000));
        QCOMPARE(bench.store.tables().mail(1).Status, QByteArray("ERRMessage6"));
        QVERIFY(bench.view.retryTimes.isEmpty()); // a stopped service promises no attempt
        const std::optional<RetryFileContent> saved = loadRetryFile(bench.program);
        QVERIFY(saved && saved->entries.size() == 1);
        const QDateTime next = QDateTime::fromMSecsSinceEpoch(saved->entries.at(0).nextAttempt); // the second step
        QVERIFY(from.addMSecs(200) <= next && next <= QDateTime::currentDateTime().addMSecs(200));

        // A new engine on the same folder keeps the schedule, never later than it was, and shows it once started.
        bench.restart();
        QVERIFY(letTimePass(400));
        QCOMPARE(stalling.connectionCount(), 1);

        SmtpSink sink;
        bench.setPort(sink.port());
        bench.writeJob("b.zub", "zwei");
        QSignalSpy refiled(bench.dispatcher.get(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QCOMPARE(bench.view.retryTimes.keys(), QList<qint16>{1});
        QTRY_COMPARE_WITH_TIMEOUT(refiled.size(), 2, 15000);
        QVERIFY(letTimePass(300));
        QCOMPARE(sink.messages().size(), 2);
        QCOMPARE(bench.store.tables().folder(SentFolder).entries(), (QList<qint16>{2, 1})); // the new job went first
        QVERIFY(bench.view.retryTimes.isEmpty());
        const QByteArray other = messageIdOf(bench.store.tables().mail(2));
        QVERIFY(sink.messages().at(1).content.contains("\r\nMessage-ID: " + id + "\r\n") && other != id &&
                sink.messages().at(0).content.contains("\r\nMessage-ID: " + other + "\r\n"));
    }

    // With pacing set, a server's "too many mails" pauses the queue: the mail waits as not yet tried, a job
    // written meanwhile and "Alle Senden" wait too, a restart keeps the pause, and after it the held mail goes
    // first, once. Without pacing the same reply fails the mail as always, its reason naming the setting.
    void throttleRepliesPauseTheQueue()
    {
        using Row = std::tuple<QByteArray, QByteArray, bool>; // [Zustellung] line, reply, pauses
        for (const auto& [pacing, reply, pauses] :
             {Row{"MailsProMinute=30", "421 4.7.0 Try again later, closing connection.", true}, // 1 minute
              Row{"MailsProTag=2000", "550 5.4.5 Daily user sending limit exceeded.", true},    // until it frees
              Row{"MailsProMinute=30", "452 4.7.0 Too many messages, try again in 60 seconds", true},
              Row{"AutomatischWiederholen=false", "421 4.7.0 Try again later, closing connection.", false}}) {
            ScriptedSmtpServer throttling;
            throttling.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
            throttling.expect("MAIL FROM: <alice@example.com>\r\n").reply(reply + "\r\n");
            EngineBench bench(throttling.port(),
                              {.pollMs = 20, .minJobAgeMs = 0, .smtp = {300, 1500, 300}, .retryMinuteMs = 1500});
            QFile ini(iniFilePathIn(bench.program));
            QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[Zustellung]\n" + pacing + '\n') > 0);
            ini.close();
            bench.restart().setDayFrees([] { return QDateTime::currentDateTime().addMSecs(1500); });
            bench.writeJob("a.zub", "eins");
            QSignalSpy filed(bench.dispatcher.get(), &Dispatcher::mailFiled);
            bench.dispatcher->StartProcessing();
            QVERIFY(filed.wait(5000));
            const QByteArray said = bench.view.message;
            if (!pauses) {
                QCOMPARE(bench.store.tables().mail(1).Status, QByteArray("ERRMessage3"));
                QVERIFY2(said.contains("(421 4.7.0 Try again later, closing connection. Hinweis: Der Server lehnt ab, "
                                       "weil zu viele E-Mails in kurzer Zeit gesendet wurden; eine Begrenzung in "
                                       "kadmel.ini ([Zustellung] MailsProMinute=)"),
                         said.constData());
                continue;
            }
            QCOMPARE(bench.store.tables().mail(1).Status, QByteArray("ERRMessage11"));
            QVERIFY2(said.startsWith("Versand pausiert bis ") &&
                         said.endsWith(": der Server meldet zu viele E-Mails (" + reply + ')'),
                     said.constData());
            QCOMPARE(bench.view.retryTimes.keys(), QList<qint16>{1});
            QCOMPARE(bench.dispatcher->resendAllFailed(), Dispatcher::Answer::Paused);

            SmtpSink sink;
            bench.setPort(sink.port());
            bench.writeJob("b.zub", "zwei");
            QSignalSpy refiled(&bench.restart(), &Dispatcher::mailFiled);
            bench.dispatcher->StartProcessing();
            QVERIFY(letTimePass(300));
            QVERIFY(bench.jobExists("b.zub") && sink.messages().isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(refiled.size(), 2, 10000);
            QVERIFY(letTimePass(300));
            QCOMPARE(sink.messages().size(), 2);
            QCOMPARE(bench.store.tables().folder(SentFolder).entries(), (QList<qint16>{1, 2}));
            QVERIFY(bench.view.retryTimes.isEmpty());
        }
    }

    // Two mails wait for their retry on a full disk: neither goes out, by a retry, "Senden" or "Alle Senden",
    // while its "unclear" mark cannot be saved first; with room again each is delivered once.
    void noSendWithoutItsMarkOnDisk()
    {
        SmtpSink sink;
        EngineBench bench(ScriptedSmtpServer::unusedPort(),
                          {.pollMs = 20, .minJobAgeMs = 0, .smtp = {300, 400, 300}, .retryMinuteMs = 20});
        SmallDisk disk(bench.program, "size=1m");
        if (!disk.isMounted())
            QSKIP("A tmpfs of its own needs the right to mount (root).");
        bench.load(ScriptedSmtpServer::unusedPort());
        Dispatcher& dispatcher = bench.restart();
        QVERIFY(test::saveIni(bench.program, {.retry = true}));
        bench.writeJob("a.zub", "eins");
        bench.writeJob("b.zub", "zwei");
        dispatcher.StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(bench.view.retryTimes.size(), 2, 5000);
        dispatcher.StopProcessing();
        QTRY_VERIFY(dispatcher.IdleFlag());

        QFile filler(bench.program + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        for (const int size : {65536, 512})
            while (filler.write(QByteArray(size, 'x')) == size) {
            }
        bench.setPort(sink.port());
        QSignalSpy resent(&dispatcher, &Dispatcher::resendFinished);
        QCOMPARE(dispatcher.resendAllFailed(), Dispatcher::Answer::Started);
        QCOMPARE(dispatcher.resend(FailedFolder, 2), Dispatcher::Answer::Started);
        QCOMPARE(dispatcher.resend(FailedFolder, 3), Dispatcher::Answer::NotFound);
        QCOMPARE(resent.size(), 2);
        dispatcher.StartProcessing();
        const QByteArray refused = ") wurde nicht gesendet: Ihr Versandstatus lie\xDF sich vorher nicht speichern.";
        QTRY_VERIFY_WITH_TIMEOUT(bench.view.said("(ID 1" + refused) >= 3 && bench.view.said("(ID 2" + refused) >= 3,
                                 5000);
        QCOMPARE(sink.messages().size(), 0);
        QCOMPARE(bench.store.tables().folder(FailedFolder).entries(), (QList<qint16>{1, 2}));
        QCOMPARE(bench.reloaded().mail(2).Status, QByteArray("ERRMessage4"));

        QVERIFY(filler.remove());
        QTRY_COMPARE_WITH_TIMEOUT(bench.store.tables().count(SentFolder), 2, 10000);
        QCOMPARE(sink.messages().size(), 2);
    }

    // "Alle Senden" resends 50 mails, MailsProVerbindung=40: a refused mail (r) fails alone; one cut off after its
    // message (h) is unclear and the next goes on a new connection, as does the one whose RSET gets 421 (after k).
    // Each mail's log is the opening, noted as carried on for a later mail, and its own lines. connections: each
    // mail's connection, upper case where the sink must not have the mail.
    void sendAllCarriesMailsOnOneConnection()
    {
        const QByteArray kinds = "..r.k.h" + QByteArray(43, '.'), kindNames = ".rhk";
        const QByteArray connections = "aaAaabB" + QByteArray(40, 'c') + "ddd";
        EngineBench bench(ScriptedSmtpServer::unusedPort());
        writeBytes(iniFilePathIn(bench.program), "[Zustellung]\nMailsProVerbindung=40");
        Dispatcher& dispatcher = bench.restart();
        QSignalSpy filed(&dispatcher, &Dispatcher::mailFiled), resent(&dispatcher, &Dispatcher::resendFinished);
        const QByteArrayList to = {"bob@example.com", "x@abgelehnt.example", "x@auflegen.example", "x@kurz.example"};
        for (int n = 1; n <= kinds.size(); ++n) // taken in name order, failed at first
            bench.writeRawJob(QByteArray::number(n).rightJustified(2, '0') + ".zub",
                              "@@FR alice@example.com@@TO " + to[kindNames.indexOf(kinds[n - 1])] + "@@SB Mail " +
                                  QByteArray::number(n) + "@@\r\n\r\nText");
        dispatcher.StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), kinds.size(), 30000);
        dispatcher.StopProcessing();
        SmtpSink sink;
        bench.setPort(sink.port());
        QCOMPARE(dispatcher.resendAllFailed(), Dispatcher::Answer::Started);
        QVERIFY(resent.wait(30000));
        QByteArray seen, delivered = connections; // the connection of each message in the sink, in order
        QByteArrayList peers;
        for (const ReceivedMail& got : sink.messages()) {
            peers.append(peers.contains(got.peer) ? QByteArrayList() : QByteArrayList{got.peer});
            seen += char('a' + peers.indexOf(got.peer));
        }
        QCOMPARE(seen, delivered.removeIf([](char c) { return std::isupper(c); })); // none twice
        const QByteArrayList statuses = {"MSGSENT", "ERRMessage3", "ERRMessage9", "MSGSENT"};
        for (qint16 n = 1; n <= kinds.size(); ++n) {
            const MailRecord& mail = bench.store.tables().mail(n);
            QCOMPARE(mail.Status, statuses[kindNames.indexOf(kinds[n - 1])]);
            const auto k = connections.first(n).toLower().count(char(std::tolower(connections[n - 1]))); // its place
            const QByteArray log = mail.Log.Sent.join() + mail.Log.Received.join();
            QVERIFY(log.startsWith("EHLO 127.0.0.1\r\n") && log.count("MAIL FROM: <") == 1);
            QCOMPARE(log.contains("weiterverwendet: E-Mail " + QByteArray::number(k) + ' '), k > 1);
        }
    }

    void killedMidSendLosesNothingAndSendsNothingTwice()
    {
        ScriptedSmtpServer server;
        silentAfterMessage(server);
        EngineBench bench(server.port());
        QVERIFY(bench.store.SaveAll()); // the child process owns the folders from here
        bench.writeJob("a.zub", "eins");

        const QString child = QStringLiteral(KADMEL_BINARY_DIR "/tests/engine_child");
        auto runChild = [&](auto until) {
            QProcess process;
            process.start(child, {bench.program, QStringLiteral("20"), QStringLiteral("60000")});
            QVERIFY(process.waitForStarted(5000));
            until();
            ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(5000));
        };
        runChild([&] { QTRY_VERIFY_WITH_TIMEOUT(server.received().contains("Subject: eins"), 10000); });
        runChild(
            [&] { QTRY_VERIFY_WITH_TIMEOUT(fileBytes(bench.store.mailFilePath(1)).contains("ERRMessage9"), 15000); });

        QCOMPARE(server.connectionCount(), 1);
        QVERIFY(!bench.jobExists("a.zub"));
        Store store(bench.program);
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

    // Killed between a mail's save and its job's deletion: the next start sends that mail instead of taking the job
    // again. A job written anew under the name of a mail in hand is a mail of its own.
    void aJobLeftByAKillIsNotTakenTwice()
    {
        SmtpSink sink;
        EngineBench bench(sink.port());
        bench.writeJob("a.zub", "eins");
        bench.writeJob("b.zub", "zwei");
        QSignalSpy filed(&bench.restart(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 2, 10000);
        QTRY_VERIFY(bench.dispatcher->IdleFlag());
        bench.dispatcher.reset();
        for (const qint16 id : {1, 2})
            bench.store.tables().mail(id).Status.clear();
        bench.store.tables().setIndex(2, FolderArray(), FolderArray(), FolderArray());
        QVERIFY(bench.store.SaveAll());
        bench.writeJob("a.zub", "eins");
        bench.writeJob("b.zub", "drei");

        bench.load(sink.port());
        QSignalSpy again(&bench.restart(), &Dispatcher::mailFiled);
        bench.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(again.size(), 2, 10000);
        QTRY_VERIFY(bench.dispatcher->IdleFlag());
        QVERIFY(!bench.jobExists("a.zub") && !bench.jobExists("b.zub"));
        const MailTables tables = bench.reloaded();
        QCOMPARE(tables.MailCount(), qint16(3));
        QCOMPARE(tables.folder(SentFolder).entries(), (QList<qint16>{1, 3}));
        QCOMPARE(tables.mail(3).Subject, QByteArray("drei"));
        QCOMPARE(tables.mail(2).Status, QByteArray("ERRMessage9")); // it may have gone: never sent unasked
        QCOMPARE(sink.messages().size(), 4);
    }

    // An invoice job with a PDF and an XML file of an umlaut name, a field per line: the recipient reads both
    // parts byte for byte; the producer's files go only once the mail is sent ([Anhaenge] NachVersandLoeschen),
    // and the store's copies with the mail's removal for good. A missing, a linked and a growing file refuse
    // their job, which stays with its files.
    void invoicesTravelWithTheirFiles()
    {
        SmtpSink sink;
        EngineBench bench(sink.port());
        const QByteArray out = QFile::encodeName(bench.dir.path()) + "/out/";
        QDir().mkpath(QFile::decodeName(out));
        const QByteArray pdf = "%PDF-1.7\n" + QByteArray(3000, '\xE4') + "\n%%EOF\n";
        const QByteArray xml = "\xEF\xBB\xBF<?xml version=\"1.0\"?><Invoice>100 \xE2\x82\xAC</Invoice>\n";
        const auto write = [&](const QByteArray& name, const QByteArray& bytes) {
            std::ofstream((out + name).constData(), std::ios::binary) << bytes.toStdString();
        };
        write("R4711.pdf", pdf);
        write("Rechnung-M\xC3\xBCller.xml", xml);
        write("wachsend.xml", xml);
        QVERIFY(QFile::link(QFile::decodeName(out + "R4711.pdf"), QFile::decodeName(out + "link.pdf")));
        QFile growing(QFile::decodeName(out + "wachsend.xml"));
        QVERIFY(growing.open(QIODevice::ReadWrite) &&
                growing.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        growing.close();
        QFile ini(bench.program + QStringLiteral("/kadmel.ini"));
        QVERIFY(ini.open(QIODevice::Append));
        ini.write("\r\n[Anhaenge]\r\nNachVersandLoeschen=true\r\n");
        ini.close();
        const auto job = [&](const QByteArray& name, const QByteArrayList& files) {
            QByteArray text = "@@FR alice@example.com\r\n@@TO bob@example.com\r\n";
            for (const QByteArray& file : files)
                text += "@@AN " + out + file + "\r\n";
            bench.writeRawJob(name, text + "@@SB Rechnung 4711\r\n@@\r\n\r\nAnbei die Rechnung.");
        };
        job("1-fehlt.zub", {"R4711.pdf", "nicht-da.pdf"});
        job("2-link.zub", {"link.pdf"});
        job("3-wachsend.zub", {"wachsend.xml"});
        job("4-gut.zub", {"R4711.pdf", "Rechnung-M\x81ller.xml"});
        Dispatcher& dispatcher = bench.restart();
        QSignalSpy filed(&dispatcher, &Dispatcher::mailFiled);
        QCOMPARE(dispatcher.StartProcessing(), StartCheck::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(filed.size(), 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(dispatcher.IdleFlag(), 15000);

        for (const char* said :
             {"nicht-da.pdf\x93 fehlt.", "link.pdf\x93 ist eine Verkn\xFC", "wachsend.xml\x93 wird noch"})
            QCOMPARE(bench.view.said(said), 1);
        for (const char* kept : {"1-fehlt.zub", "2-link.zub", "3-wachsend.zub"})
            QVERIFY2(bench.jobExists(kept), kept);
        QVERIFY(QFileInfo(QFile::decodeName(out + "link.pdf")).isSymLink() && bytesAt(out + "wachsend.xml") == xml);
        QCOMPARE(sink.messages().size(), 1);
        const QJsonObject read = readAsRecipient(sink.messages().at(0).content);
        const auto sha = [](const QByteArray& b) {
            return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex());
        };
        QCOMPARE(read[u"parts"].toArray(),
                 QJsonArray({QJsonArray({u"R4711.pdf"_s, u"application/pdf"_s, sha(pdf)}),
                             QJsonArray({u"Rechnung-Müller.xml"_s, u"application/xml"_s, sha(xml)})}));
        QVERIFY(read[u"body"].toString().contains(u"Anbei die Rechnung.") && read[u"defects"].toArray().isEmpty());
        // Sent: the originals are gone, the store's copies stay with the mail until it is removed for good.
        QVERIFY(!bench.jobExists("4-gut.zub") && !QFileInfo::exists(QFile::decodeName(out + "R4711.pdf")) &&
                !QFileInfo::exists(QFile::decodeName(out + "Rechnung-M\xC3\xBCller.xml")));
        const QString copies = bench.program + QStringLiteral("/Anhaenge");
        QCOMPARE(QDir(copies).entryList(QDir::Files).size(), 2);
        QCOMPARE(attachmentsOf(bench.program, bench.reloaded().mail(1)).value(1).name,
                 QByteArray("Rechnung-M\xFCller.xml"));
        QVERIFY(dispatcher.beginCommand());
        QCOMPARE(bench.store.moveToDeleted(SentFolder, 1, 1), 1);
        dispatcher.removingForGood({1});
        PermanentRemoval removal(bench.store, {1});
        QVERIFY(removal.step(1000, nullptr));
        dispatcher.endCommand({{}, removal.newIds()});
        QCOMPARE(QDir(copies).entryList(QDir::Files).size(), 0);
        // A start deletes only copies no mail names: never a foreign file, nothing behind a linked folder.
        const auto put = [](const QString& path) { return QFile(path).open(QIODevice::WriteOnly); };
        QVERIFY(put(copies + u"/00000000000000ff"_s) && put(copies + u"/notiz.txt"_s));
        QCOMPARE(Store(bench.program).loadAtStartup().problems, QStringList());
        QCOMPARE(QDir(copies).entryList(QDir::Files), QStringList{u"notiz.txt"_s});
        const QString elsewhere = bench.dir.filePath(u"fremd"_s);
        QVERIFY(QDir(copies).removeRecursively() && QDir().mkpath(elsewhere) &&
                put(elsewhere + u"/00000000000000ff"_s) && QFile::link(elsewhere, copies));
        Store(bench.program).loadAtStartup();
        QVERIFY(QFile::exists(elsewhere + u"/00000000000000ff"_s));
    }
};

QTEST_GUILESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
