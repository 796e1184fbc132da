#include "StoreFiles.h"
#include "store/IndexFile.h"
#include "store/MailFile.h"
#include "store/PermanentRemoval.h"

#include <QTemporaryDir>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// Mails 1 … n with bodies "mail <id>", all saved; folder of mail id given by `folderOf`.
void fill(Store& store, int n, const std::function<int(int)>& folderOf)
{
    QVERIFY(QDir().mkpath(store.mailsFolder()));
    for (int id = 1; id <= n; ++id) {
        MailRecord record;
        record.Body = "mail " + QByteArray::number(id);
        store.tables().createMail(record);
        store.tables().folder(folderOf(id)).append(qint16(id));
    }
    QVERIFY(store.SaveAll());
}

// The Mails folder as name → bytes.
QMap<QString, QByteArray> mailFiles(const Store& store)
{
    QMap<QString, QByteArray> files;
    const QDir dir(store.mailsFolder());
    for (const QString& name : dir.entryList(QDir::Files))
        files.insert(name, fileBytes(dir.filePath(name)));
    return files;
}

} // namespace

class TestFolders : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void foldersGrowFromNeverDimensioned()
    {
        MailTables tables; // after the start-up reset: Sent and Failed 0 … 1, Deleted never dimensioned
        tables.createMail({});
        tables.folder(SentFolder).append(1);
        QVERIFY(tables.MoveMail(1, SentFolder, DeletedFolder));
        QCOMPARE(tables.folder(DeletedFolder), (FolderArray{1, {0, 1}}));
        QCOMPARE(tables.folder(SentFolder), (FolderArray{1, {0, 1}})); // the caller closes up the source
        FolderArray full{MaxMails, QList<qint16>(MaxMails + 1, 1)};
        QVERIFY(!full.append(2));
        QCOMPARE(full.count, MaxMails);
    }

    void deleteMailTwoOfFourForGood()
    {
        QTemporaryDir dir;
        Store store(dir.path());
        // Folders: sent 1, 3; failed 4; deleted 2.
        fill(store, 4, [](int id) { return id == 2 ? DeletedFolder : id == 4 ? FailedFolder : SentFolder; });
        QDir().remove(store.mailFilePath(3)); // a surviving file that went missing only costs a rewrite
        QVERIFY(store.RemoveMail(1, DeletedFolder, true));

        const MailTables& t = store.tables();
        QCOMPARE(t.folder(SentFolder), (FolderArray{2, {0, 1, 2}}));
        QCOMPARE(t.folder(FailedFolder), (FolderArray{1, {0, 3}}));
        QCOMPARE(t.folder(DeletedFolder), (FolderArray{0, {0}}));
        QCOMPARE(t.mail(2).Body, QByteArray("mail 3"));
        QCOMPARE(fileBytes(store.indexFilePath()),
                 encodeFolderIndex({3, t.folder(SentFolder), t.folder(FailedFolder), t.folder(DeletedFolder)}));
        QCOMPARE(fileBytes(store.mailFilePath(3)), encodeMailRecord(t.mail(3)));
        QCOMPARE(mailFiles(store).keys(), (QStringList{QStringLiteral("Mail(1).zub"), QStringLiteral("Mail(3).zub")}));
        QVERIFY(store.SaveAll());
        QCOMPARE(fileBytes(store.mailFilePath(2)), encodeMailRecord(t.mail(2)));
    }

    void severalAtOnceEqualsOneByOne()
    {
        const auto setUp = [](Store& store) {
            fill(store, 8, [](int id) { return id == 3 ? FailedFolder : SentFolder; });
            store.tables().folder(SentFolder) = {3, {0, 1, 4, 7}};
            store.tables().folder(DeletedFolder) = {4, {0, 8, 2, 6, 5}}; // not in ID order
            QVERIFY(store.SaveFolders());
        };

        QTemporaryDir oneByOneDir;
        Store oneByOne(oneByOneDir.path());
        setUp(oneByOne);
        for (const qint16 pos : {4, 3, 1}) // mails 5, 6, 8: the positions from the back stay valid
            QVERIFY(oneByOne.RemoveMail(pos, DeletedFolder, true));

        QTemporaryDir stepsDir;
        Store inSteps(stepsDir.path());
        setUp(inSteps);
        PermanentRemoval removal(inSteps, {3, 1, 4, 3, 9}); // a repeated and an invalid position are ignored
        QString error;
        int steps = 1;
        while (!removal.step(1, &error))
            ++steps;
        QVERIFY(error.isEmpty());
        QCOMPARE(steps, 4); // three files deleted, one renamed (7 → 5): each at most once

        QCOMPARE(inSteps.tables(), oneByOne.tables());
        QCOMPARE(inSteps.tables().folder(DeletedFolder), (FolderArray{1, {0, 2}}));
        QCOMPARE(mailFiles(inSteps), mailFiles(oneByOne));
        QCOMPARE(fileBytes(inSteps.indexFilePath()), fileBytes(oneByOne.indexFilePath()));
    }

    void saveAllWritesOnlyChangedMails()
    {
        QTemporaryDir dir;
        Store store(dir.path());
        fill(store, 5, [](int id) { return id <= 2 ? DeletedFolder : SentFolder; });
        // Junk behind a record shows whether a save replaced the file.
        const auto addJunk = [&store](int last) {
            for (int id = 1; id <= last; ++id)
                writeBytes(store.mailFilePath(qint16(id)), "junk", QIODevice::Append);
        };
        const auto junked = [&store](int id) { return fileBytes(store.mailFilePath(qint16(id))).endsWith("junk"); };
        addJunk(5);
        store.tables().mail(4).Status = "MSGSENT";
        QVERIFY(store.SaveAll());
        QVERIFY(junked(3) && !junked(4));

        // After mails 1 and 2 went for good, the memory of what each file holds moved along with it.
        QVERIFY(store.removeForGood({1, 2}));
        addJunk(3);
        store.tables().mail(1).Subject = "changed";
        QVERIFY(store.SaveAll());
        QVERIFY(!junked(1) && junked(2) && junked(3));
    }
};

QTEST_GUILESS_MAIN(TestFolders)
#include "tst_folders.moc"
