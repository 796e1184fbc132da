#include "engine/ByteText.h"
#include "engine/Housekeeping.h"
#include "engine/MailExport.h"
#include "store/ArchiveCheck.h"
#include "store/ArchiveFiles.h"
#include "store/ArchiveIndexing.h"
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
    // The copies, without the index beside them.
    QMap<QString, QByteArray> copies() const
    {
        QMap<QString, QByteArray> files = snapshot(archive);
        files.removeIf([](const auto& file) { return file.key().endsWith(QLatin1String("/index.tsv")); });
        return files;
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

        const QMap<QString, QByteArray> archived = bench.copies();
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
        QTRY_COMPARE(bench.copies().size(), 1);
        QCOMPARE(bench.copies().first(), sink.messages().at(0).content);
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
        // 1 old and archived, 2 older, its copy behind a linked month folder, 3 young and archived, 4 of no readable
        // date, 5 old but failed
        const QDateTime old = QDateTime::currentDateTime().addDays(-31), young = old.addDays(2);
        const QString elsewhere = bench.dir.filePath(QStringLiteral("fremd"));
        QDir().mkpath(elsewhere);
        for (const QDateTime& date : {old, old.addDays(-40), young, QDateTime(), old}) {
            const QByteArray id = "<" + QByteArray::number(bench.store.tables().MailCount() + 1) + "@example.com>";
            const qint16 n = *bench.store.tables().createMail({{}, id, {}, {}, {}, id, dateText(date), {}, {}});
            bench.store.tables().folder(n == 5 ? FailedFolder : SentFolder).append(n);
            if (date.isValid())
                archiveCopy(n == 2 ? elsewhere : bench.archive, {}, archiveStem(date, "x"),
                            "Message-ID: " + id + "\r\n\r\nText");
        }
        const QString month = old.addDays(-40).toString(QStringLiteral("/yyyy/MM"));
        QVERIFY(QDir().mkpath(bench.archive + month.left(5)) && QFile::link(elsewhere + month, bench.archive + month));
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
        QVERIFY(bench.copies().isEmpty());

        bench.dispatcher.reset();
        QVERIFY(QFile::remove(pending));
        fill(pending, {QStringLiteral("junk.eml"), QStringLiteral("notiz.txt"), own});
        bench.dispatcher = std::make_unique<Dispatcher>(bench.store, bench.view, bench.timings);
        QTRY_COMPARE(bench.copies().keys(), QStringList(bench.archive + QStringLiteral("/2026/12/") + own));
        QCOMPARE(snapshot(pending).size(), 2);
        QCOMPARE(bench.view.said("\x84junk.eml\x93, \x84notiz.txt\x93"), 1);
        QCOMPARE(bench.view.said(link), 1);
    }

    // The check finds every kind of change, also a chain written anew after a line, and says so in its exit code;
    // a copy the program wrote without its line (it ended between the two) gets it at the next catch-up.
    void theCheckFindsWhatChanged_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<QString>("finding");
        const QStringList findings = {{},
                                      QStringLiteral("Verändert: „2026/01/2026-01-02 10.00.00 B.eml“"),
                                      QStringLiteral("Fehlt: „2025/12/2025-12-31 23.59.59 A.eml“"),
                                      QStringLiteral("Hinzugefügt: „2026/01/2026-01-02 10.00.02 D.eml“"),
                                      QStringLiteral("2026/index.tsv, Zeile 1: Die Kette ist unterbrochen"),
                                      QStringLiteral("umgeschrieben oder gekürzt"),
                                      {},
                                      QStringLiteral("vor einer späteren Archivierung umgeschrieben")};
        const char* rows[] = {"intact",
                              "changed byte",
                              "removed file",
                              "added file",
                              "line removed",
                              "chain rewritten after a line",
                              "crash between copy and line",
                              "chain rewritten, then a copy archived"};
        for (int i = 0; i < int(std::size(rows)); ++i)
            QTest::newRow(rows[i]) << i << findings[i];
    }
    void theCheckFindsWhatChanged()
    {
        QFETCH(int, change);
        QFETCH(QString, finding);
        QTemporaryDir dir;
        const QString root = dir.filePath(QStringLiteral("archiv")), head = chainHeadPathIn(dir.path());
        QDir().mkpath(root);
        const auto mail = [](const QByteArray& id) {
            return "Message-ID: <" + id +
                   "@x>\r\nFrom: a@x\r\nTo: b@x\r\nSubject: =?windows-1252?Q?Gr=FC=DFe?=\r\n"
                   "\r\n--t\r\nContent-Disposition: attachment;\r\n filename=\"r.pdf\"\r\n\r\nQQ==\r\n";
        };
        for (const char* stem : {"2025-12-31 23.59.59 A", "2026-01-02 10.00.00 B", "2026-01-02 10.00.01 C"})
            QVERIFY(archiveCopy(root, dir.filePath(QStringLiteral("p")), QLatin1String(stem), mail(stem), head)
                        .problem.isEmpty());
        const QString b = root + QStringLiteral("/2026/01/2026-01-02 10.00.00 B.eml");
        const QString index = root + QStringLiteral("/2026/index.tsv");
        QByteArrayList lines = fileBytes(index).split('\n');
        QCOMPARE(parseLine(lines[0])->subject, QStringLiteral("Grüße").toUtf8());
        QCOMPARE(parseLine(lines[0])->attachments, "r.pdf");
        if (change == 1 || change == 5 || change == 7)
            writeBytes(b, "X" + fileBytes(b).mid(1));
        if (change == 2)
            QVERIFY(QFile::remove(root + QStringLiteral("/2025/12/2025-12-31 23.59.59 A.eml")));
        if (change == 3 || change == 6)
            writeBytes(root + QStringLiteral("/2026/01/2026-01-02 10.00.02 D.eml"), mail("D"));
        if (change == 4)
            writeBytes(index, lines.mid(1).join('\n'));
        if (change == 5 || change == 7) { // every hash from B's line on computed anew
            IndexLine first = *parseLine(lines[0]), second = *parseLine(lines[1]);
            first.fileHash = hashOf(fileBytes(b));
            second.previousHash = hashOf(composeLine(first));
            writeBytes(index, composeLine(first) + '\n' + composeLine(second) + '\n');
        }
        if (change == 7)
            QVERIFY(archiveCopy(root, dir.filePath(QStringLiteral("p")), QStringLiteral("2026-01-03 08.00.00 E"),
                                mail("E"), head)
                        .problem.isEmpty());
        if (change == 6)
            QCOMPARE(archiveWaitingCopies(root, dir.filePath(QStringLiteral("p")), head).lined, 1);

        const ArchiveCheck check = checkArchive(root, readChainHead(head));
        const QString said = check.findings.join(QLatin1Char('\n'));
        QVERIFY2(finding.isEmpty() ? check.findings.isEmpty() : said.contains(finding), qPrintable(said));
        QProcess ctl;
        ctl.start(QStringLiteral(KADMEL_BINARY_DIR "/kadmelctl"),
                  {QStringLiteral("--ordner"), dir.path(), QStringLiteral("archiv-pruefen"), root});
        QVERIFY(ctl.waitForFinished(10000));
        QCOMPARE(ctl.exitCode(), finding.isEmpty() ? 0 : 1);
        QVERIFY(QString::fromLocal8Bit(ctl.readAllStandardOutput()).contains(check.summary()));
    }
};

QTEST_GUILESS_MAIN(TestMailArchive)
#include "tst_mailarchive.moc"
