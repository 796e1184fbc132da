#include "app/ProgramFolder.h"
#include "store/StoreFiles.h"
#include "support/SmallDisk.h"

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
        QVERIFY(takeOverStore(first) && first.notice.contains(program));
        Store copied(perUser);
        QCOMPARE(copied.loadAtStartup().problems, QStringList());
        QCOMPARE(copied.tables().mail(3).Subject, QByteArray("three"));
        QVERIFY(ownerOnly(copied.settingsFilePath()) && ownerOnly(copied.mailFilePath(2)));
        // Said once: the second start works on the copy without a word.
        QVERIFY(takeOverStore(second) && second.notice.isEmpty() && second.error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
