#include "engine/FailureReason.h"
#include "engine/Filing.h"
#include "engine/RetrySchedule.h"
#include "store/FileAccess.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"
#include "store/RetryFile.h"
#include "support/EngineBench.h"

#include <limits>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// Two failed mails and the filing alone: no server, no dispatcher.
struct FilingBench : EngineBench
{
    std::unique_ptr<Filing> filing;
    bool saved = false;

    explicit FilingBench(qint64 offThreadBytes, bool newMail = true) : EngineBench(25)
    {
        for (const char* subject : {"eins", "zwei"})
            store.tables().folder(FailedFolder).append(*store.tables().createMail(mailWith(subject, "ERRMessage4")));
        if (newMail) { // in hand: in no folder yet
            store.tables().createMail(mailWith("neu", {}));
            store.tables().mail(3).Body = QByteArray(1000, 'x');
        }
        saved = store.SaveAll();
        timings.offThreadBytes = offThreadBytes;
        filing = std::make_unique<Filing>(store, view, timings);
    }
    // Files the outcome and waits for filed(); false when it never came.
    bool file(const MailInHand& hand, bool sent, const QByteArray& code, const QByteArray& reply = "250 ok\r\n")
    {
        QSignalSpy filed(filing.get(), &Filing::filed);
        SmtpLog log;
        log.reset();
        if (!reply.isEmpty())
            log.appendReceived(reply);
        MailRecord attempt;
        attempt.Status = sent ? codeBytes(ResultCode::Sent) : code;
        attempt.Log = log;
        filing->file(hand, storedOutcome(attempt), log, true);
        return !filed.isEmpty() || filed.wait(10000);
    }
};

} // namespace

class TestFiling : public QObject
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

        // Mail 1 removed for good while the program was off: mail 3 is 2 now, found by its Message-ID. Edited (its
        // Message-ID gone), it is another mail.
        setMessageId(tables.mail(3), "<x@example.com>");
        schedule.failed(3, tables.mail(3), 0, true);
        schedule.forget(2);
        tables.deleteMails({1});
        tables.folder(DeletedFolder).removeAt(1);
        QVERIFY(schedule.reconcile(tables) && schedule.nextAttempts().keys() == QList<qint16>{2});
        tables.mail(2).To = "c@example.com";
        setMessageId(tables.mail(2), {});
        QVERIFY(schedule.reconcile(tables) && schedule.isEmpty());

        MailRecord longest; // its Message-ID of blanks, each written as "%20"
        longest.Reserved = '<' + QByteArray(MaxKeyedMessageId - 2, ' ') + '>';
        RetryFileContent full{std::numeric_limits<qint64>::max(), {}};
        for (int id = 1; id <= MaxMails; ++id)
            full.entries.append({qint16(id), MailKey::of(longest), std::numeric_limits<qint64>::min(),
                                 std::numeric_limits<qint64>::max(), std::numeric_limits<qint32>::max()});
        QVERIFY(encodeRetryFile(full).size() <= MaxRetryFileBytes);
        QCOMPARE(decodeRetryFile(encodeRetryFile(full)), full);
        const QByteArray head = "KadmelWiederholung 1 5\n", line = "2 0123456789abcdef 1 2 1\n";
        QVERIFY(decodeRetryFile(head + line) && decodeRetryFile(head + "2 %3Ca%40b%3E 1 2 1\n"));
        for (const QByteArray& bad :
             {QByteArray(), head + line.chopped(1), head + line + line, "X" + head + line, head + "0" + line.mid(1),
              head + "32768" + line.mid(1), head + line.toUpper(), head + "2 0123456789abcdef +1 2 1\n",
              head + "2 0123456789abcdef 1 2 0\n", head + "2 0123456789abcdef 1  2 1\n", head + "2 %3ca%40b%3E 1 2 1\n",
              head + "2 a%40b 1 2 1\n"})
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

    // Each outcome lands in its folder, the rows follow it, and disk and memory agree afterwards.
    void eachOutcomeIsFiledAndSaved_data()
    {
        QTest::addColumn<bool>("isNew");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<qint64>("offThreadBytes");
        QTest::addColumn<QList<qint16>>("sentFolder");
        QTest::addColumn<QList<qint16>>("failedFolder");
        QTest::addColumn<QByteArrayList>("rows");
        const qint64 never = qint64(1) << 40;
        QTest::newRow("new, sent") << true << true << never << QList<qint16>{3} << QList<qint16>{1, 2}
                                   << QByteArrayList{"row 1 3 bold"};
        QTest::newRow("new, sent, file written beside")
            << true << true << qint64(0) << QList<qint16>{3} << QList<qint16>{1, 2} << QByteArrayList{"row 1 3 bold"};
        QTest::newRow("new, failed") << true << false << never << QList<qint16>{} << QList<qint16>{1, 2, 3}
                                     << QByteArrayList{"row 2 3 bold"};
        QTest::newRow("resent") << false << true << never << QList<qint16>{2} << QList<qint16>{1}
                                << QByteArrayList{"row 1 2", "remove 2 2"};
        QTest::newRow("resent, failed again") << false << false << qint64(0) << QList<qint16>{} << QList<qint16>{1, 2}
                                              << QByteArrayList{"status 2 " + ResultText("ERRMessage4")};
    }
    void eachOutcomeIsFiledAndSaved()
    {
        QFETCH(bool, isNew);
        QFETCH(bool, sent);
        QFETCH(qint64, offThreadBytes);
        FilingBench bench(offThreadBytes, isNew);
        QVERIFY(bench.saved);
        const MailInHand hand = isNew ? MailInHand{3} : MailInHand{2, FailedFolder, 2};
        QVERIFY(bench.file(hand, sent, "ERRMessage4"));
        QTEST(bench.store.tables().folder(SentFolder).entries(), "sentFolder");
        QTEST(bench.store.tables().folder(FailedFolder).entries(), "failedFolder");
        QByteArrayList rows;
        for (const QByteArray& line : bench.view.log)
            if (!line.startsWith("message "))
                rows.append(line);
        QTEST(rows, "rows");
        QCOMPARE(bench.store.tables().mail(hand.id).Status,
                 sent ? codeBytes(ResultCode::Sent) : QByteArray("ERRMessage4"));
        QCOMPARE(bench.store.tables().mail(hand.id).Log.Received, (QByteArrayList{"250 ok\r\n", {}}));
        QCOMPARE(bench.reloaded(), bench.store.tables());
    }

    // A refusal whose cause is known says what to do, after the server's own words.
    void knownRefusalsAreExplained_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("afterToken");
        QTest::addColumn<QByteArray>("help"); // empty: none
        QTest::newRow("SMTP AUTH off for the tenant")
            << QByteArray("535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled") << true
            << QByteArray("SMTP AUTH ist");
        QTest::newRow("another account's token")
            << QByteArray("535 5.7.3 Authentication unsuccessful") << true << QByteArray("anderen Konto");
        QTest::newRow("5.7.3 after a password")
            << QByteArray("535 5.7.3 Authentication unsuccessful") << false << QByteArray();
        QTest::newRow("5.7.30 is another code") << QByteArray("550 5.7.30 denied") << true << QByteArray();
    }
    void knownRefusalsAreExplained()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, afterToken);
        QFETCH(QByteArray, help);
        MailRecord mail = mailWith("Betreff", "ERRMessage3");
        mail.Log.reset();
        if (afterToken)
            mail.Log.appendSent("AUTH XOAUTH2 ****\r\n");
        mail.Log.appendReceived(reply + "\r\n");
        const QByteArray reason = failureReason(mail);
        QVERIFY2(reason.startsWith(reply) && reason.contains(help) && reason.contains("Hinweis") == !help.isEmpty(),
                 reason.constData());
    }

    // A failure that may pass waits for its retry while the choice is on; a success forgets it.
    void onlyFailuresThatMayPassWaitForARetry_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("waits");
        QTest::newRow("server down") << QByteArray("ERRMessage4") << QByteArray() << true << true;
        QTest::newRow("550") << QByteArray("ERRMessage3") << QByteArray("550 no\r\n") << true << false;
        QTest::newRow("choice off") << QByteArray("ERRMessage4") << QByteArray() << false << false;
    }
    void onlyFailuresThatMayPassWaitForARetry()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, reply);
        QFETCH(bool, on);
        QFETCH(bool, waits);
        FilingBench bench(qint64(1) << 40);
        QVERIFY(saveIni(bench.program, {.retry = on}));
        bench.filing->setServiceActive(true);
        QVERIFY(bench.file({3}, false, status, reply));
        QCOMPARE(bench.view.retryTimes.keys(), waits ? QList<qint16>{3} : QList<qint16>{});
        QVERIFY(!bench.filing->dueRetry()); // a first step is a minute away
        bench.filing->setServiceActive(false);
        QVERIFY(bench.view.retryTimes.isEmpty()); // a stopped service promises no attempt
        QVERIFY(bench.file({3, FailedFolder, 3}, true, {}));
        QVERIFY(!QFile::exists(retryFilePathIn(bench.program)));
    }

    // A filing that cannot be saved is said, kept in memory, and written whole by the next filing.
    void anUnsavedFilingIsWrittenByTheNext()
    {
        FilingBench bench(0);
        QVERIFY(bench.saved);
        const QString mails = bench.store.mailsFolder();
        QVERIFY(QDir().rename(mails, mails + QStringLiteral(".away")) && QFile(mails).open(QIODevice::WriteOnly));
        QVERIFY(bench.file({3}, false, "ERRMessage4"));
        QVERIFY(bench.view.message.startsWith("E-Mail (ID 3) konnte nicht gespeichert werden"));
        QCOMPARE(bench.store.tables().count(FailedFolder), 3);
        QVERIFY(QFile::remove(mails) && QDir().rename(mails + QStringLiteral(".away"), mails));
        QVERIFY(bench.file({1, FailedFolder, 1}, true, {}));
        QCOMPARE(bench.reloaded(), bench.store.tables());
    }
};

QTEST_GUILESS_MAIN(TestFiling)
#include "tst_filing.moc"
