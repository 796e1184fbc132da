#include "engine/ProgramFolder.h"
#include "store/StoreFiles.h"
#include "support/SmallDisk.h"

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
        const ProgramFolderChoice installed = chooseProgramFolder(QStringLiteral("/usr/bin"), perUser);
        QCOMPARE(installed.folder, perUser);
        QVERIFY(installed.notice.isEmpty());
        constexpr auto groupAndOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        QVERIFY(!(QFile::permissions(perUser) & groupAndOthers)); // it will hold the password
        QFile file(dir.path() + QStringLiteral("/plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(chooseProgramFolder(file.fileName(), perUser).folder, perUser);
        // No per-user folder can be made below a file: the reason, no folder.
        const ProgramFolderChoice none =
            chooseProgramFolder(QStringLiteral("/usr/bin"), file.fileName() + QStringLiteral("/Kadmel"));
        QVERIFY(none.folder.isEmpty() && !none.error.isEmpty());
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

        // Without room for the copy (a file where Mails/ belongs) the start ends with the reason.
        const QString blocked = dir.path() + QStringLiteral("/blocked");
        QVERIFY(QDir().mkpath(blocked));
        writeBytes(blocked + QStringLiteral("/Mails"), "x");
        const ProgramFolderChoice refused = chooseProgramFolder(program, blocked);
        QVERIFY(refused.folder.isEmpty());
        QVERIFY2(refused.error.contains(QStringLiteral("nicht beschreibbar")), qPrintable(refused.error));

        const QString perUser = dir.path() + QStringLiteral("/share/Kadmel");
        const ProgramFolderChoice first = chooseProgramFolder(program, perUser);
        QCOMPARE(first.folder, perUser);
        QVERIFY(first.notice.contains(program));
        Store copied(perUser);
        QCOMPARE(copied.loadAtStartup().problems, QStringList());
        QCOMPARE(copied.tables().mail(3).Subject, QByteArray("three"));
        QVERIFY(ownerOnly(copied.settingsFilePath()) && ownerOnly(copied.mailFilePath(2)));
        // Said once: the next start works on the copy without a word.
        const ProgramFolderChoice next = chooseProgramFolder(program, perUser);
        QCOMPARE(next.folder, perUser);
        QVERIFY(next.notice.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
