#include "store/InstanceLock.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;

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
            QVERIFY(!InstanceLock(dir.path()).tryLock());
            QVERIFY(InstanceLock(otherDir.path()).tryLock());
        }
        QVERIFY(InstanceLock(dir.path()).tryLock());

        // A crashed instance's lock: no process runs under this ID (above any pid_max), and the file is
        // fresh, so only the owner's death can make it stale.
        QFile stale(otherDir.filePath(QStringLiteral("kadmel.lock")));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("999999999\nkadmel\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        stale.close();
        QVERIFY(InstanceLock(otherDir.path()).tryLock());
    }
};

QTEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
