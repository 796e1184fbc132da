#include "StoreFiles.h"
#include "store/EncryptionSetting.h"
#include "store/IndexFile.h"
#include "store/MailFile.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

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
        const QString ini = encryptionFilePathIn(dir.path());
        writeBytes(ini, "[SMTP]\nVerschluesselung=Keine\n");
        const QStringList files{store.settingsFilePath(), store.indexFilePath(), store.mailFilePath(1), ini};
        for (const QString& path : files + QStringList{store.mailsFolder()})
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions(0x7777)));
        // A link planted for a mail: neither read nor written through.
        const QString victim = outside.filePath(QStringLiteral("victim"));
        QVERIFY(QFile::rename(store.mailFilePath(2), victim) && QFile::link(victim, store.mailFilePath(2)));
        const QByteArray victimBytes = fileBytes(victim);

        const QStringList problems = store.loadAtStartup().problems;
        QVERIFY(problems.size() == 1 && problems.first().contains(QStringLiteral("keine gewöhnliche Datei")));
        QCOMPARE(QFile::permissions(store.mailsFolder()) & 0x77, QFileDevice::Permissions());
        for (const QString& path : files)
            QVERIFY2(ownerOnly(path), qPrintable(path));
        // A save over a wide file and over links (one planted while running) leaves private regular files.
        QVERIFY(QFile::setPermissions(store.mailFilePath(3), QFileDevice::Permissions(0x7777)));
        store.tables().mail(3).Status = "ERRMessage3";
        QVERIFY(QFile::remove(store.settingsFilePath()) && QFile::link(victim, store.settingsFilePath()));
        QVERIFY(store.SaveAll());
        QVERIFY(QFile::remove(ini) && QFile::link(victim, ini) && saveEncryption(dir.path(), Encryption::SslTls));
        QCOMPARE(fileBytes(victim), victimBytes);
        for (const QString& path : {store.settingsFilePath(), store.mailFilePath(2), store.mailFilePath(3), ini})
            QVERIFY2(!QFileInfo(path).isSymLink() && ownerOnly(path), qPrintable(path));
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
