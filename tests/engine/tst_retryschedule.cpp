#include "engine/RetrySchedule.h"
#include "store/FileAccess.h"
#include "store/RetryFile.h"
#include "store/StoreFiles.h"

#include <limits>

using namespace kadmel;
using namespace kadmel::test;

class TestRetrySchedule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The steps over a day; wall times read back after a clock jump; an entry read back after a restart
    // following its mail through renumbering and losing it to an edit; the file at the reader's limit and damaged.
    void retryScheduleRules()
    {
        MailTables tables;
        MailRecord mail{{}, {}, "a@example.com", "b@example.com", "Betreff", "Text", "07.12.2026 03:00:00", {}, {}};
        mail.Status = "ERRMessage4";
        for (const int folder : {DeletedFolder, FailedFolder, FailedFolder}) {
            tables.folder(folder).append(*tables.createMail(mail));
            mail.Date[18] = char(mail.Date[18] + 1);
        }
        RetrySchedule schedule(1); // a minute is a millisecond
        schedule.failed(2, tables.mail(2), 0, true);
        QList<qint64> attempts, expected = {1, 3, 7, 15, 31, 63};
        for (qint64 t = 123; t <= 24 * 60; t += 60)
            expected.append(t);
        for (bool changed = false; !schedule.isEmpty() && attempts.size() < 100;) {
            const qint64 at = schedule.nextAttempts().value(2);
            QVERIFY(!schedule.due(tables, at - 1, changed) && schedule.due(tables, at, changed) == 2);
            attempts.append(at);
            schedule.failed(2, tables.mail(2), at, false);
        }
        QCOMPARE(attempts, expected);

        // Saved after two failures, read back with a wait far beyond its step (a clock set back), and a day later.
        schedule.failed(2, tables.mail(2), 1000, true);
        schedule.failed(2, tables.mail(2), 1001, false);
        const qint64 wall = 5'000'000'000;
        RetryFileContent saved = schedule.toFile(1001, wall);
        RetrySchedule restarted(1);
        restarted.fromFile(saved, 7, wall + 1); // read a moment later: the attempt keeps its time
        QCOMPARE(restarted.nextAttempts().value(2), 8);
        saved.entries[0].nextAttempt += 86'400'000;
        restarted.fromFile(saved, 0, wall);
        QCOMPARE(restarted.nextAttempts().value(2), 2);
        restarted.fromFile(saved, 0, wall + 24 * 60);
        QVERIFY(restarted.isEmpty());

        // Mail 1 removed for good while the program was off: mail 3 is 2 now. Edited, it is another mail.
        schedule.failed(3, tables.mail(3), 0, true);
        schedule.forget(2);
        tables.deleteMails({1});
        tables.folder(DeletedFolder).removeAt(1);
        QVERIFY(schedule.reconcile(tables) && schedule.nextAttempts().keys() == QList<qint16>{2});
        tables.mail(2).To = "c@example.com";
        QVERIFY(schedule.reconcile(tables) && schedule.isEmpty());

        RetryFileContent full{std::numeric_limits<qint64>::max(), {}};
        for (int id = 1; id <= MaxMails; ++id)
            full.entries.append({qint16(id), "0123456789abcdef", std::numeric_limits<qint64>::min(),
                                 std::numeric_limits<qint64>::max(), std::numeric_limits<qint32>::max()});
        QVERIFY(encodeRetryFile(full).size() <= MaxRetryFileBytes);
        QCOMPARE(decodeRetryFile(encodeRetryFile(full)), full);
        const QByteArray head = "KadmelWiederholung 1 5\n", line = "2 0123456789abcdef 1 2 1\n";
        QVERIFY(decodeRetryFile(head + line));
        for (const QByteArray& bad :
             {QByteArray(), head + line.chopped(1), head + line + line, "X" + head + line, head + "0" + line.mid(1),
              head + "32768" + line.mid(1), head + line.toUpper(), head + "2 0123456789abcdef +1 2 1\n",
              head + "2 0123456789abcdef 1 2 0\n", head + "2 0123456789abcdef 1  2 1\n"})
            QVERIFY2(!decodeRetryFile(bad), bad.constData());
        QTemporaryDir dir;
        QString error;
        QVERIFY(writeWholeFile(retryFilePathIn(dir.path()), line, nullptr) && !loadRetryFile(dir.path(), &error));
        QVERIFY(error.contains(QStringLiteral("beschädigt")) &&
                QFile::exists(dir.filePath(QStringLiteral("kadmel.retry.bad"))));
        // Over the reader's limit: refused, and its bytes stay as ".bad" when the next save removes it.
        const QByteArray huge = head + line.repeated(MaxRetryFileBytes / line.size() + 1);
        QVERIFY(writeWholeFile(retryFilePathIn(dir.path()), huge, nullptr) && !loadRetryFile(dir.path(), &error));
        QVERIFY(error.contains(QStringLiteral("zu groß")) && saveRetryFile(dir.path(), {}));
        QCOMPARE(fileBytes(dir.filePath(QStringLiteral("kadmel.retry.bad"))), huge);
    }
};

QTEST_GUILESS_MAIN(TestRetrySchedule)
#include "tst_retryschedule.moc"
