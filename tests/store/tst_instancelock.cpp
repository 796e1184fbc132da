#include "StoreFiles.h"
#include "store/InstanceLock.h"
#include "support/SmallDisk.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QTemporaryDir>

using namespace kadmel;
using namespace kadmel::test;

class TestInstanceLock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneInstancePerFolder()
    {
        QTemporaryDir dir;
        QTemporaryDir otherDir;
        {
            InstanceLock first(dir.path());
            QVERIFY(first.tryLock());
            QVERIFY(ownerOnly(dir.filePath(QStringLiteral("kadmel.lock"))));
            InstanceLock second(dir.path());
            QVERIFY(!second.tryLock() && second.errorString().isEmpty()); // held: the second start ends silently
            QVERIFY(InstanceLock(otherDir.path()).tryLock());
        }
        QVERIFY(InstanceLock(dir.path()).tryLock());
    }

    void staleLocksAreTakenOver_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray app = QCoreApplication::applicationName().toUtf8();
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
        // No process runs under this ID (above any pid_max); the files are fresh, so age plays no part.
        QTest::newRow("dead process") << "999999999\n" + app + "\n" + host + "\n";
        QTest::newRow("garbage") << QByteArray("\x01\xff garbage\n\n");
        // This very process is alive: only the other host makes the lock stale.
        QTest::newRow("other host") << self + "\n" + app + "\nelsewhere.example\n";
    }

    void staleLocksAreTakenOver()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        writeBytes(dir.filePath(QStringLiteral("kadmel.lock")), content);
        QVERIFY(InstanceLock(dir.path()).tryLock());
    }

    void aLockThatCannotBeWrittenIsSaid()
    {
        QTemporaryDir dir;
        SmallDisk disk(dir.path(), "size=8k");
        if (!disk.isMounted())
            QSKIP("A full disk needs the right to mount a tmpfs.");
        QFile filler(dir.filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) > 0) {
        }
        InstanceLock lock(dir.path());
        QVERIFY(!lock.tryLock() && lock.errorString().contains(QStringLiteral("„kadmel.lock“")));
    }
};

QTEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
