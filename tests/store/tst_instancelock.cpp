#include "StoreFiles.h"
#include "store/InstanceLock.h"
#include "support/SmallDisk.h"

#include <QCoreApplication>
#include <QSysInfo>

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

    void staleLocksAreTakenOver()
    {
        const QByteArray app = QCoreApplication::applicationName().toUtf8();
        const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
        // A process ID above any pid_max, garbage, this very (living) process on another host, and on this host: a
        // lock that names a live program but that no process holds, as one copied along with its folder. The
        // files are fresh, so age plays no part.
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        for (const QByteArray& content :
             {"999999999\n" + app + "\n" + host + "\n", QByteArray("\x01\xff garbage\n\n"),
              self + "\n" + app + "\nelsewhere.example\n", self + "\n" + app + "\n" + host + "\n"}) {
            QTemporaryDir dir;
            writeBytes(dir.filePath(QStringLiteral("kadmel.lock")), content);
            QVERIFY2(InstanceLock(dir.path()).tryLock(), content.constData());
        }
    }

    void aLockThatCannotBeWrittenIsSaid()
    {
        QTemporaryDir dir;
        SmallDisk disk(dir.path(), "size=8k");
        if (!disk.isMounted())
            QSKIP("A full disk needs the right to mount a tmpfs.");
        writeBytes(dir.filePath(QStringLiteral("filler")), QByteArray(16384, 'x')); // fills the 8 KiB disk
        InstanceLock lock(dir.path());
        QVERIFY(!lock.tryLock() && lock.errorString().contains(QStringLiteral("„kadmel.lock“")));
    }
};

QTEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
