#include "StoreFiles.h"
#include "store/CryptString.h"
#include "store/Migration.h"
#include "store/SettingsFile.h"

using namespace kadmel;
using namespace kadmel::test;

namespace {

QStringList zubFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.zub"), QStringLiteral("*.ZUB")}, QDir::Files, QDir::Name);
}

} // namespace

class TestMigration : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versions25And29AreTakenOver()
    {
        for (const QString& version : {QStringLiteral("2.5"), QStringLiteral("2.9")}) {
            QTemporaryDir dir;
            writeStore(dir.path()); // then its settings and index files renamed to the old version
            for (const QString& slot : {QStringLiteral("1"), QStringLiteral("2")})
                QVERIFY(QFile::rename(QStringLiteral("%1/ZUBData%2(3.0).zub").arg(dir.path(), slot),
                                      QStringLiteral("%1/ZUBData%2(%3).zub").arg(dir.path(), slot, version)));
            const QByteArray index = fileBytes(QStringLiteral("%1/ZUBData2(%2).zub").arg(dir.path(), version));
            // The 2.9 settings file: four strings, unscrambled once by the take-over and once by loading.
            QByteArray old;
            for (const char* text : {"/srv/kadmel", "mx.old", "anna", "geheim"}) {
                const QByteArray stored = CryptString(CryptString(text, 1), 1);
                old += char(stored.size()) + QByteArray(1, 0) + stored;
            }
            const bool v29 = version == QStringLiteral("2.9");
            if (v29)
                writeBytes(dir.filePath(QStringLiteral("ZUBData1(2.9).zub")), old);
            Store store(dir.path());
            QCOMPARE(store.loadAtStartup().problems, QStringList());
            QCOMPARE(zubFiles(dir.path()),
                     (QStringList{QStringLiteral("ZUBData1(3.0).zub"), QStringLiteral("ZUBData2(3.0).zub")}));
            QCOMPARE(fileBytes(store.indexFilePath()), index);
            QVERIFY(ownerOnly(store.indexFilePath()) && ownerOnly(store.settingsFilePath()));
            Settings onFile; // the fields 2.9 did not have are written as never set
            QVERIFY(decodeSettings(fileBytes(store.settingsFilePath()), onFile, nullptr));
            QCOMPARE(onFile.UseSpa, qint16(0));
            QCOMPARE(store.settings().SmtpServer, QByteArray(v29 ? "mx.old" : "mx.example"));
            QCOMPARE(store.settings().SmtpPassword, QByteArray(v29 ? "geheim" : ""));
        }
    }

    void namesThatSelectASlotAndDamage()
    {
        QTemporaryDir dir;
        const QString path = dir.path();
        // Without a version or without its ")": deleted; slot 3 (there is none) and other names: untouched.
        for (const char* name : {"ZUBData1.zub", "zubdata2(2.8.zub", "ZUBData3(2.8).zub", "Other(2.8).zub"})
            writeBytes(dir.filePath(QLatin1String(name)), "x");
        QCOMPARE(MigrateOldFiles(path), QStringList());
        QCOMPARE(zubFiles(path), (QStringList{QStringLiteral("Other(2.8).zub"), QStringLiteral("ZUBData3(2.8).zub")}));

        writeBytes(dir.filePath(QStringLiteral("zubdata1(2.8).zub")), QByteArray(14, 0)); // small prefix: taken
        writeBytes(dir.filePath(QStringLiteral("ZUBData2(2.8).ZUB")), "upper");           // capital extension: not
        QCOMPARE(MigrateOldFiles(path), QStringList());
        QCOMPARE(zubFiles(path),
                 (QStringList{QStringLiteral("Other(2.8).zub"), QStringLiteral("ZUBData1(3.0).zub"),
                              QStringLiteral("ZUBData2(2.8).ZUB"), QStringLiteral("ZUBData3(2.8).zub")}));

        // A damaged 2.9 settings file stays where it is, byte for byte: a string longer than the file, and
        // four strings whose last lacks its last byte.
        for (const QByteArray& bytes :
             {QByteArray("\x09\x00short", 7), QByteArray::fromHex("010061 010061 010061 0100")}) {
            QTemporaryDir damaged;
            writeBytes(damaged.filePath(QStringLiteral("ZUBData1(2.9).zub")), bytes);
            const QStringList problems = MigrateOldFiles(damaged.path());
            QVERIFY(problems.size() == 1 && problems.first().contains(QStringLiteral("ZUBData1(2.9).zub")));
            QCOMPARE(zubFiles(damaged.path()), QStringList{QStringLiteral("ZUBData1(2.9).zub")});
            QCOMPARE(fileBytes(damaged.filePath(QStringLiteral("ZUBData1(2.9).zub"))), bytes);
        }
    }
};

QTEST_GUILESS_MAIN(TestMigration)
#include "tst_migration.moc"
