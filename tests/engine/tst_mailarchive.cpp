#include "engine/ByteText.h"
#include "engine/Housekeeping.h"
#include "engine/MailExport.h"
#include "store/ArchiveFiles.h"
#include "store/ResultCode.h"
#include "support/EngineBench.h"
#include "support/SmtpSink.h"

using namespace kadmel;
using namespace kadmel::test;

namespace {

// A dispatcher whose kadmel.ini names <dir>/archiv (not made yet), and jobs with 8-bit subjects for the sink.
struct ArchiveBench : EngineBench
{
    QString archive = dir.path() + QStringLiteral("/archiv");

    explicit ArchiveBench(quint16 port)
        : EngineBench(port, {.pollMs = 20, .alertCloseMs = 10, .minJobAgeMs = 0, .smtp = {}, .archiveRetryMs = 50})
    {
        writeBytes(iniFilePathIn(program), "[Archiv]\r\nOrdner=" + archive.toUtf8() + "\r\n");
        restart();
    }
    void writeJob(const char* name, const QByteArray& to)
    {
        writeRawJob(name, "@@FR alice@example.com@@TO " + to + "@@SB Gr\x81\xE1" + "e/Bericht\r\n@@\r\n\r\nM\x81nchen");
    }
    bool deliver(int mails)
    {
        QSignalSpy filed(dispatcher.get(), &Dispatcher::mailFiled);
        dispatcher->StartProcessing();
        return QTest::qWaitFor([&] { return filed.size() >= mails && dispatcher->IdleFlag(); }, 10000);
    }
};

} // namespace

class TestMailArchive : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each accepted message lies in the archive as the server received it, private and never overwritten; a
    // refused one does not. Saved as a file, a sent mail is that copy.
    void acceptedMessagesAreArchivedAsReceived()
    {
        SmtpSink sink;
        ArchiveBench bench(sink.port());
        QDir().mkpath(bench.archive);
        bench.writeJob("a.zub", "bob@example.com");
        bench.writeJob("b.zub", "bob@example.com");    // the same subject, likely in the same second
        bench.writeJob("c.zub", "bob<x>@example.com"); // refused before connecting
        QVERIFY(bench.deliver(3));
        QCOMPARE(bench.store.tables().folder(SentFolder).entries(), (QList<qint16>{1, 2}));

        const QMap<QString, QByteArray> archived = snapshot(bench.archive);
        const QList<ReceivedMail> received = sink.messages();
        QCOMPARE(received.size(), 2);
        QCOMPARE(archived.size(), 2);
        const QString month = bench.archive + QDate::currentDate().toString(QStringLiteral("/yyyy/MM/yyyy-MM-dd "));
        for (auto it = archived.cbegin(); it != archived.cend(); ++it)
            QVERIFY2(it.key().startsWith(month) &&
                         (it.key().endsWith(QStringLiteral(" Grüße_Bericht.eml")) ||
                          it.key().endsWith(QStringLiteral(" Grüße_Bericht (2).eml"))) &&
                         ownerOnly(it.key()),
                     qPrintable(it.key()));
        QCOMPARE(QSet<QByteArray>(archived.cbegin(), archived.cend()),
                 (QSet<QByteArray>{received.at(0).content, received.at(1).content}));

        QString error;
        bench.store.tables().mail(2).Log = {}; // the archive copy is found without the conversation
        QCOMPARE(mailAsFile(bench.store, 2, &error).value_or(""), received.at(1).content);
    }

    // An archive that cannot take the copy: the mail is filed as sent and the failure said, and the copy waits
    // beside the store until a later start finds the archive usable.
    void aCopyTheArchiveRefusedIsWrittenAfterARestart()
    {
        SmtpSink sink;
        ArchiveBench bench(sink.port());
        writeBytes(bench.archive, {}); // a file where the folder should be
        bench.view.tray = true;
        bench.writeJob("a.zub", "bob@example.com");
        QVERIFY(bench.deliver(1));
        QCOMPARE(bench.store.tables().folder(SentFolder).entries(), (QList<qint16>{1}));
        QVERIFY(bench.view.log.join('\n').contains(QByteArray("\nset-alert ") + ResultText("MSGSENT") +
                                                   " Archivierung fehlgeschlagen: "));
        const QString pending = pendingArchiveFolderIn(bench.program);
        QCOMPARE(snapshot(pending).size(), 1);

        bench.dispatcher.reset();
        QVERIFY(QFile::remove(bench.archive) && QDir().mkdir(bench.archive));
        bench.restart();
        QTRY_COMPARE(snapshot(bench.archive).size(), 1);
        QCOMPARE(snapshot(bench.archive).first(), sink.messages().at(0).content);
        QVERIFY(snapshot(pending).isEmpty());
        QVERIFY(bench.view.said("Archivierung nachgeholt: 1 E-Mail(s)"));
    }

    // [Aufbewahrung] GesendeteTage=30 removes for good the sent mails older than that (with the archive on only
    // those it holds), the rest renumbered on disk and in the window. Close to the store's limit, one warning.
    void housekeepingRemovesOldSentMailsOnly()
    {
        ArchiveBench bench(0);
        bench.timings.housekeepingMs = 50;
        QDir().mkpath(bench.archive);
        const QByteArray keep = "\r\n[Aufbewahrung]\r\nGesendeteTage=30\r\n";
        writeBytes(iniFilePathIn(bench.program), "[Archiv]\r\nOrdner=" + bench.archive.toUtf8() + keep);
        // 1 old and archived, 2 old, 3 young and archived, 4 of no readable date, 5 old but failed
        const QDateTime old = QDateTime::currentDateTime().addDays(-31), young = old.addDays(2);
        for (const QDateTime& date : {old, old, young, QDateTime(), old}) {
            const QByteArray id = "<" + QByteArray::number(bench.store.tables().MailCount() + 1) + "@example.com>";
            const qint16 n = *bench.store.tables().createMail({{}, id, {}, {}, {}, id, dateText(date), {}, {}});
            bench.store.tables().folder(n == 5 ? FailedFolder : SentFolder).append(n);
            if (n != 2 && date.isValid())
                archiveCopy(bench.archive, {}, archiveStem(date, "x"), "Message-ID: " + id + "\r\n\r\nText");
        }
        QVERIFY(bench.store.SaveAll());
        bench.restart();
        QTRY_VERIFY(bench.view.log.contains("renumbered"));
        QCOMPARE(bench.store.tables().folder(SentFolder).entries(), (QList<qint16>{1, 2, 3}));
        QCOMPARE(bench.store.tables().mail(1).Body, "<2@example.com>");
        QCOMPARE(bench.reloaded(), bench.store.tables());
        writeBytes(iniFilePathIn(bench.program), keep); // without the archive every old one goes
        QTRY_COMPARE(bench.store.tables().folder(SentFolder).entries(), (QList<qint16>{1, 2}));
        QCOMPARE(bench.view.said("Aufbewahrung: 1 gesendete E-Mail(s), \xE4lter als 30 Tage, endg\xFCltig entfernt."),
                 2);

        bench.store.tables().setMailCount(Housekeeping::WarningCount);
        bench.view.tray = true;
        bench.restart();
        QVERIFY(letTimePass(300));
        const QByteArray full = "Der Mailspeicher ist fast voll (31.767 von 32.767 E-Mails)";
        QVERIFY(bench.view.said(full) == 1 && bench.view.log.join('\n').count("show-alert " + full) == 1);
    }

    // Only copies of the program's own names in the real folder are caught up: a link in its place is neither
    // followed nor written through, and a file the program never makes stays where it is; each is said once.
    void onlyOwnCopiesInTheRealFolderAreCaughtUp()
    {
        ArchiveBench bench(0);
        QDir().mkpath(bench.archive);
        const QString pending = pendingArchiveFolderIn(bench.program),
                      documents = bench.dir.filePath(QStringLiteral("Dokumente"));
        const QString own = QStringLiteral("2026-12-07 09.10.32 Rechnung (2).eml");
        const auto fill = [](const QString& folder, const QStringList& names) {
            QDir().mkpath(folder);
            for (const QString& name : names)
                writeBytes(folder + QLatin1Char('/') + name, "Subject: x\r\n\r\nText");
        };
        fill(documents, {QStringLiteral("brief.eml"), own});
        QVERIFY(QFile::link(documents, pending));
        bench.dispatcher = std::make_unique<Dispatcher>(bench.store, bench.view, bench.timings);
        const QByteArray link = "Archivkopien \x84" + toAnsi(pending) + "\x93 ist eine Verkn\xFCpfung";
        QTRY_VERIFY(bench.view.said(link));
        QVERIFY(!archiveCopy(bench.dir.filePath(QStringLiteral("none")), pending,
                             QStringLiteral("2026-12-07 09.10.33 X"), "m")
                     .waiting);
        QCOMPARE(snapshot(documents).size(), 2);
        QVERIFY(snapshot(bench.archive).isEmpty());

        bench.dispatcher.reset();
        QVERIFY(QFile::remove(pending));
        fill(pending, {QStringLiteral("junk.eml"), QStringLiteral("notiz.txt"), own});
        bench.dispatcher = std::make_unique<Dispatcher>(bench.store, bench.view, bench.timings);
        QTRY_COMPARE(snapshot(bench.archive).keys(), QStringList(bench.archive + QStringLiteral("/2026/12/") + own));
        QCOMPARE(snapshot(pending).size(), 2);
        QCOMPARE(bench.view.said("\x84junk.eml\x93, \x84notiz.txt\x93"), 1);
        QCOMPARE(bench.view.said(link), 1);
    }
};

QTEST_GUILESS_MAIN(TestMailArchive)
#include "tst_mailarchive.moc"
