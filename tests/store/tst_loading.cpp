#include "StoreFiles.h"
#include "store/CryptString.h"
#include "store/IndexFile.h"
#include "store/InstanceLock.h"
#include "store/KadmelIni.h"
#include "store/MailFile.h"
#include "store/Migration.h"
#include "store/SettingsFile.h"
#include "support/SmallDisk.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <numeric>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// Every mail stands in exactly one folder.
bool consistent(const MailTables& t)
{
    QList<qint16> filed = t.folder(SentFolder).entries() + t.folder(FailedFolder).entries() +
                          t.folder(DeletedFolder).entries(),
                  ids(t.MailCount());
    std::sort(filed.begin(), filed.end());
    std::iota(ids.begin(), ids.end(), qint16(1));
    return filed == ids;
}

QStringList zubFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.zub"), QStringLiteral("*.ZUB")}, QDir::Files, QDir::Name);
}

} // namespace

// The start: older files taken over, the instance lock, then the store's files loaded whatever they hold.
class TestLoading : public QObject
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
            QByteArray old; // 2.9's settings: four strings, unscrambled by the take-over and by loading

            for (const char* text : {"/srv/kadmel", "mx.old", "anna", "geheim"}) {
                const QByteArray stored = CryptString(CryptString(text, 1), 1);
                old += char(stored.size()) + QByteArray(1, 0) + stored;
            }
            const bool v29 = version == QStringLiteral("2.9");
            if (v29) // the 2.5 settings file is the store's own
                writeBytes(dir.filePath(QStringLiteral("ZUBData1(2.9).zub")), old);
            Store store(dir.path());
            QCOMPARE(store.loadAtStartup().problems, QStringList());
            QCOMPARE(zubFiles(dir.path()),
                     (QStringList{QStringLiteral("ZUBData1(3.0).zub"), QStringLiteral("ZUBData2(3.0).zub")}));
            QCOMPARE(fileBytes(store.indexFilePath()), index);
            QVERIFY(ownerOnly(store.indexFilePath()) && ownerOnly(store.settingsFilePath()));
            Settings onFile; // the fields 2.9 did not have are written as never set
            QVERIFY(decodeSettings(fileBytes(store.settingsFilePath()), onFile, nullptr));
            QCOMPARE((QByteArrayList{QByteArray::number(onFile.UseSpa), store.settings().SmtpServer,
                                     store.settings().SmtpPassword}),
                     (QByteArrayList{"0", v29 ? "mx.old" : "mx.example", v29 ? "geheim" : ""}));
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

    // One program per folder: a held lock makes a second start end silently, a stale one is taken over, and one
    // that cannot be written is said.
    void instanceLock()
    {
        QTemporaryDir dir;
        QTemporaryDir otherDir;
        {
            InstanceLock first(dir.path());
            QVERIFY(first.tryLock());
            QVERIFY(ownerOnly(dir.filePath(QStringLiteral("kadmel.lock"))));
            InstanceLock second(dir.path());
            QVERIFY(!second.tryLock() && second.errorString().isEmpty());
            QVERIFY(InstanceLock(otherDir.path()).tryLock());
        }
        QVERIFY(InstanceLock(dir.path()).tryLock());

        const QByteArray app = QCoreApplication::applicationName().toUtf8();
        const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
        // A process ID above any pid_max, garbage, this very (living) process on another host, and on this host: a
        // lock that names a live program but that no process holds, as one copied along with its folder. The
        // files are fresh, so age plays no part.
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        for (const QByteArray& content :
             {"999999999\n" + app + "\n" + host + "\n", QByteArray("\x01\xff garbage\n\n"),
              self + "\n" + app + "\nelsewhere.example\n", self + "\n" + app + "\n" + host + "\n"}) {
            QTemporaryDir stale;
            writeBytes(stale.filePath(QStringLiteral("kadmel.lock")), content);
            QVERIFY2(InstanceLock(stale.path()).tryLock(), content.constData());
        }

        SmallDisk disk(otherDir.path(), "size=8k");
        if (!disk.isMounted())
            QSKIP("A full disk needs the right to mount a tmpfs.");
        writeBytes(otherDir.filePath(QStringLiteral("filler")), QByteArray(16384, 'x')); // fills the 8 KiB disk
        InstanceLock full(otherDir.path());
        QVERIFY(!full.tryLock() && full.errorString().contains(QStringLiteral("„kadmel.lock“")));
    }

    void firstStartTheNextAndLostSettings()
    {
        QTemporaryDir dir;
        {
            Store store(dir.path());
            const Store::LoadReport report = store.loadAtStartup();
            QVERIFY(!report.storeExisted && report.problems.isEmpty());
            QCOMPARE(fileBytes(store.settingsFilePath()), QByteArray(14, 0));
            QCOMPARE(fileBytes(store.indexFilePath()),
                     QByteArray(8, 0) + QByteArray::fromHex("0100 02000000 00000000 0000 0000").repeated(2) +
                         QByteArray(2, 0));
        }
        {
            Store store(dir.path());
            QVERIFY(store.loadAtStartup().storeExisted); // zero on file means the default port, SPA off
            QCOMPARE((std::pair(store.settings().SmtpPort, store.settings().UseSpa)),
                     (std::pair<qint16, qint16>(25, 2)));
        }
        // Lost settings never cost the mails: the first-start save runs over a full store.
        writeStore(dir.path());
        Store store(dir.path());
        const QByteArray index = fileBytes(store.indexFilePath());
        const QByteArray mail2 = fileBytes(store.mailFilePath(2));
        QVERIFY(QFile::remove(store.settingsFilePath()));
        QVERIFY(!store.loadAtStartup().storeExisted);
        QCOMPARE(store.tables().mail(3).Subject, QByteArray("three"));
        QCOMPARE(store.settings(), Settings());
        QVERIFY(fileBytes(store.indexFilePath()) == index && fileBytes(store.mailFilePath(2)) == mail2);
    }

    void damagedIndexAndMailFiles()
    {
        QTemporaryDir dir;
        writeStore(dir.path());
        const QString indexPath = Store(dir.path()).indexFilePath();
        const QString mailPath = Store(dir.path()).mailFilePath(2);
        const QByteArray mail = fileBytes(mailPath);
        for (const QString& path : {Store(dir.path()).settingsFilePath(), indexPath, mailPath}) {
            const bool isIndex = path == indexPath, isMail = path == mailPath;
            const QByteArray whole = fileBytes(path);
            for (qsizetype cut = 0; cut < whole.size(); ++cut) {
                writeBytes(path, whole.left(cut));
                Store store(dir.path(), FileSync::Skipped);
                const qsizetype problems = store.loadAtStartup().problems.size();
                QVERIFY(problems == 1 || (isIndex && problems > 1));
                QCOMPARE(fileBytes(path + QStringLiteral(".bad")), whole.left(cut));
                // Lost settings are the defaults; a lost index is rebuilt from the files, each mail by its status
                // (the deleted folder is not on file); a damaged mail file costs that mail only.
                const MailTables& t = store.tables();
                QVERIFY(consistent(t));
                QCOMPARE((std::tuple{t.folder(SentFolder).entries(), t.folder(FailedFolder).entries(),
                                     t.mail(2).Subject, store.settings().SmtpServer}),
                         (std::tuple{isIndex ? QList<qint16>{1, 3} : QList<qint16>{1}, QList<qint16>{2},
                                     isMail ? QByteArray() : QByteArray("two"),
                                     path == store.settingsFilePath() ? QByteArray() : QByteArray("mx.example")}));
                // What was made of it is saved whole: the next start finds no damage.
                QVERIFY(store.SaveAll());
                Store again(dir.path());
                QCOMPARE(again.loadAtStartup().problems, QStringList());
                QCOMPARE(again.tables(), t);
            }
            writeBytes(path, whole);
        }
        {
            // Bytes behind a whole record are no damage, but the next save writes the file clean.
            writeBytes(mailPath, mail + "tail");
            Store store(dir.path());
            QCOMPARE(store.loadAtStartup().problems, QStringList());
            QVERIFY(store.SaveAll());
            QCOMPARE(fileBytes(mailPath), mail);
        }
        // A missing middle file costs that mail only; it keeps its folder.
        QVERIFY(QFile::remove(mailPath));
        Store store(dir.path());
        QCOMPARE((std::tuple{store.loadAtStartup().problems.size(), store.tables().mail(3).Subject,
                             store.tables().folder(FailedFolder).entries()}),
                 (std::tuple{qsizetype(1), QByteArray("three"), QList<qint16>{2}}));
        // In hand when the index was lost (or before one was written): the mail may have gone out.
        writeBytes(mailPath, encodeMailRecord(mailWith("two", "")));
        QVERIFY(QFile::remove(indexPath));
        Store(dir.path()).loadAtStartup();
        Store rebuilt(dir.path()); // reads the mark the start before wrote
        QVERIFY(rebuilt.loadAtStartup().storeExisted && rebuilt.tables().mail(2).Status == "ERRMessage9");

        // Sent: 1, 9 (no such mail), 0, 1 again; failed: 3 (also deleted later); deleted: 3. Mail 2 is in no folder.
        writeStore(dir.path());
        writeBytes(indexPath, encodeFolderIndex({3, {4, {0, 1, 9, 0, 1}}, {1, {0, 3}}, {1, {0, 3}}}));
        Store repaired(dir.path());
        const MailTables& t = repaired.tables();
        QCOMPARE(repaired.loadAtStartup().problems.size(), 1);
        QVERIFY(t.folder(SentFolder) == (FolderArray{1, {0, 1}}) &&
                t.folder(FailedFolder) == (FolderArray{2, {0, 3, 2}}) &&
                t.folder(DeletedFolder) == (FolderArray{0, {0}}));
    }

    void filesStayPrivateAndLinksAreReplaced()
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        writeStore(dir.path());
        Store store(dir.path());
        const QString ini = iniFilePathIn(dir.path());
        writeBytes(ini, "[SMTP]\nVerschluesselung=Keine\n");
        const QStringList files{store.settingsFilePath(), store.indexFilePath(), store.mailFilePath(1), ini};
        for (const QString& path : files + QStringList{store.mailsFolder()})
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions(0x7777)));
        // A link planted for a mail before the start: neither read, nor written through, nor replaced.
        const QString victim = outside.filePath(QStringLiteral("victim"));
        QVERIFY(QFile::rename(store.mailFilePath(2), victim) && QFile::link(victim, store.mailFilePath(2)));
        const QByteArray victimBytes = fileBytes(victim);

        const QStringList problems = store.loadAtStartup().problems;
        QVERIFY(problems.size() == 1 && problems.first().contains(QStringLiteral("keine gewöhnliche Datei")));
        QCOMPARE(store.tables().mail(2).Subject, QByteArray("(Mail-Datei \x84Mail(2).zub\x93 nicht lesbar)"));
        QCOMPARE(QFile::permissions(store.mailsFolder()) & 0x77, QFileDevice::Permissions());
        for (const QString& path : files)
            QVERIFY2(ownerOnly(path), qPrintable(path));
        // A save over a wide file and over a link planted while running leaves private regular files.
        QVERIFY(QFile::setPermissions(store.mailFilePath(3), QFileDevice::Permissions(0x7777)));
        store.tables().mail(3).Status = "ERRMessage3";
        QVERIFY(QFile::remove(store.settingsFilePath()) && QFile::link(victim, store.settingsFilePath()));
        QVERIFY(store.SaveAll());
        QVERIFY(QFile::remove(ini) && QFile::link(victim, ini) &&
                KadmelIniFile(dir.path()).write({.encryption = Encryption::SslTls}, nullptr));
        QCOMPARE(fileBytes(victim), victimBytes);
        for (const QString& path : {store.settingsFilePath(), store.mailFilePath(3), ini})
            QVERIFY2(!QFileInfo(path).isSymLink() && ownerOnly(path), qPrintable(path));
        QVERIFY(QFileInfo(store.mailFilePath(2)).isSymLink() && !store.SaveMail(2));
    }

    // Store files that cannot be read: a folder in their place, "Mails" as a link, and (as root) another
    // user's 0600 files met by a second user on the same program folder. A mail shows as unreadable and its
    // file stays; the settings, the index or a linked "Mails" refuse the store. Nothing is written over them.
    void unreadableFilesAreNeverWrittenOver()
    {
        // victim below the program folder, how it cannot be read, whether the store is refused
        for (const auto& [victim, kind, refused] :
             {std::tuple{"Mails/Mail(2).zub", "folder", false}, std::tuple{"ZUBData1(3.0).zub", "folder", true},
              std::tuple{"ZUBData2(3.0).zub", "folder", true}, std::tuple{"Mails", "link", true},
              std::tuple{"Mails/Mail(2).zub", "other user", false},
              std::tuple{"ZUBData1(3.0).zub", "other user", true}})
            if ((kind != QByteArray("other user") || ::geteuid() == 0) && !QTest::currentTestFailed()) // root: 2nd user
                unreadable(QLatin1String(victim), QLatin1String(kind), refused);
    }

private:
    void unreadable(const QString& victim, const QString& kind, bool refused)
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        writeStore(dir.path());
        const QString path = dir.filePath(victim);
        const QString target = outside.filePath(QStringLiteral("Mails")); // of the link
        if (kind == QLatin1String("folder")) {
            QVERIFY(QFile::remove(path) && QDir().mkdir(path));
        } else if (kind == QLatin1String("link")) {
            QVERIFY(QDir().rename(path, target) && QFile::link(target, path));
            QVERIFY(QFile::setPermissions(target, QFileDevice::Permissions(0x7755)));
        } else { // the program folder is the second user's (65534), the victim root's own
            for (QDirIterator it(dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
                 it.hasNext();)
                QCOMPARE(::chown(QFile::encodeName(it.next()).constData(), 65534, 65534), 0);
            QCOMPARE(::chown(QFile::encodeName(dir.path()).constData(), 65534, 65534), 0);
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 0, 0), 0);
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0600), 0);
        }
        // A folder's time changes with any file made or removed in it.
        const auto state = [&] {
            const QFileInfo info(path), linked(target);
            return std::tuple{info.isSymLink(),         fileBytes(path),       info.lastModified(),
                              QFile::permissions(path), linked.lastModified(), QFile::permissions(target)};
        };
        const auto before = state();

        // The start and every later save, as the user who cannot read the victim. Returns the failed step.
        const auto run = [&]() -> int {
            Store store(dir.path());
            const Store::LoadReport report = store.loadAtStartup();
            if (report.refusal.isEmpty() == refused)
                return 1;
            if (refused)
                return store.SaveAll() || store.SaveSettings() || store.SaveFolders() ? 2 : 0;
            if (!store.tables().mail(2).Subject.contains("nicht lesbar") || store.tables().mail(3).Subject != "three")
                return 3;
            // Unchanged, the unreadable mail asks for no write; changed, it fails the save, but not the others.
            QString error;
            store.tables().mail(3).Status = "ERRMessage3";
            if (!store.SaveAll() || store.SaveMail(2, &error) || !error.contains(QStringLiteral("nicht überschrieben")))
                return 4;
            store.tables().mail(2).To = "b@example.com";
            store.tables().mail(3).Status = "ERRMessage4";
            if (store.SaveAll(&error) || !error.contains(QStringLiteral("Mail(2).zub")))
                return 5;
            Store again(dir.path());
            again.loadAtStartup();
            return again.tables().mail(3).Status == "ERRMessage4" ? 0 : 6;
        };
        QCOMPARE(kind == QLatin1String("other user") ? asNobody(run) : run(), 0);
        QVERIFY2(state() == before && !QFile::exists(path + QStringLiteral(".bad")), qPrintable(victim + kind));
    }
};

QTEST_GUILESS_MAIN(TestLoading)
#include "tst_loading.moc"
