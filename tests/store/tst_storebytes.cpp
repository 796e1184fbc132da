#include "StoreFiles.h"
#include "store/Ansi.h"
#include "store/CryptString.h"
#include "store/FileAccess.h"
#include "store/IndexFile.h"
#include "store/MailFile.h"
#include "store/ResultCode.h"
#include "store/SettingsFile.h"

using namespace kadmel;
using namespace kadmel::test;

// The store's texts (code page, scrambling, result codes, the start check) and the byte layouts of its files.
class TestStoreBytes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyByteSurvives()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(toAnsi(fromAnsi(all)), all); // through the window and back; with the € below, cp1252 both ways
        QCOMPARE(toAnsi(QStringLiteral("a€Ω😀b")), QByteArray("a\x80??b")); // what the code page lacks
        // Every result text byte for byte, in this code page; the codes are exact, with case.
        const QByteArrayList texts =
            QByteArray("Das E-Mail wurde erfolgreich gesendet.|Keine Antwort vom DNS|Fehlermeldung vom DNS|"
                       "Zeit\374berschreitungsfehler oder Fehlermeldung vom Mailserver.|"
                       "Es konnte keine Verbindung zum Mailserver hergestellt werden.|"
                       "Verbindung wurde vom Mailserver getrennt.|"
                       "Zeit\374berschreitungsfehler, Verbindung wurde von ZUB getrennt.|Fehlgeschlagen.|"
                       "Sichere Verbindung zum Mailserver fehlgeschlagen.|Versandstatus unklar: Die E-Mail wurde "
                       "m\xF6glicherweise zugestellt. Bitte vor dem erneuten Senden pr\374fen.|"
                       "Anmeldung beim Mailserver fehlgeschlagen (OAuth).|"
                       "Versand pausiert: der Server meldet zu viele E-Mails.|"
                       "Unzustellbar laut R\374ckmeldung des Empf\344ngerservers.")
                .split('|');
        for (int n = 0; n < texts.size(); ++n)
            QCOMPARE(ResultText(n ? "ERRMessage" + QByteArray::number(n) : "MSGSENT"), texts.at(n));
        for (const QByteArray& other :
             QByteArrayList{"", "errmessage3", "ERRMessage3 ", "ERRMessage0", "ERRMessage13", {"MSGSENT\0", 8}})
            QCOMPARE(ResultText(other), QByteArray());
        for (const ResultCode code : AllResultCodes)
            QVERIFY(resultCodeOf(codeBytes(code)) == code);

        QCOMPARE(CryptString(CryptString(all, 1), 2), all); // scrambled and back
        for (const qint16 mode : {0, 3})                    // neither scrambles nor unscrambles
            QCOMPARE(CryptString("K#L", mode), QByteArray());
        // Damaged groups: a short last group, a code above 255, characters not in the table.
        const QList<std::pair<QByteArray, QByteArray>> damaged = {
            {"K#La", "A\x01"}, {"K#Lad", "A\x0C"}, {"dLL", "\xFF"}, {"dLzK#L", "?A"}, {"K#xK#L", "?A"}, {"065", "?"}};
        for (const auto& [scrambled, plain] : damaged)
            QCOMPARE(CryptString(scrambled, 2), plain);
    }

    void resultNatures()
    {
        // What may be retried: temporary causes and a refusal whose last reply is of class 4, read from the
        // stored conversation as a mail loaded from disk has it (blank replies and control bytes skipped). A
        // positive reply out of step, a 4xx without a refusal code and a socket failure without one are not.
        using N = ResultNature;
        using Row = std::tuple<QByteArray, QByteArrayList, N>;
        const QByteArrayList greeted = {"220 mx ESMTP\r\n", "250 ok\r\n"};
        for (const auto& [status, received, nature] :
             {Row{"MSGSENT", greeted, N::Sent}, Row{"ERRMessage4", {}, N::Temporary},
              Row{"ERRMessage5", greeted, N::Temporary}, Row{"ERRMessage6", greeted, N::Temporary},
              Row{"ERRMessage3", greeted + QByteArrayList{"421 busy\r\n", ""}, N::Temporary},
              Row{"ERRMessage3", {"451 later\r\n", " \r\n", ""}, N::Temporary},
              Row{"ERRMessage3", {"\x01\t452 full\r\n", ""}, N::Temporary},
              Row{"ERRMessage3", greeted + QByteArrayList{"550 no\r\n", ""}, N::Permanent},
              Row{"ERRMessage3", greeted, N::Permanent}, Row{"ERRMessage3", {"x421\r\n"}, N::Permanent},
              Row{"ERRMessage3", {}, N::Permanent}, Row{"ERRMessage8", {"454 TLS not available\r\n"}, N::Permanent},
              Row{"ERRMessage1", {}, N::Permanent}, Row{"ERRMessage7", {}, N::Permanent},
              Row{"ERRMessage10", {"421 busy\r\n"}, N::Permanent}, Row{"ERRMessage9", {"451 later\r\n"}, N::Unclear},
              Row{"ERRMessage12", {"451 later\r\n"}, N::Permanent}, Row{"", {"421 busy\r\n"}, N::Permanent},
              Row{"errmessage4", {}, N::Permanent}}) {
            MailRecord mail;
            mail.Status = status;
            mail.Log.Received = received;
            QVERIFY2(resultNature(mail) == nature, (status + ' ' + received.join('|')).constData());
        }
    }

    void startCheck()
    {
        // The first field missing in the dialog's order, by its label: spaces make no server, a tab does; a sign-in
        // not chosen needs neither user nor password, OAuth 2.0 its own fields; then the folder, of three or more.
        const AuthSetting kennwort, dienst{AuthMethod::OAuth2Dienst, "https://t", {}, "id", "geheim", {}, {}};
        AuthSetting browser = dienst, noSecret = dienst, noId = dienst;
        browser.method = AuthMethod::OAuth2Browser;
        noSecret.clientSecret.clear();
        noId.clientId = " ";
        using Row = std::tuple<QByteArray, QByteArray, QByteArray, qint16, AuthSetting, QByteArray, const char*>;
        for (const auto& [server, user, password, useSpa, auth, folder, missing] :
             {Row{"mx", "u", " p ", 0, kennwort, "C:\\", ""}, Row{"   ", "u", "p", 2, kennwort, "/srv", "SMTP Server"},
              Row{"\t", "u", "p", 2, kennwort, "/srv", ""}, Row{"mx", " ", " ", 0, kennwort, {}, "Benutzername"},
              Row{"mx", "u", " ", 2, kennwort, "/srv", "Passwort"}, Row{"mx", {}, {}, 1, kennwort, "/srv", ""},
              Row{"mx", "u", "p", 2, kennwort, "C:", ""}, Row{"mx", "u", {}, 2, dienst, "/srv", ""},
              Row{"mx", {}, {}, 1, dienst, "/srv", "Benutzername"}, Row{"mx", "u", {}, 1, noId, "/srv", "Client-ID"},
              Row{"mx", "u", "p", 2, noSecret, "/srv", "Client-Geheimnis"},
              Row{"mx", "u", "p", 2, browser, "/srv", "Anmeldung im Browser"}}) {
            const Settings s{folder, server, 25, user, password, useSpa};
            QCOMPARE(missingStartField(s, auth), QString::fromLatin1(missing));
            QCOMPARE(checkStartSettings(s, auth), *missing            ? StartCheck::IncompleteSmtp
                                                  : folder.size() < 3 ? StartCheck::NoWatchFolder
                                                                      : StartCheck::Ok);
        }
    }

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

        // Long strings: 65534 keeps the short length form, 65535 and above take the long one.
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
