#include "engine/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;

class TestProgramFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writableFolderHoldsTheStoreElsePerUser()
    {
        QTemporaryDir dir;
        const QString perUser = dir.path() + QStringLiteral("/share/Kadmel");
        QCOMPARE(chooseProgramFolder(dir.path(), perUser), dir.path());
        QVERIFY(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).isEmpty()); // the probe is gone
        QVERIFY(!QDir(perUser).exists());

        // An installed program (root could write there) and a folder that is really a file.
        QCOMPARE(chooseProgramFolder(QStringLiteral("/usr/bin"), perUser), perUser);
        QVERIFY(QDir(perUser).exists());
        QFile file(dir.path() + QStringLiteral("/plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(chooseProgramFolder(file.fileName(), perUser), perUser);
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
