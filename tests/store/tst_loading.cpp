#include "StoreFiles.h"
#include "store/IndexFile.h"
#include "store/KadmelIni.h"
#include "store/MailFile.h"

#include <QRandomGenerator>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// Every mail stands in exactly one folder.
bool consistent(const MailTables& t)
{
    QList<int> seen(t.MailCount() + 1, 0);
    for (const int f : {SentFolder, FailedFolder, DeletedFolder}) {
        for (const qint16 id : t.folder(f).entries()) {
            if (id < 1 || id > t.MailCount() || seen[id]++)
                return false;
        }
    }
    return !seen.mid(1).contains(0);
}

} // namespace

class TestLoading : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstStartTheNextAndLostSettings()
    {
        QTemporaryDir dir;
        {
            Store store(dir.path());
            const Store::LoadReport report = store.loadAtStartup();
            QVERIFY(!report.storeExisted && report.problems.isEmpty());
            QVERIFY(QFileInfo(store.mailsFolder()).isDir());
            QCOMPARE(fileBytes(store.settingsFilePath()), QByteArray(14, 0));
            QCOMPARE(fileBytes(store.indexFilePath()),
                     QByteArray(8, 0) + QByteArray::fromHex("0100 02000000 00000000 0000 0000").repeated(2) +
                         QByteArray(2, 0));
        }
        {
            Store store(dir.path());
            QVERIFY(store.loadAtStartup().storeExisted);
            QCOMPARE(store.settings().SmtpPort, qint16(25)); // zero on file means the default
            QCOMPARE(store.settings().UseSpa, qint16(2));
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
        for (const QString& path : {indexPath, mailPath}) {
            const bool isIndex = path == indexPath;
            const QByteArray whole = fileBytes(path);
            for (qsizetype cut = 0; cut < whole.size(); ++cut) {
                writeBytes(path, whole.left(cut));
                Store store(dir.path());
                const qsizetype problems = store.loadAtStartup().problems.size();
                QVERIFY(problems == 1 || (isIndex && problems > 1));
                QCOMPARE(fileBytes(path + QStringLiteral(".bad")), whole.left(cut));
                // A lost index is rebuilt from the files, each mail by its status (the deleted folder is not on
                // file); a damaged mail file costs that mail only.
                const MailTables& t = store.tables();
                QVERIFY(consistent(t));
                QCOMPARE(t.folder(SentFolder).entries(), isIndex ? (QList<qint16>{1, 3}) : QList<qint16>{1});
                QCOMPARE(t.folder(FailedFolder).entries(), QList<qint16>{2});
                QCOMPARE(t.mail(2).Subject, isIndex ? QByteArray("two") : QByteArray());
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
        QCOMPARE(store.loadAtStartup().problems.size(), 1);
        QCOMPARE(store.tables().mail(3).Subject, QByteArray("three"));
        QCOMPARE(store.tables().folder(FailedFolder).entries(), QList<qint16>{2});
        // In hand when the index was lost (or before one was written): the mail may have gone out.
        writeBytes(mailPath, encodeMailRecord(mailWith("two", "")));
        QVERIFY(QFile::remove(indexPath));
        Store(dir.path()).loadAtStartup();
        Store rebuilt(dir.path()); // reads the mark the start before wrote
        rebuilt.loadAtStartup();
        QCOMPARE(rebuilt.tables().mail(2).Status, QByteArray("ERRMessage9"));

        // Sent: 1, 9 (no such mail), 0, 1 again; failed: 3 (also deleted later); deleted: 3. Mail 2 is in no folder.
        writeStore(dir.path());
        writeBytes(indexPath, encodeFolderIndex({3, {4, {0, 1, 9, 0, 1}}, {1, {0, 3}}, {1, {0, 3}}}));
        Store repaired(dir.path());
        QCOMPARE(repaired.loadAtStartup().problems.size(), 1);
        QCOMPARE(repaired.tables().folder(SentFolder), (FolderArray{1, {0, 1}}));
        QCOMPARE(repaired.tables().folder(FailedFolder), (FolderArray{2, {0, 3, 2}}));
        QCOMPARE(repaired.tables().folder(DeletedFolder), (FolderArray{0, {0}}));
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
    void unreadableFilesAreNeverWrittenOver_data()
    {
        QTest::addColumn<QString>("victim"); // below the program folder
        QTest::addColumn<QString>("kind");   // "folder", "link" or "other user"
        QTest::addColumn<bool>("refused");
        const auto row = [](const char* name, const char* victim, const char* kind, bool refused) {
            QTest::newRow(name) << QString::fromLatin1(victim) << QString::fromLatin1(kind) << refused;
        };
        row("mail file is a folder", "Mails/Mail(2).zub", "folder", false);
        row("settings file is a folder", "ZUBData1(3.0).zub", "folder", true);
        row("index file is a folder", "ZUBData2(3.0).zub", "folder", true);
        row("Mails is a link", "Mails", "link", true);
        row("another user's mail", "Mails/Mail(2).zub", "other user", false);
        row("another user's settings", "ZUBData1(3.0).zub", "other user", true);
    }
    void unreadableFilesAreNeverWrittenOver()
    {
        QFETCH(QString, victim);
        QFETCH(QString, kind);
        QFETCH(bool, refused);
        if (kind == QLatin1String("other user") && ::geteuid() != 0)
            QSKIP("A second user needs root.");
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
        if (kind != QLatin1String("other user")) {
            QCOMPARE(run(), 0);
        } else {
            const pid_t child = ::fork();
            if (child == 0) {
                const bool dropped = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                                     ::setresuid(65534, 65534, 65534) == 0;
                ::_exit(dropped ? run() : 99);
            }
            int status = -1;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        }
        QVERIFY(state() == before);
        QVERIFY(!QFile::exists(path + QStringLiteral(".bad")));
    }

    void randomBytesLoadWhatTheyCan()
    {
        QRandomGenerator random(20261206);
        for (int round = 0; round < 40; ++round) {
            QTemporaryDir dir;
            writeStore(dir.path());
            Store store(dir.path());
            const QStringList paths{store.settingsFilePath(), store.indexFilePath(), store.mailFilePath(1)};
            // Round by round: one, two or all three files replaced by noise of up to 300 bytes.
            for (int i = 0; i <= round % 3; ++i) {
                QByteArray noise(random.bounded(300), Qt::Uninitialized);
                for (char& c : noise)
                    c = char(random.bounded(256));
                writeBytes(paths.at((round + i) % 3), noise);
            }
            store.loadAtStartup();
            QVERIFY(consistent(store.tables()));
            QCOMPARE(store.tables().mail(3).Subject, QByteArray("three"));
            QVERIFY(store.SaveAll());
            Store again(dir.path());
            QCOMPARE(again.loadAtStartup().problems, QStringList());
            QCOMPARE(again.tables(), store.tables());
        }
    }
};

QTEST_GUILESS_MAIN(TestLoading)
#include "tst_loading.moc"
