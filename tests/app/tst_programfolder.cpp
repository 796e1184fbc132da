#include "app/ProgramFolder.h"
#include "engine/Dispatcher.h"
#include "store/ArchiveFiles.h"
#include "store/MailKey.h"
#include "store/OriginFile.h"
#include "store/PermanentRemoval.h"
#include "store/StoreFiles.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"
#include "support/SmallDisk.h"

#include <QDirIterator>
#include <QTemporaryDir>

using namespace kadmel;
using namespace kadmel::test;

class TestProgramFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writableFolderHoldsTheStoreElsePerUser()
    {
        QTemporaryDir dir;
        const QString perUser = dir.path() + QStringLiteral("/share/Kadmel");
        QCOMPARE(chooseProgramFolder(dir.path(), perUser).folder, dir.path());
        QVERIFY(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).isEmpty()); // the probe is gone
        QVERIFY(!QDir(perUser).exists());

        // An installed program (root could write there) and a folder that is really a file.
        QCOMPARE(chooseProgramFolder(QStringLiteral("/usr/bin"), perUser).folder, perUser);
        QCOMPARE(QFile::permissions(perUser) & 0x77, QFileDevice::Permissions()); // neither group nor others
        QFile file(dir.path() + QStringLiteral("/plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(chooseProgramFolder(file.fileName(), perUser).folder, perUser);
    }

    void storeInAReadOnlyFolderIsTakenOverOnce()
    {
        QTemporaryDir dir;
        const QString program = dir.path() + QStringLiteral("/program");
        SmallDisk disk(program, "size=1m");
        if (!disk.isMounted())
            QSKIP("A read-only folder needs the right to mount a tmpfs.");
        writeStore(program);
        QVERIFY(disk.makeReadOnly());
        // No room for the copy (a file where Mails/ belongs): the start ends with the reason.
        QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/blocked")));
        writeBytes(dir.path() + QStringLiteral("/blocked/Mails"), "x");
        ProgramFolderChoice refused = chooseProgramFolder(program, dir.path() + QStringLiteral("/blocked"));
        QVERIFY(!takeOverStore(refused) && refused.error.contains(QStringLiteral("nicht beschreibbar")));

        // Two first starts: choosing copies nothing; the copy follows under the folder's lock, once.
        const QString perUser = dir.path() + QStringLiteral("/share/Kadmel");
        ProgramFolderChoice first = chooseProgramFolder(program, perUser);
        ProgramFolderChoice second = chooseProgramFolder(program, perUser);
        QVERIFY(first.folder == perUser && QDir(perUser).isEmpty());
        QVERIFY(takeOverStore(first) && first.notice.contains(program)); // what arrives: takenOverFilesActAsBefore
        // Said once: the second start works on the copy without a word.
        QVERIFY(takeOverStore(second) && second.notice.isEmpty() && second.error.isEmpty());
    }

    // Every store file goes along, owner-only, and acts in the new folder as it would have in the old: a removal
    // cut short is settled, the schedule read, the owed receipt written, the waiting copy archived. A copy that
    // fails leaves nothing behind.
    void takenOverFilesActAsBefore()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("program")), perUser = dir.filePath(QStringLiteral("user"));
        const QString archive = dir.filePath(QStringLiteral("archiv")), receipts = dir.filePath(QStringLiteral("q"));
        writeStore(program); // 1 sent, 2 failed, 3 deleted
        for (const QString& folder : {perUser, archive, receipts, perUser + QStringLiteral("/ZUBData1(3.0).zub/x")})
            QVERIFY(QDir().mkpath(folder));
        writeBytes(iniFilePathIn(program), "[Archiv]\nOrdner=" + archive.toUtf8() + "\n[Quittung]\nOrdner=" +
                                               receipts.toUtf8() + "\n[Zustellung]\nAutomatischWiederholen=true\n");
        {
            Store old(program);
            old.loadAtStartup();
            old.tables().mail(2).Status = "ERRMessage4";
            old.tables().mail(2).Reserved = "<b@example.com>";
            QVERIFY(old.SaveMail(2));
            // As the last version wrote them: the schedule keyed by the fields' hash, the job by no key.
            const QByteArray now = QByteArray::number(QDateTime::currentMSecsSinceEpoch());
            writeBytes(retryFilePathIn(program), "KadmelWiederholung 1 " + now + "\n2 " +
                                                     MailKey::fieldHashOf(old.tables().mail(2)).text() + ' ' + now +
                                                     ' ' + QByteArray::number(now.toLongLong() + 3600000) + " 1\n");
            writeBytes(jobNameFilePathIn(program), "KadmelAuftraege 1\n2 1 - b.zub\n");
            writeBytes(originFilePathIn(program), encodeOriginFile({MailKey::of(old.tables().mail(3))}));
            QVERIFY(archiveCopy(dir.filePath(QStringLiteral("none")), pendingArchiveFolderIn(program),
                                QStringLiteral("2026-12-07 09.10.32 Brief"), "Subject: Brief\r\n\r\nText")
                        .waiting);
            PermanentRemoval removal(old, {1}); // cut short once its plan is prepared
            while (!QFile::exists(removedMailPathIn(program, 3)))
                QVERIFY(!removal.step(1, nullptr));

            QVERIFY(QFile::setPermissions(jobNameFilePathIn(program), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                          QFileDevice::ReadGroup |
                                                                          QFileDevice::ReadOther));
            ProgramFolderChoice choice{perUser, {}, {}, program};
            QVERIFY(!takeOverStore(choice) && choice.error.contains(QStringLiteral("ZUBData1(3.0).zub")));
            QCOMPARE(QDir(perUser).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                     QStringList(QStringLiteral("ZUBData1(3.0).zub")));
            QVERIFY(QDir(perUser + QStringLiteral("/ZUBData1(3.0).zub")).removeRecursively());
            choice.error.clear();
            QVERIFY(takeOverStore(choice));
            const QMap<QString, QByteArray> copied = snapshot(perUser), original = snapshot(program);
            QCOMPARE(copied.keys().replaceInStrings(perUser, program), original.keys());
            QCOMPARE(copied.values(), original.values());
            for (QDirIterator it(perUser, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
                 it.hasNext();) {
                const QFileInfo entry(it.next());
                QVERIFY2(entry.isDir() ? (entry.permissions() & 0x77) == 0 : ownerOnly(entry.filePath()),
                         qPrintable(entry.filePath()));
            }
        }

        Store store(perUser);
        QVERIFY(store.loadAtStartup().refusal.isEmpty());
        QVERIFY(!QFile::exists(removalPlanPathIn(perUser)) && !QFile::exists(removedMailPathIn(perUser, 3)));
        QCOMPARE(store.tables().folder(DeletedFolder).entries(), QList<qint16>{3}); // undone, as before its commit
        QCOMPARE(store.restoreFromDeleted({1}), (QList<std::pair<qint16, int>>{{3, SentFolder}}));
        store.settings() = localSettings(dir.path(), 25);
        RecordingView view;
        Dispatcher dispatcher(store, view, EngineTimings{.pollMs = 20, .smtp = {}, .archiveRetryMs = 50});
        QCOMPARE(dispatcher.StartProcessing(), StartCheck::Ok);
        QCOMPARE(view.retryTimes.keys(), QList<qint16>{2});
        QVERIFY(fileBytes(receipts + QStringLiteral("/b.zub.txt")).startsWith("ID=2\r\n"));
        QTRY_VERIFY(QFile::exists(archive + QStringLiteral("/2026/12/2026-12-07 09.10.32 Brief.eml")));
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
