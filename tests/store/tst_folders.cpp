#include "StoreFiles.h"
#include "store/IndexFile.h"
#include "store/MailFile.h"
#include "store/PermanentRemoval.h"
#include "store/RemovalPlan.h"

#include <QProcess>

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

// The Mails folder holds Mail(1) … Mail(MailCount) and nothing else, and each mail was once mail `original(id)`,
// standing in the folder `folderOf` gave it, in the old order.
void checkMails(const Store& store, const std::function<int(int)>& original, const std::function<int(int)>& folderOf)
{
    const MailTables& t = store.tables();
    QStringList expected;
    for (int id = 1; id <= t.MailCount(); ++id) {
        expected << QStringLiteral("Mail(%1).zub").arg(id);
        QCOMPARE(t.mail(qint16(id)).Body, "mail " + QByteArray::number(original(id)));
    }
    QStringList found = QDir(store.mailsFolder()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    found.sort();
    expected.sort();
    QCOMPARE(found, expected);
    int filed = 0;
    for (const int folder : {SentFolder, FailedFolder, DeletedFolder}) {
        const QList<qint16> entries = t.folder(folder).entries();
        filed += int(entries.size());
        for (qsizetype i = 0; i < entries.size(); ++i) {
            QCOMPARE(folderOf(original(entries.at(i))), folder);
            QVERIFY(i == 0 || original(entries.at(i - 1)) < original(entries.at(i)));
        }
    }
    QCOMPARE(filed, int(t.MailCount()));
    QVERIFY(!QFile::exists(removalPlanPathIn(store.programFolder())));
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
        QVERIFY(t.folder(SentFolder) == (FolderArray{2, {0, 1, 2}}) &&
                t.folder(FailedFolder) == (FolderArray{1, {0, 3}}) &&
                t.folder(DeletedFolder) == (FolderArray{0, {0}}) && t.mail(2).Body == "mail 3");
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

        QTemporaryDir oneByOneDir, stepsDir;
        Store oneByOne(oneByOneDir.path()), inSteps(stepsDir.path());
        setUp(oneByOne);
        setUp(inSteps);
        for (const qint16 pos : {4, 3, 1}) // mails 5, 6, 8: the positions from the back stay valid
            QVERIFY(oneByOne.RemoveMail(pos, DeletedFolder, true));

        PermanentRemoval removal(inSteps, {3, 1, 4, 3, 9}); // a repeated and an invalid position are ignored
        QString error;
        while (!removal.step(1, &error) && error.isEmpty()) {
        }
        QVERIFY(error.isEmpty());

        QCOMPARE(inSteps.tables(), oneByOne.tables());
        QCOMPARE(inSteps.tables().folder(DeletedFolder), (FolderArray{1, {0, 2}}));
        QCOMPARE(mailFiles(inSteps), mailFiles(oneByOne));
        QCOMPARE(fileBytes(inSteps.indexFilePath()), fileBytes(oneByOne.indexFilePath()));
    }

    // Of 400 mails the deleted half, or the sent quarter as the retention removes them, removed for good, the
    // process killed after n file operations, at a dozen moments from the first to the last: the next start
    // undoes the removal before its commit and finishes it after.
    void removalKilledAnywhereLosesAndBringsBackNothing()
    {
        constexpr int Mails = 400;
        const auto folderOf = [](int id) {
            return id % 2 == 0 ? DeletedFolder : id % 4 == 1 ? SentFolder : FailedFolder;
        };
        QTemporaryDir fixture, other; // other: six sent mails, which no plan of the fixture may touch
        {
            Store store(fixture.path(), FileSync::Skipped);
            fill(store, Mails, folderOf);
            Store six(other.path());
            fill(six, 6, [](int) { return SentFolder; });
        }
        for (const int folder : {DeletedFolder, SentFolder}) {
            RemovalPlan plan{RemovalPlan::Prepared, Mails, {}, {}, {}};
            QList<int> kept{0}; // by new ID: the old one
            for (qint16 id = 1; id <= Mails; ++id)
                folderOf(id) == folder ? plan.removedIds.append(id) : kept.append(id);
            const QList<RemovalStep> steps = removalSteps(plan);
            const int commit = int(std::find_if(steps.cbegin(), steps.cend(),
                                                [](const RemovalStep& s) { return s.kind == RemovalStep::Commit; }) -
                                   steps.cbegin());
            const int last = int(steps.size());
            for (const int n : {0, 1, 2, commit / 3, 2 * commit / 3, commit - 1, commit, commit + 1, commit + 2,
                                (commit + last) / 2, last - 2, last - 1, last}) {
                // Links to the same files: renames and deletions change names only, and a save writes a new file.
                QTemporaryDir dir;
                QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("Mails"))));
                QStringList names = {QStringLiteral("ZUBData1(3.0).zub"), QStringLiteral("ZUBData2(3.0).zub")};
                for (int id = 1; id <= Mails; ++id)
                    names << QStringLiteral("Mails/Mail(%1).zub").arg(id);
                for (const QString& name : std::as_const(names))
                    QCOMPARE(::link(QFile::encodeName(fixture.filePath(name)).constData(),
                                    QFile::encodeName(dir.filePath(name)).constData()),
                             0);
                QProcess child;
                child.start(QStringLiteral(KADMEL_BINARY_DIR "/tests/engine_child"),
                            {dir.path(),
                             folder == SentFolder ? QStringLiteral("remove-sent") : QStringLiteral("remove"),
                             QString::number(n)});
                QVERIFY(child.waitForFinished(60000));
                QCOMPARE(child.exitStatus(), n < last ? QProcess::CrashExit : QProcess::NormalExit);
                if (QFile::copy(removalPlanPathIn(dir.path()), removalPlanPathIn(other.path())))
                    QVERIFY(Store(other.path()).loadAtStartup().problems.value(0).contains(QStringLiteral(".bad“")));

                Store store(dir.path());
                const QStringList problems = store.loadAtStartup().problems;
                QCOMPARE(problems.size(), n > 0 && n < last ? 1 : 0); // the undone or finished removal is said
                const bool removed = n > commit;
                QCOMPARE(store.tables().MailCount(), qint16(removed ? kept.size() - 1 : Mails));
                checkMails(
                    store, [&](int id) { return removed ? kept.at(id) : id; }, folderOf);
                QVERIFY(store.SaveAll());
            }
        }
    }

    // Beside six mails, a plan of another index, or one the index does not bear out, changes nothing and is
    // kept as .bad; one of the version before (no digest, here prepared) that fits is settled.
    void planOfAnotherStoreTouchesNothing()
    {
        // digest 0: none, 1: of this index, 2: of another; count: the plan's mail count
        for (const auto& [removed, digest, count, ours] :
             {std::tuple{QList<qint16>{2, 3}, 1, 6, false}, std::tuple{QList<qint16>{2}, 2, 6, false},
              std::tuple{QList<qint16>{2}, 0, 7, false}, std::tuple{QList<qint16>{2}, 0, 6, true}}) {
            QTemporaryDir dir;
            Store store(dir.path());
            fill(store, 6, [](int id) { return id == 2 ? DeletedFolder : SentFolder; });
            const QByteArray index = fileBytes(store.indexFilePath());
            const QByteArray newIndex = encodeFolderIndex({qint16(count - removed.size()), {}, {}, {}});
            const QByteArray plan =
                encodeRemovalPlan({ours ? RemovalPlan::Prepared : RemovalPlan::Committed, qint16(count), removed,
                                   newIndex, digest ? indexDigest(digest == 1 ? index : newIndex) : QByteArray()});
            const QString path = removalPlanPathIn(dir.path());
            writeBytes(path, plan);
            const QMap<QString, QByteArray> files = mailFiles(store);

            const QStringList problems = store.loadAtStartup().problems;
            QVERIFY2(problems.size() == 1 &&
                         problems.first().contains(ours ? QStringLiteral("zurückgenommen") : QStringLiteral(".bad“")),
                     qPrintable(problems.join(QLatin1Char('\n'))));
            QCOMPARE(fileBytes(path) + fileBytes(path + QStringLiteral(".bad")), ours ? QByteArray() : plan);
            QCOMPARE(mailFiles(store), files);
            QCOMPARE(fileBytes(store.indexFilePath()), index);
            writeBytes(path, "damaged"); // a plan that cannot be settled: no removal writes over it
            QVERIFY(store.loadAtStartup().problems.size() == 1 && !store.removeForGood({1}));
            QCOMPARE(fileBytes(path), QByteArray("damaged"));
        }
    }

    // A rename that fails before the commit puts every file back; one after it is finished before the next save.
    void failedRenameLeavesTheStoreConsistent()
    {
        QTemporaryDir dir;
        Store store(dir.path());
        const auto folderOf = [](int id) { return id == 2 || id == 4 ? DeletedFolder : SentFolder; };
        fill(store, 6, folderOf);
        const MailTables before = store.tables();
        const QMap<QString, QByteArray> files = mailFiles(store);
        // A folder with something in it can take no file's name, not even for root.
        const auto block = [&](const QString& name, bool on = true) {
            const QString path = store.mailsFolder() + QLatin1Char('/') + name;
            QVERIFY(on ? QDir().mkpath(path + QStringLiteral("/x")) : QDir(path).removeRecursively());
        };

        block(QStringLiteral("Mail(3).neu"));       // mail 5 cannot be moved aside
        writeBytes(store.indexFilePath(), "stale"); // a save failed: the plan still names the tables' index
        QString error;
        QVERIFY(!store.removeForGood({1, 2}, &error));
        QVERIFY2(error.contains(QStringLiteral("„Mail(5).zub“ ließ sich nicht in „Mail(3).neu“ umbenennen")) &&
                     error.endsWith(QStringLiteral("Es wurde keine E-Mail gelöscht.")),
                 qPrintable(error));
        block(QStringLiteral("Mail(3).neu"), false);
        QCOMPARE(store.tables(), before);
        QCOMPARE(mailFiles(store), files);
        QVERIFY(!QFile::exists(removalPlanPathIn(dir.path())));

        PermanentRemoval removal(store, {1, 2});
        const auto committed = [&] {
            const auto plan = decodeRemovalPlan(fileBytes(removalPlanPathIn(dir.path())));
            return plan && plan->phase == RemovalPlan::Committed;
        };
        while (!committed())
            QVERIFY(!removal.step(1, &error));
        block(QStringLiteral("Mail(2).zub")); // mail 3 cannot take its new name
        QVERIFY(removal.step(removal.totalOperations(), &error));
        QVERIFY2(error.contains(QStringLiteral("unterbrochen")), qPrintable(error));
        QVERIFY(!store.SaveAll(&error) && error.contains(QStringLiteral("„Mail(2).neu“")));
        block(QStringLiteral("Mail(2).zub"), false);
        QVERIFY(store.SaveAll(&error));
        checkMails(
            store, [](int id) { return id == 1 ? 1 : id + 2 - (id < 3); }, folderOf);
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
