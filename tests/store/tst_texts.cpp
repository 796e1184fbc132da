#include "smtp/ResultText.h"
#include "store/Ansi.h"
#include "store/CryptString.h"
#include "store/Settings.h"

#include <QTest>

using namespace kadmel;

class TestTexts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyByteSurvives()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(toAnsi(fromAnsi(all)), all); // through the window and back
        QCOMPARE(fromAnsi("\x80\xE4\xFC"), QStringLiteral("€äü"));
        QCOMPARE(toAnsi(QStringLiteral("a€Ω😀b")), QByteArray("a\x80??b")); // what the code page lacks
        // Every result text byte for byte, in this code page; the codes are exact, with case.
        const QByteArrayList texts = {"Das E-Mail wurde erfolgreich gesendet.",
                                      "Keine Antwort vom DNS",
                                      "Fehlermeldung vom DNS",
                                      "Zeit\xFC"
                                      "berschreitungsfehler oder Fehlermeldung vom Mailserver.",
                                      "Es konnte keine Verbindung zum Mailserver hergestellt werden.",
                                      "Verbindung wurde vom Mailserver getrennt.",
                                      "Zeit\xFC"
                                      "berschreitungsfehler, Verbindung wurde von ZUB getrennt.",
                                      "Fehlgeschlagen.",
                                      "Sichere Verbindung zum Mailserver fehlgeschlagen.",
                                      "Versandstatus unklar: Die E-Mail wurde m\xF6glicherweise zugestellt. Bitte vor "
                                      "dem erneuten Senden pr\xFC"
                                      "fen."};
        for (int n = 0; n < texts.size(); ++n)
            QCOMPARE(ResultText(n ? "ERRMessage" + QByteArray::number(n) : "MSGSENT"), texts.at(n));
        for (const QByteArray& other :
             QByteArrayList{"", "errmessage3", "ERRMessage3 ", "ERRMessage0", "ERRMessage10", {"MSGSENT\0", 8}})
            QCOMPARE(ResultText(other), QByteArray());

        QCOMPARE(CryptString(CryptString(all, 1), 2), all); // scrambled and back
        for (const qint16 mode : {0, 3})                    // neither scrambles nor unscrambles
            QCOMPARE(CryptString("K#L", mode), QByteArray());
    }

    void unscramblingDamagedGroups_data()
    {
        QTest::addColumn<QByteArray>("scrambled");
        QTest::addColumn<QByteArray>("plain");
        QTest::newRow("short last group of one") << QByteArray("K#La") << QByteArray("A\x01");
        QTest::newRow("short last group of two") << QByteArray("K#Lad") << QByteArray("A\x0C");
        QTest::newRow("255 is the largest code") << QByteArray("dLL") << QByteArray("\xFF");
        QTest::newRow("256 is too large") << QByteArray("dLzK#L") << QByteArray("?A");
        QTest::newRow("a character not in the table") << QByteArray("K#xK#L") << QByteArray("?A");
        QTest::newRow("plain digits are no table characters") << QByteArray("065") << QByteArray("?");
    }

    void unscramblingDamagedGroups()
    {
        QFETCH(QByteArray, scrambled);
        QFETCH(QByteArray, plain);
        QCOMPARE(CryptString(scrambled, 2), plain);
    }

    void startCheck_data()
    {
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<StartCheck>("outcome");
        using B = QByteArray;
        QTest::newRow("complete") << B("mx") << B("u") << B("C:\\") << StartCheck::Ok;
        QTest::newRow("server of spaces") << B("   ") << B("u") << B("/srv") << StartCheck::IncompleteSmtp;
        QTest::newRow("a tab is no space") << B("\t") << B("u") << B("/srv") << StartCheck::Ok;
        QTest::newRow("no user, no folder either") << B("mx") << B() << B() << StartCheck::IncompleteSmtp;
        QTest::newRow("two characters of folder") << B("mx") << B("u") << B("C:") << StartCheck::NoWatchFolder;
    }

    void startCheck()
    {
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, folder);
        QFETCH(StartCheck, outcome);
        Settings s;
        s.SmtpServer = server;
        s.SmtpUser = user;
        s.SmtpPassword = " p ";
        s.WatchFolder = folder;
        QCOMPARE(checkStartSettings(s), outcome);
        s.SmtpPassword = " ";
        QCOMPARE(checkStartSettings(s), StartCheck::IncompleteSmtp);
    }
};

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"
