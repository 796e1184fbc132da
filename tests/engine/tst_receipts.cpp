#include "engine/ByteText.h"
#include "engine/Dispatcher.h"
#include "engine/Receipt.h"
#include "store/JobNameFile.h"
#include "store/MailExtras.h"
#include "store/PermanentRemoval.h"
#include "store/ResultCode.h"
#include "support/EngineBench.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QProcess>

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// A dispatcher whose kadmel.ini names a receipt folder (not made yet); paths are bytes, not always UTF-8.
struct ReceiptBench : EngineBench
{
    QByteArray receipts = QFile::encodeName(dir.path()) + "/q";

    explicit ReceiptBench(quint16 port, const QByteArray& ini = {})
        : EngineBench(port, {.pollMs = 20, .minJobAgeMs = 0, .smtp = {300, 300}, .retryMinuteMs = 200})
    {
        writeBytes(iniFilePathIn(program), "[Quittung]\r\nOrdner=" + receipts + "\r\n" + ini);
        restart();
    }
    QByteArray receipt(const QByteArray& name) const { return bytesAt(receipts + '/' + name + ".txt"); }
};

} // namespace

class TestReceipts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Every outcome a producer can meet, with every key in its order, in CP850 and CR LF, for owner and group.
    void eachOutcomeHasItsReceipt_data()
    {
        QTest::addColumn<QByteArrayList>("script"); // replies to MAIL FROM, RCPT TO, DATA, the message, QUIT
        QTest::addColumn<QByteArray>("head");       // the receipt up to its time
        const auto head = [](const char* id, const char* status, const QByteArray& code, const char* reply) {
            const QByteArray text = code.isEmpty() ? "Auftrag \"a.zub\" wurde gel\xF6scht: Ihm fehlt eine der Marken "
                                                     "@@FR, @@TO und @@SB."
                                                   : ResultText(code);
            return "ID=" + QByteArray(id) + "\r\nStatus=" + status + "\r\nCode=" + code +
                   "\r\nText=" + AnsiToOem(text) + "\r\nAntwort=" + reply + "\r\nZeit=";
        };
        QTest::newRow("delivered") << QByteArrayList{"250 ok", "250 ok", "354 go", "250 2.0.0 OK", "221 bye"}
                                   << head("1", "gesendet", "MSGSENT", "250 2.0.0 OK");
        QTest::newRow("unclear") << QByteArrayList{"250 ok", "250 ok", "354 go"}
                                 << head("1", "unklar", "ERRMessage9", ""); // a 354 explains nothing
        QTest::newRow("refused") << QByteArrayList{} << head("", "abgewiesen", "", "");
        // With a copy: of two recipients the second refused, each answer listed after the keys every receipt has.
        QTest::newRow("copy refused") << QByteArrayList{"250 ok", "250 ok", "550 5.1.1 unbekannt", "221 bye"}
                                      << head("1", "fehlgeschlagen", "ERRMessage3", "550 5.1.1 unbekannt");
    }
    void eachOutcomeHasItsReceipt()
    {
        QFETCH(QByteArrayList, script);
        QFETCH(QByteArray, head);
        ScriptedSmtpServer server;
        server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
        const bool copy = script.size() == 4;
        const QByteArrayList commands = {"MAIL FROM: <alice@example.com>", "RCPT TO: <bob@example.com>",
                                         copy ? "RCPT TO: <carl@example.com>" : "DATA", copy ? "QUIT" : "\r\n.",
                                         "QUIT"};
        for (qsizetype k = 0; k < script.size(); ++k)
            server.expect(commands.at(k) + "\r\n").reply(script.at(k) + "\r\n");
        ReceiptBench bench(server.port());
        QVERIFY(QDir().mkpath(QFile::decodeName(bench.receipts)));
        if (copy)
            bench.writeRawJob("a.zub", "@@FR alice@example.com@@CC carl@example.com@@TO bob@example.com@@SB "
                                       "Gr\x81\xE1\x65@@\r\n\r\nText");
        else
            script.isEmpty() ? bench.writeRawJob("a.zub", "@@FR a@@SB b@@\r\n\r\nText") // no "@@TO"
                             : bench.writeJob("a.zub", "Gr\x81\xE1\x65");               // "Grüße"
        bench.dispatcher->StartProcessing();
        QTRY_VERIFY_WITH_TIMEOUT(!bench.receipt("a.zub").isEmpty(), 8000);
        const QByteArray receipt = bench.receipt("a.zub");
        QVERIFY2(receipt.startsWith(head), receipt.constData());
        const QByteArray copies = copy ? "Kopie=carl@example.com\r\nEmpfaenger1=bob@example.com 250 ok\r\n"
                                         "Empfaenger2=carl@example.com 550 5.1.1 unbekannt\r\n"
                                       : "";
        QVERIFY(receipt.endsWith(script.isEmpty()
                                     ? "\r\nNachrichten-ID=\r\nEmpfaenger=\r\nBetreff=\r\n"
                                     : "\r\nNachrichten-ID=" + messageIdOf(bench.store.tables().mail(1)) +
                                           "\r\nEmpfaenger=bob@example.com\r\nBetreff=Gr\x81\xE1\x65\r\n" + copies));
        QCOMPARE(receipt.count("\r\n"), copy ? 12 : 9);
        MailRecord named; // the log line names the addresses, not how they were written
        named.To = "Max M\xFCller <max@example.org>; b@example.org\r\n";
        QVERIFY(outcomeLogLine(1, named, {}).startsWith("kadmel: ID 1 an <max@example.org>, <b@example.org>: "));
        QVERIFY(QDateTime::fromString(QString::fromLatin1(receipt.mid(head.size(), 25)), Qt::ISODate).isValid());
        struct stat st = {};
        QVERIFY(::stat((bench.receipts + "/a.zub.txt").constData(), &st) == 0 && (st.st_mode & 0777) == 0640);
    }

    // The receipt follows its mail, under a producer polling it who never reads a part: a missing folder holds back
    // only the receipt; then an automatic retry, newer jobs of one name, a removal for good and the renumbering.
    void theReceiptFollowsItsMail()
    {
        ReceiptBench bench(ScriptedSmtpServer::unusedPort(), "[Zustellung]\r\nAutomatischWiederholen=true\r\n");
        std::atomic<int> whole = 0, partial = 0;
        std::jthread reader([&](std::stop_token stop) { // reads "a.zub.txt" whenever it is there; stops on any exit
            while (!stop.stop_requested())
                if (QFile::exists(QFile::decodeName(bench.receipts + "/a.zub.txt")))
                    (bench.receipt("a.zub").contains("Betreff=eins\r\n") ? whole : partial)++;
        });
        const QByteArray odd = "b\xE9\xFF.zub"; // no UTF-8
        bench.writeJob("a.zub", "eins");
        bench.writeJob(odd, "zwei");
        const QByteArray tooLong = QByteArray(251, 'l') + ".zub"; // a refused job whose receipt no name can hold
        bench.writeRawJob(tooLong, "@@FR a@@SB b@@\r\n\r\nText");
        bench.dispatcher->StartProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(bench.store.tables().count(FailedFolder), 2, 8000); // filed all the same
        QTRY_COMPARE(bench.view.said("ist l\xE4nger als 255 Bytes."), 1);
        QCOMPARE(bench.view.said("Der Ordner ist nicht vorhanden."), 1);
        QVERIFY(QDir().mkpath(QFile::decodeName(bench.receipts)));
        QTRY_VERIFY(bench.receipt(odd).contains("NaechsterVersuch="));
        bench.writeJob(odd,
                       "drei"); // a newer job of that name (mail 3): the older mail's next failure leaves its receipt
        const qsizetype tries = bench.view.said("(ID 2)");
        QTRY_VERIFY_WITH_TIMEOUT(bench.view.said("(ID 2)") > tries && bench.dispatcher->IdleFlag(), 15000);
        QVERIFY(bench.receipt(odd).startsWith("ID=3\r\n"));

        SmtpSink sink;
        bench.store.settings().SmtpPort = qint16(sink.port());
        QTRY_COMPARE_WITH_TIMEOUT(bench.store.tables().count(SentFolder), 3, 15000);
        QCOMPARE((bench.receipt("a.zub") + bench.receipt(odd)).count("Status=gesendet"), 2);
        QVERIFY(!bench.receipt(odd).contains("NaechsterVersuch"));

        QVERIFY(bench.dispatcher->beginCommand());
        for (const qint16 id : {qint16(1), qint16(2)}) { // a.zub's mail and the older one of `odd`
            const qint16 pos = qint16(bench.store.tables().folder(SentFolder).entries().indexOf(id) + 1);
            QCOMPARE(bench.store.moveToDeleted(SentFolder, pos, 1), 1);
        }
        bench.dispatcher->removingForGood({1, 2});
        PermanentRemoval removal(bench.store, {1, 2});
        QVERIFY(removal.step(1000, nullptr));
        bench.dispatcher->endCommand({{}, removal.newIds()});
        QVERIFY(bench.receipt("a.zub").startsWith("ID=\r\nStatus=gesendet\r\n")); // gone for good
        QVERIFY(bench.receipt(odd).startsWith("ID=3\r\n")); // the newer job's; its new ID shows at the next write
        const QByteArray delivered = messageIdOf(bench.store.tables().mail(1));
        QCOMPARE(bench.dispatcher->resend(SentFolder, 1), Dispatcher::Answer::Started);
        // The debt goes to disk under the Message-ID it goes out with: a kill now would not lose the mail's job.
        QCOMPARE(loadJobNameFile(bench.program)->value(0).key, MailKey::of(bench.store.tables().mail(1)));
        QTRY_VERIFY(bench.receipt(odd).startsWith("ID=1\r\nStatus=gesendet\r\n"));
        // Sent again on purpose: a new message, under a Message-ID of its own.
        QVERIFY(bench.receipt(odd).contains("Nachrichten-ID=" + messageIdOf(bench.store.tables().mail(1))) &&
                messageIdOf(bench.store.tables().mail(1)) != delivered);
        bench.writeRawJob(odd, "@@FR a@@SB b@@\r\n\r\nText"); // a refused one is newer still
        QTRY_VERIFY(bench.receipt(odd).contains("=abgewiesen") && bench.dispatcher->IdleFlag());
        QCOMPARE(bench.dispatcher->resend(SentFolder, 1), Dispatcher::Answer::Started);
        QTRY_VERIFY(bench.dispatcher->IdleFlag() && bench.receipt(odd).contains("=abgewiesen"));
        reader.request_stop();
        reader.join();
        QVERIFY(whole > 0 && partial == 0);
        ::unlink((bench.receipts + '/' + odd + ".txt").constData()); // QTemporaryDir cannot name it
    }

    // Killed after the mail was filed and before its receipt could be written: the next start writes it.
    void aKilledEngineOwesNoReceipt()
    {
        SmtpSink sink;
        ReceiptBench bench(sink.port());
        bench.dispatcher.reset(); // the child process owns the folders from here, saved as they are
        QVERIFY(bench.store.SaveAll());
        bench.writeJob("a.zub", "eins");
        QByteArray log;
        QProcess child;
        child.start(QStringLiteral(KADMEL_BINARY_DIR "/tests/engine_child"),
                    {bench.program, QStringLiteral("20"), QStringLiteral("2000")});
        // filed and logged, its receipt owed: no folder yet
        QTRY_VERIFY(
            (log += child.readAllStandardError()).contains("kadmel: ID 1 an <bob@example.com>: gesendet (250 "));
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished(5000);
        QVERIFY(QDir().mkpath(QFile::decodeName(bench.receipts)));
        // The next start writes it, and only that one: taken away by its producer, it does not come back.
        for (const bool again : {false, true}) {
            Store store(bench.program);
            store.loadAtStartup();
            Dispatcher(store, bench.view).StartProcessing();
            QVERIFY(again || bench.receipt("a.zub").startsWith("ID=1\r\nStatus=gesendet\r\n"));
            QCOMPARE(QFile::remove(QFile::decodeName(bench.receipts + "/a.zub.txt")), !again);
        }
    }
};

QTEST_GUILESS_MAIN(TestReceipts)
#include "tst_receipts.moc"
