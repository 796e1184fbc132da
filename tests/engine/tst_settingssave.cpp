#include "engine/AutostartEntry.h"
#include "engine/SettingsSave.h"
#include "support/EngineBench.h"

#include <QTest>

#include <iterator>
#include <utility>

using namespace kadmel;
using namespace kadmel::test;

class TestSettingsSave : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void failedStepLeavesAllAsItWas();
};

// A folder that breaks the rule, or a step that fails on the file system (a folder in the file's place): the
// reason names it, and memory, every file and the autostart entry stay as they were. The save that goes through
// reaches the engine through kadmel.ini's changed().
void TestSettingsSave::failedStepLeavesAllAsItWas()
{
    EngineBench bench(25);
    qputenv("XDG_CONFIG_HOME", bench.dir.filePath(QStringLiteral("config")).toLocal8Bit()); // the autostart entry
    QVERIFY(bench.store.SaveAll() && saveIni(bench.program, {.encryption = Encryption::StartTls, .retry = true}));
    Dispatcher& engine = bench.restart();
    const QByteArray jobFolder = engine.JobFolder();
    const Settings stored = bench.store.settings();
    const AutostartEntry session(QStringLiteral("/opt/Kadmel 3/\"neu\"/100%/kadmel"));
    SettingsEdit edit{stored, Encryption::SslTls, {}, false, {}, {}, true};
    edit.settings.WatchFolder = "/srv/neu";
    const QString missing = bench.dir.filePath(QStringLiteral("fehlt"));
    const std::pair<QString, QString> rows[] = {
        // in the way, said
        {{}, QStringLiteral("Der Archivordner „%1“ ist nicht vorhanden.").arg(missing)},
        {{}, QStringLiteral("Der Quittungsordner „Quittungen“ ist kein vollständiger Pfad.")},
        {bench.store.indexFilePath(), QStringLiteral("ZUBData2(3.0).zub")},
        {AutostartEntry::filePath(), QStringLiteral("com.example.Kadmel.desktop")},
        {iniFilePathIn(bench.program), QStringLiteral("kadmel.ini")},
        {bench.store.settingsFilePath(), QStringLiteral("ZUBData1(3.0).zub")}};
    for (qsizetype n = 0; n < qsizetype(std::size(rows)); ++n) {
        const auto& [path, said] = rows[n];
        edit.archiveFolder = FolderSetting(n == 0 ? QFile::encodeName(missing) : QByteArray());
        edit.receiptFolder = FolderSetting(n == 1 ? "Quittungen" : "");
        if (!path.isEmpty()) { // the file moved aside (the autostart entry is not there yet)
            QFile::rename(path, path + QStringLiteral(".weg"));
            QVERIFY(QDir().mkpath(path));
        }
        const QMap<QString, QByteArray> before = snapshot(bench.dir.path());
        const QString reason = saveSettings(bench.store, edit, session);
        QVERIFY2(reason.contains(said) && bench.store.settings() == stored && snapshot(bench.dir.path()) == before,
                 qPrintable(reason));
        if (!path.isEmpty()) {
            QVERIFY(QDir().rmdir(path));
            QFile::rename(path + QStringLiteral(".weg"), path);
        }
    }
    QVERIFY(letTimePass(50) && engine.JobFolder() == jobFolder && !session.exists());

    QCOMPARE(saveSettings(bench.store, edit, session), QString());
    QTRY_COMPARE(engine.JobFolder(), QByteArray("/srv/neu/KDMEML/"));
    // A path with blanks, quotes and '%' stays one argument; '%' starts no field code.
    QVERIFY(fileBytes(AutostartEntry::filePath()).contains("\nExec=\"/opt/Kadmel 3/\\\\\"neu\\\\\"/100%%/kadmel\"\n"));
}

QTEST_GUILESS_MAIN(TestSettingsSave)
#include "tst_settingssave.moc"
