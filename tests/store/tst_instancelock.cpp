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
    void secondInstanceOnTheSameFolderIsRefused()
    {
        QTemporaryDir dir;
        QTemporaryDir otherDir;
        {
            InstanceLock first(dir.path());
            QVERIFY(first.tryLock());
            InstanceLock second(dir.path());
            QVERIFY(!second.tryLock());
            InstanceLock elsewhere(otherDir.path());
            QVERIFY(elsewhere.tryLock());
        }
        InstanceLock later(dir.path());
        QVERIFY(later.tryLock());
    }

    void lockOfACrashedInstanceIsTakenOver()
    {
        QTemporaryDir dir;
        QFile stale(dir.filePath(QStringLiteral("kadmel.lock")));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        // No process runs under this ID (above any pid_max), and the file is fresh, so only the
        // owner's death can make it stale.
        stale.write("999999999\nkadmel\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        stale.close();
        InstanceLock next(dir.path());
        QVERIFY(next.tryLock());
    }
};

QTEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
