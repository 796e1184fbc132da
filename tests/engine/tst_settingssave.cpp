#include "engine/AutostartEntry.h"
#include "engine/SettingsSave.h"
#include "support/EngineBench.h"

#include <QTest>

#include <functional>

using namespace kadmel;
using namespace kadmel::test;

class TestSettingsSave : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }
    void failedStepLeavesAllAsItWas();

private:
    QTemporaryDir m_config; // the session's autostart folder lies below it
};

// A folder that breaks the rule, or a step that fails on the file system (a folder in a file's place, a file in
// the autostart folder's): the reason names it, and memory, every file and the autostart entry stay as they were.
// The save that goes through reaches the engine through kadmel.ini's changed().
void TestSettingsSave::failedStepLeavesAllAsItWas()
{
    EngineBench bench(25);
    QVERIFY(bench.store.SaveAll() && saveIni(bench.program, {.encryption = Encryption::StartTls, .retry = true}));
    Dispatcher& engine = bench.restart();
    const QByteArray jobFolder = engine.JobFolder();
    const Settings stored = bench.store.settings();
    const AutostartEntry session(QStringLiteral("/opt/Kadmel 3/\"neu\"/100%/kadmel"));
    SettingsEdit edit{stored, Encryption::SslTls, {}, false, {}, {}, true};
    edit.settings.WatchFolder = "/srv/neu";
    const QString missing = bench.dir.filePath(QStringLiteral("fehlt"));
    const auto inTheWay = [](const QString& path, bool on) {
        return on ? QFile::rename(path, path + QStringLiteral(".weg")) && QDir().mkdir(path)
                  : QDir().rmdir(path) && QFile::rename(path + QStringLiteral(".weg"), path);
    };
    const QString autostart = m_config.filePath(QStringLiteral("autostart"));
    const auto files = [&] {
        QMap<QString, QByteArray> all = snapshot(bench.dir.path());
        all.insert(snapshot(m_config.path()));
        return all;
    };
    const struct
    {
        FolderSetting archive, receipts;
        std::function<bool(bool)> block;
        QString said;
    } rows[] = {
        {FolderSetting::typed(missing),
         {},
         {},
         QStringLiteral("Der Archivordner „%1“ ist nicht vorhanden.").arg(missing)},
        {FolderSetting::typed(bench.dir.path()),
         FolderSetting("Quittungen"),
         {},
         QStringLiteral("Der Quittungsordner „Quittungen“ ist kein vollständiger Pfad.")},
        {{},
         FolderSetting::typed(missing),
         {},
         QStringLiteral("Der Quittungsordner „%1“ ist nicht vorhanden.").arg(missing)},
        {{},
         {},
         [&](bool on) { return inTheWay(bench.store.indexFilePath(), on); },
         QStringLiteral("ZUBData2(3.0).zub")},
        {{},
         {},
         [&](bool on) { return on ? QFile(autostart).open(QIODevice::WriteOnly) : QFile::remove(autostart); },
         autostart},
        {{}, {}, [&](bool on) { return inTheWay(iniFilePathIn(bench.program), on); }, QStringLiteral("kadmel.ini")},
        {{},
         {},
         [&](bool on) { return inTheWay(bench.store.settingsFilePath(), on); },
         QStringLiteral("ZUBData1(3.0).zub")},
    };
    for (const auto& row : rows) {
        QVERIFY(!row.block || row.block(true));
        const QMap<QString, QByteArray> before = files();
        edit.archiveFolder = row.archive;
        edit.receiptFolder = row.receipts;
        const QString said = saveSettings(bench.store, edit, session);
        QVERIFY2(said.contains(row.said), qPrintable(said));
        QVERIFY(bench.store.settings() == stored && files() == before);
        QVERIFY(!row.block || row.block(false));
    }
    QVERIFY(letTimePass(50) && engine.JobFolder() == jobFolder && !session.exists());

    edit.receiptFolder = FolderSetting(QFile::encodeName(bench.dir.path()));
    QCOMPARE(saveSettings(bench.store, edit, session), QString());
    QTRY_COMPARE(engine.JobFolder(), QByteArray("/srv/neu/KDMEML/"));
    Store again(bench.program);
    again.loadAtStartup();
    const KadmelIni ini = loadIni(bench.program);
    QVERIFY(again.settings() == edit.settings && ini.encryption == Encryption::SslTls && !ini.retry &&
            ini.receiptFolder == edit.receiptFolder);
    // A path with blanks, quotes and '%' stays one argument; '%' starts no field code.
    QVERIFY(fileBytes(AutostartEntry::filePath()).contains("\nExec=\"/opt/Kadmel 3/\\\\\"neu\\\\\"/100%%/kadmel\"\n"));
}

QTEST_GUILESS_MAIN(TestSettingsSave)
#include "tst_settingssave.moc"
