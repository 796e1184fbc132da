#include "StoreFiles.h"
#include "store/FileAccess.h"
#include "store/IndexFile.h"
#include "store/MailFile.h"
#include "store/SettingsFile.h"

using namespace kadmel;
using namespace kadmel::test;

class TestStoreBytes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void settingsAndMailFilesByteForByte()
    {
        // Texts are scrambled in place, each a 2-byte length and its bytes.
        const auto text = [](const QByteArray& bytes) { return char(bytes.size()) + QByteArray(1, 0) + bytes; };
        QCOMPARE(encodeSettings(Settings{"A", "\xFF", -2, "u", {}, 2, 1}),
                 text("K#L") + text("dLL") + "\xFE\xFF" + text("aaz") + QByteArray::fromHex("0000 0200 0100"));

        // A log of two sent texts and one received block: each array a descriptor, its elements, an empty one.
        MailRecord record;
        record.Log.reset();
        record.Log.appendSent("EHLO x\r\n");
        record.Log.appendSent("QUIT\r\n");
        record.Log.appendReceived("250 ok\r\n");
        record.From = "a@b";
        record.Status = "MSGSENT";
        QCOMPARE(encodeMailRecord(record), QByteArray::fromHex("0100 03000000 00000000") + text("EHLO x\r\n") +
                                               text("QUIT\r\n") + text({}) +
                                               QByteArray::fromHex("0100 02000000 00000000") + text("250 ok\r\n") +
                                               text({}) + text({}) + text("a@b") + QByteArray(10, 0) + text("MSGSENT"));
        QCOMPARE(encodeMailRecord(MailRecord()), QByteArray(20, 0)); // log arrays never dimensioned
    }

    void longStringsAndTheirBoundary()
    {
        // 65534 keeps the short length form, 65535 and above take the long one.
        const QList<std::pair<int, QByteArray>> heads = {{65534, QByteArray("\xFE\xFF")},
                                                         {65535, QByteArray("\xFF\xFF\xFF\xFF\x00\x00", 6)},
                                                         {70000, QByteArray("\xFF\xFF\x70\x11\x01\x00", 6)}};
        for (const auto& [length, head] : heads) {
            MailRecord record;
            record.Body = QByteArray(length, 'x');
            for (int b = 0; b < 256; ++b) // every byte value survives, in every text
                record.Status.append(char(b));
            record.Log.Sent = {record.Status, QByteArray()};
            record.From = record.To = record.Subject = record.Date = record.Size = record.Status;
            const QByteArray bytes = encodeMailRecord(record);
            QCOMPARE(bytes.mid(bytes.size() - 3 * 258 - length - head.size(), head.size()),
                     head); // before Date, Size, Status
            QCOMPARE(encodedMailRecordSize(record), bytes.size());
            MailRecord back;
            QVERIFY(decodeMailRecord(bytes, back, nullptr));
            QCOMPARE(back, record);

            // A log too long for the file's limit is cut short with a note; the rest of the record stays whole.
            record.Log.Received = QList<QByteArray>(1000, "250 OK\r\n");
            const qint64 limit = bytes.size() + 2000;
            QVERIFY(fitMailRecord(record, limit));
            const QByteArray cut = encodeMailRecord(record);
            QVERIFY(cut.size() <= limit && decodeMailRecord(cut, back, nullptr));
            QVERIFY(back.Body == record.Body && back.Log.Received.size() > 100 &&
                    back.Log.Received.at(back.Log.Received.size() - 2).startsWith("[Protokoll gek\xFCrzt"));
            QVERIFY(!fitMailRecord(record, length)); // not even the body fits
        }
    }

    void forgedLengthsFailWithoutAllocating()
    {
        QString error;
        const auto refused = [&error](const char* hex, qsizetype zeros = 0) {
            MailRecord record;
            return !decodeMailRecord(QByteArray::fromHex(hex) + QByteArray(zeros, 0), record, &error);
        };
        // Element counts of four billion, a string claiming 4 GiB, three dimensions, lower bound 1.
        QVERIFY(refused("0100 ffffffff 00000000 0000") && !error.isEmpty());
        QVERIFY(refused("0000 0000 0000 0000 0000 0000 ffff ffffffff 41"));
        QVERIFY(refused("0300 01000000 00000000", 40));
        QVERIFY(refused("0100 01000000 01000000", 40));
        // A million empty strings is within the file's bytes but above any real log.
        QVERIFY(refused("0100 01001000 00000000", 0x200002 + 20));
        FolderIndexRecord index;
        QVERIFY(!decodeFolderIndex(
            QByteArray::fromHex("0500 0000 0000 0500 0100 02000000 00000000 0000 0000 0000 0000"), index, &error));
        QVERIFY(!decodeFolderIndex(QByteArray::fromHex("0000 0000 0000 ffff 0000 0000 0000"), index, &error));
    }

    void failedSavesAreReported()
    {
        QTemporaryDir dir;
        // A file where the program folder, and then the Mails folder, is expected.
        const QString blocker = dir.filePath(QStringLiteral("Mails"));
        writeBytes(blocker, {});
        QString error;
        QVERIFY2(!Store(blocker).SaveSettings(&error) && error.contains(QStringLiteral("ZUBData1(3.0).zub")),
                 qPrintable(error));
        Store store(dir.path());
        store.tables().createMail({});
        QVERIFY2(!store.SaveAll(&error) && error.contains(QStringLiteral("Mail(1).zub")), qPrintable(error));
        QVERIFY(!store.SaveMail(2, &error)); // no such mail
        // A file the loader would refuse is never written.
        store.tables().mail(1).Body = QByteArray(MaxMailFileBytes, 'x');
        QVERIFY(!store.SaveMail(1, &error) && error.contains(QStringLiteral("zu groß")));
    }
};

QTEST_GUILESS_MAIN(TestStoreBytes)
#include "tst_storebytes.moc"
