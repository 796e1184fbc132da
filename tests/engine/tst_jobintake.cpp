#include "engine/JobIntake.h"
#include "store/MailFile.h"
#include "support/EngineBench.h"

#include <QElapsedTimer>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// The intake alone on the bench's folders: no server, no dispatcher, no poll timer.
struct IntakeBench : EngineBench
{
    std::unique_ptr<JobIntake> intake;

    explicit IntakeBench(qint64 offThreadBytes, int minJobAgeMs = 0) : EngineBench(25)
    {
        timings.minJobAgeMs = minJobAgeMs;
        timings.offThreadBytes = offThreadBytes;
        intake = std::make_unique<JobIntake>(store, view, timings);
        intake->setJobFolder(jobs);
    }
    // One scan to its end (`goOn`: with the last one's ready list); the new mail's ID, 0 for none.
    qint16 scan(bool goOn = false) const
    {
        QSignalSpy finished(intake.get(), &JobIntake::finished);
        goOn ? intake->scanOn() : intake->scan();
        if (finished.isEmpty() && !finished.wait(10000))
            return -1;
        return finished.at(0).at(0).value<qint16>();
    }
};

} // namespace

class TestJobIntake : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Whether the work runs on the window's thread or beside it, the outcome is the same.
    void badJobsAreSetAsideAndTheGoodOneTaken_data()
    {
        QTest::addColumn<qint64>("offThreadBytes");
        QTest::newRow("on the window's thread") << (qint64(1) << 40);
        QTest::newRow("beside it") << qint64(0);
    }
    void badJobsAreSetAsideAndTheGoodOneTaken()
    {
        QFETCH(qint64, offThreadBytes);
        IntakeBench bench(offThreadBytes);
        bench.writeRawJob("1-nomarker.zub", "@@FR a@@TO b@@1234no subject marker");
        bench.writeRawJob("2-open.zub", "@@FR a@@TO b@@SB never closed");
        bench.writeRawJob("3-short.zub", "@@FR a@@TO b@@SB s@@\r\n");
        bench.writeRawJob("4-big.zub", {});
        QVERIFY(QFile(QFile::decodeName(bench.jobs + "4-big.zub")).resize(MaxMailFileBytes / 2 + 1));
        QCOMPARE(::symlink("/etc/hostname", (bench.jobs + "5-link.zub").constData()), 0);
        QCOMPARE(::mkfifo((bench.jobs + "6-fifo.zub").constData(), 0600), 0);
        bench.writeJob("rechnung-\xFC.zub", "gut");
        bench.writeJob("z-next.zub", "danach");

        QCOMPARE(bench.scan(), qint16(1)); // the bad ones are passed over within the one scan
        QVERIFY(!bench.intake->isWorking());
        QCOMPARE(bench.store.tables().mail(1).Subject, QByteArray("gut"));
        QVERIFY(!bench.jobExists("rechnung-\xFC.zub") && !bench.jobExists("1-nomarker.zub"));
        for (const QByteArray name : {"2-open.zub", "3-short.zub", "4-big.zub", "5-link.zub", "6-fifo.zub"}) {
            QVERIFY2(bench.jobExists(name), name.constData());
            QCOMPARE(bench.view.said("Auftrag \x84" + name + "\x93 "), 1);
        }
        QCOMPARE(bench.view.said("6-fifo.zub\x93 ist keine gew\xF6hnliche Datei. Er bleibt liegen"), 1);
        QCOMPARE(bench.view.said("4-big.zub\x93 ist gr\xF6\xDF" + QByteArray("er als erlaubt (32,0 MB).")), 1);
        QCOMPARE(bench.reloaded().mail(1).Subject, QByteArray("gut")); // on disk, in no folder yet: not sent yet

        // One mail per scan; jobs set aside are not said again until they change.
        QCOMPARE(bench.scan(), qint16(2));
        QCOMPARE(bench.scan(), qint16(0));
        QCOMPARE(bench.view.said("Auftrag \x84" + QByteArray("2-open.zub")), 1);
        bench.writeJob("2-open.zub", "repariert");
        QCOMPARE(bench.scan(), qint16(3));
        QCOMPARE(bench.store.tables().mail(3).Subject, QByteArray("repariert"));
    }

    // A job folder that is a link (here to someone's folder holding a job) or that cannot be read is never read or
    // deleted in: said once in panel 2, no mail made, no file gone.
    void jobFolderBehindALinkIsNeverUsed_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("message");
        const QByteArray link = "ist eine Verkn\xFCpfung und wird weder gelesen noch wird darin gel\xF6scht.";
        QTest::newRow("link to a user's folder") << "user" << link;
        QTest::newRow("a file") << "file" << QByteArray("l\xE4sst sich nicht lesen: Er ist kein Ordner.");
        QTest::newRow("no access") << "closed" << QByteArray("l\xE4sst sich nicht lesen: Keine Berechtigung.");
    }
    void jobFolderBehindALinkIsNeverUsed()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, message);
        if (target == QLatin1String("closed") && ::geteuid() == 0)
            QSKIP("root reads every folder");
        IntakeBench bench(qint64(1) << 40);
        bench.store.tables().folder(SentFolder).append(*bench.store.tables().createMail(mailWith("eins", "MSGSENT")));
        QVERIFY(bench.store.SaveAll());
        const QString user = bench.dir.filePath(QStringLiteral("anna"));
        QVERIFY(QDir().mkpath(user));
        writeBytes(user + QStringLiteral("/brief.zub"), "@@FR a@@TO b@@SB geheim@@\r\n\r\nText");
        const QString folder = QFile::decodeName(bench.jobs.chopped(1));
        if (target == QLatin1String("closed")) {
            QVERIFY(QFile::setPermissions(folder, {}));
        } else {
            QVERIFY(QDir(folder).removeRecursively());
            if (target == QLatin1String("file"))
                writeBytes(folder, "@@FR a@@TO b@@SB kein Ordner@@\r\n\r\nText");
            else
                QVERIFY(QFile::link(user, folder));
        }
        const QMap<QString, QByteArray> before = snapshot(bench.dir.path());
        QVERIFY(before.size() >= 4);

        QCOMPARE(bench.scan(), qint16(0));
        QCOMPARE(bench.scan(), qint16(0)); // the next scan says nothing again
        QCOMPARE(bench.view.said(message), 1);
        QCOMPARE(bench.view.said("Der Auftragsordner \x84" + QFile::encodeName(folder) + "\x93 "), 1);
        QCOMPARE(snapshot(bench.dir.path()), before);
        QCOMPARE(bench.store.tables().MailCount(), qint16(1));
        // A real folder again: its jobs are taken.
        const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QVERIFY(target == QLatin1String("closed") ? QFile::setPermissions(folder, ownerOnly)
                                                  : QFile::remove(folder) && QDir().mkpath(folder));
        bench.writeJob("a.zub", "wieder");
        QCOMPARE(bench.scan(), qint16(2));
    }

    // A job changed a moment ago may still be being written; one dated ahead waits until seen unchanged. Neither
    // is taken at first sight, both in time. A job rewritten after a scan found it ready waits as well when a
    // paced run goes on with that scan's list.
    void youngJobsWaitUntilWritten()
    {
        IntakeBench bench(qint64(1) << 40, 2000);
        bench.writeJob("a.zub", "jung");
        bench.writeJob("b.zub", "Zukunft");
        QFile ahead(QFile::decodeName(bench.jobs + "b.zub"));
        QVERIFY(ahead.open(QIODevice::ReadWrite) &&
                ahead.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(bench.scan(), qint16(0));
        qint16 first = 0, second = 0; // kept, as the condition is read again after the wait
        QTRY_VERIFY_WITH_TIMEOUT(first || (first = bench.scan()), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(second || (second = bench.scan()), 10000);
        QVERIFY(first == 1 && second == 2 && clock.elapsed() >= 2000);
        QCOMPARE(bench.store.tables().mail(2).Subject, QByteArray("Zukunft"));
        for (const char* name : {"c.zub", "d.zub"}) {
            bench.writeJob(name, "alt");
            QFile old(QFile::decodeName(bench.jobs + name));
            QVERIFY(old.open(QIODevice::ReadWrite) &&
                    old.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
        QCOMPARE(bench.scan(), qint16(3));
        bench.writeJob("d.zub", "neu geschrieben");
        QVERIFY(bench.scan(true) == 0 && bench.jobExists("d.zub"));
    }

    void jobsStayWhenTheStoreCannotTakeThem()
    {
        IntakeBench bench(qint64(1) << 40);
        bench.writeJob("a.zub", "eins");
        { // No room for another mail: the job waits and the user is told.
            for (int i = 0; i < MaxMails; ++i)
                bench.store.tables().createMail({});
            QCOMPARE(bench.scan(), qint16(0));
            QVERIFY(bench.view.message.startsWith("Mailspeicher voll (32767 Mails).") && bench.jobExists("a.zub"));
        }
        IntakeBench broken(0);
        broken.writeJob("a.zub", "eins");
        const QString mails = broken.store.mailsFolder();
        { // The mail cannot reach the disk: the job stays and no mail is left behind.
            QVERIFY(QDir(mails).removeRecursively() && QFile(mails).open(QIODevice::WriteOnly));
            QCOMPARE(broken.scan(), qint16(0));
            QVERIFY(broken.view.message.startsWith("Neue E-Mail konnte nicht gespeichert werden") &&
                    broken.jobExists("a.zub"));
            QCOMPARE(broken.store.tables().MailCount(), qint16(0));
        }
        { // Nor can the index, not even to take the mail back: said too, and the whole store is owed.
            QVERIFY(QFile::remove(mails) && QDir().mkpath(mails));
            const QString index = broken.store.indexFilePath();
            QVERIFY(QFile::remove(index) && QDir().mkpath(index));
            QCOMPARE(broken.scan(), qint16(0));
            QVERIFY(broken.view.message.contains(" Auch der Ordnerindex lie\xDF sich nicht berichtigen: ") &&
                    broken.jobExists("a.zub"));
            QVERIFY(broken.intake->takeSaveOwed() && !broken.intake->takeSaveOwed());
        }
    }
};

QTEST_GUILESS_MAIN(TestJobIntake)
#include "tst_jobintake.moc"
