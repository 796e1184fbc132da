#include "reports/ReportFiling.h"
#include "reports/ReportReading.h"
#include "store/DeliveryOutcome.h"
#include "store/MailExtras.h"
#include "store/PermanentRemoval.h"
#include "store/StorePaths.h"
#include "support/Dovecot.h"
#include "support/EngineBench.h"
#include "support/SmtpSink.h"

#include <QProcess>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// A report in RFC 3464's form of `id`; `action` "failed" or "delayed".
QByteArray report(const QByteArray& id, const QByteArray& action)
{
    return "From: MAILER-DAEMON@mx.firma.example\r\nContent-Type: multipart/report; report-type=delivery-status; "
           "boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nx\r\n--b\r\nContent-Type: message/delivery-status"
           "\r\n\r\nReporting-MTA: dns; mx\r\n\r\nFinal-Recipient: rfc822; kunde@firma.example\r\nAction: " +
           action + "\r\nStatus: 4.4.7\r\n\r\n--b\r\nContent-Type: text/rfc822-headers\r\n\r\nMessage-ID: " + id +
           "\r\n\r\n--b--\r\n";
}

// Exim's bounce of `message` for an unknown recipient, made by tests/support/exim_bounce.sh; empty without Exim.
QByteArray eximBounce(const QByteArray& message)
{
    QProcess exim;
    exim.start(QStringLiteral("sh"), {QStringLiteral(KADMEL_TEST_SUPPORT_DIR "/exim_bounce.sh"),
                                      QStringLiteral("rechnung@firma.example"), QStringLiteral("kunde@firma.example")});
    exim.write(message);
    exim.closeWriteChannel();
    return exim.waitForFinished(30000) && exim.exitCode() == 0 ? exim.readAllStandardOutput() : QByteArray();
}

} // namespace

class TestReportFiling : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Two mails sent through a real server; reports of them, and messages that are none of theirs.
    void reportsChangeOnlyOurMails()
    {
        SmtpSink sink;
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        EngineBench bench(sink.port());
        const QByteArray receipts = QFile::encodeName(bench.dir.path()) + "/q";
        QVERIFY(QDir().mkpath(QFile::decodeName(receipts)));
        writeBytes(iniFilePathIn(bench.program), "[Quittung]\r\nOrdner=" + receipts + "\r\n");
        Dispatcher& dispatcher = bench.restart();
        for (const char* name : {"a.zub", "b.zub"})
            bench.writeRawJob(name, "@@FR rechnung@firma.example@@TO kunde@firma.example@@SB Rechnung@@\r\n\r\nText");
        QCOMPARE(dispatcher.StartProcessing(), StartCheck::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(bench.store.tables().count(SentFolder), 2, 20000);
        QTRY_VERIFY(dispatcher.IdleFlag());
        const MailTables& tables = bench.store.tables();
        const QByteArray first = messageIdOf(tables.mail(1)), second = messageIdOf(tables.mail(2));
        const QByteArray receiptB = bytesAt(receipts + "/b.zub.txt");

        ReportFiling filing(bench.store, dispatcher, bench.view, 10);
        QSignalSpy taken(&filing, &ReportFiling::taken);
        QByteArray big = report(first, "failed");
        big.insert(big.indexOf("x\r\n--b"), QByteArray(50 << 20, 'x'));
        const MailTables before = tables;
        for (const QByteArray& none : {report("<other@firma.example>", "failed"), report("", "failed"), big,
                                       QByteArray(report(first, "failed")).replace("boundary=b", "boundary=\"")}) {
            filing.take(none);
            QCOMPARE(taken.takeFirst().at(0).toBool(), false);
        }
        QVERIFY(tables == before);

        // A delay is noted in the record only; the receipt and the folders stay.
        filing.take(report(second, "delayed"));
        QCOMPARE(taken.takeFirst().at(0).toBool(), true);
        QCOMPARE(bench.reloaded().folder(SentFolder).entries(), QList<qint16>({1, 2}));
        QVERIFY(bench.reloaded().mail(2).Log.Received.join().contains("4.4.7"));
        QCOMPARE(bytesAt(receipts + "/b.zub.txt"), receiptB);

        QByteArray bounce = eximBounce(storedOutcome(tables.mail(1)).message), status = "5.0.0";
        if (bounce.isEmpty()) { // Exim needs exim4 and root: a report of the same form stands in
            qWarning("Exim cannot run here");
            bounce = report(first, "failed");
            status = "4.4.7";
        }
        // While a command holds the dispatcher the report waits; then the mail fails with the report's words.
        QVERIFY(dispatcher.beginCommand());
        filing.take(bounce);
        QVERIFY(taken.isEmpty());
        dispatcher.endCommand({});
        QVERIFY(taken.wait());
        QCOMPARE(taken.takeFirst().at(0).toBool(), true);
        const MailTables after = bench.reloaded();
        QCOMPARE(after.folder(FailedFolder).entries(), QList<qint16>({1}));
        QCOMPARE(after.mail(1).Status, QByteArray("ERRMessage12"));
        QVERIFY(bench.view.message.contains("kunde@firma.example: " + status));
        QTRY_VERIFY(bytesAt(receipts + "/a.zub.txt").contains("Status=unzustellbar\r\nCode=ERRMessage12\r\n"));
        QVERIFY(bytesAt(receipts + "/a.zub.txt").contains("Antwort=" + status + "\r\n"));
        // The same report again adds nothing.
        filing.take(bounce);
        QCOMPARE(taken.takeFirst().at(0).toBool(), true);
        QCOMPARE(tables.mail(1).Log, after.mail(1).Log);
        // A kill between the mail's save and the index's left it refused among the sent: read again, the report
        // finishes the move.
        applyMailChange(bench.store.tables(), {MailChange::Kind::Moved, 1, SentFolder, FailedFolder, 1});
        QVERIFY(bench.store.SaveFolders());
        filing.take(bounce);
        QCOMPARE(taken.takeFirst().at(0).toBool(), true);
        QCOMPARE(bench.reloaded().folder(FailedFolder).entries(), QList<qint16>({1}));

        // Removed for good, a mail's report rewrites its receipt alone, after a restart too.
        QVERIFY(dispatcher.beginCommand());
        dispatcher.removingForGood({2});
        PermanentRemoval removal(bench.store, {1}, SentFolder);
        QVERIFY(removal.step(1000, nullptr));
        dispatcher.endCommand({{}, removal.newIds()});
        ReportFiling again(bench.store, bench.restart(), bench.view, 10);
        QSignalSpy takenAgain(&again, &ReportFiling::taken);
        again.take(report(second, "failed"));
        QCOMPARE(takenAgain.takeFirst().at(0).toBool(), true);
        QVERIFY(bytesAt(receipts + "/b.zub.txt").startsWith("ID=\r\nStatus=unzustellbar\r\nCode=ERRMessage12\r\n"));
        QVERIFY(bytesAt(receipts + "/b.zub.txt").contains("Antwort=4.4.7\r\n"));
    }

    // The road of the window and the service: a report put into a real mailbox fails its mail.
    void readBackFromTheMailbox()
    {
        Dovecot dovecot;
        SmtpSink sink;
        QVERIFY(dovecot.start() && sink.isRunning());
        EngineBench bench(sink.port());
        writeBytes(iniFilePathIn(bench.program),
                   "[Rueckmeldungen]\r\nPostfach=localhost:" + QByteArray::number(dovecot.starttlsPort()) + "\r\n");
        bench.store.settings().SmtpUser = "kadmel"; // the sending's sign-in opens the mailbox
        bench.store.settings().SmtpPassword = "geheim";
        Dispatcher& dispatcher = bench.restart();
        bench.writeRawJob("a.zub", "@@FR rechnung@firma.example@@TO kunde@firma.example@@SB Rechnung@@\r\n\r\nText");
        QCOMPARE(dispatcher.StartProcessing(), StartCheck::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(bench.store.tables().count(SentFolder), 1, 20000);
        ReportReading reading(bench.store, dispatcher, bench.view, nullptr,
                              {300, {10000, 30000, dovecot.caCertificates()}});
        reading.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(reportMailboxPathIn(bench.program)), 20000); // counted from here
        dovecot.deliver(report(messageIdOf(bench.store.tables().mail(1)), "failed"));
        QTRY_COMPARE_WITH_TIMEOUT(bench.store.tables().count(FailedFolder), 1, 20000);
    }
};

QTEST_GUILESS_MAIN(TestReportFiling)
#include "tst_reportfiling.moc"
