#include "store/Ansi.h"
#include "store/CryptString.h"
#include "store/ResultCode.h"
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
        QCOMPARE(toAnsi(fromAnsi(all)), all); // through the window and back; with the € below, cp1252 both ways
        QCOMPARE(toAnsi(QStringLiteral("a€Ω😀b")), QByteArray("a\x80??b")); // what the code page lacks
        // Every result text byte for byte, in this code page; the codes are exact, with case.
        const QByteArrayList texts = {"Das E-Mail wurde erfolgreich gesendet.",
                                      "Keine Antwort vom DNS",
                                      "Fehlermeldung vom DNS",
                                      "Zeit\374berschreitungsfehler oder Fehlermeldung vom Mailserver.",
                                      "Es konnte keine Verbindung zum Mailserver hergestellt werden.",
                                      "Verbindung wurde vom Mailserver getrennt.",
                                      "Zeit\374berschreitungsfehler, Verbindung wurde von ZUB getrennt.",
                                      "Fehlgeschlagen.",
                                      "Sichere Verbindung zum Mailserver fehlgeschlagen.",
                                      "Versandstatus unklar: Die E-Mail wurde m\xF6glicherweise zugestellt. Bitte vor "
                                      "dem erneuten Senden pr\374fen.",
                                      "Anmeldung beim Mailserver fehlgeschlagen (OAuth)."};
        for (int n = 0; n < texts.size(); ++n)
            QCOMPARE(ResultText(n ? "ERRMessage" + QByteArray::number(n) : "MSGSENT"), texts.at(n));
        for (const QByteArray& other :
             QByteArrayList{"", "errmessage3", "ERRMessage3 ", "ERRMessage0", "ERRMessage11", {"MSGSENT\0", 8}})
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
        // stored conversation as a mail loaded from disk has it.
        using N = ResultNature;
        using Row = std::tuple<QByteArray, QByteArrayList, N>;
        const QByteArrayList greeted = {"220 mx ESMTP\r\n", "250 ok\r\n"};
        for (const auto& [status, received, nature] : {
                 Row{"MSGSENT", greeted, N::Sent},
                 Row{"ERRMessage4", {}, N::Temporary},
                 Row{"ERRMessage5", greeted, N::Temporary},
                 Row{"ERRMessage6", greeted, N::Temporary},
                 Row{"ERRMessage3", greeted + QByteArrayList{"421 busy\r\n", ""}, N::Temporary},
                 Row{"ERRMessage3", {"451 later\r\n", " \r\n", ""}, N::Temporary}, // blank replies skipped
                 Row{"ERRMessage3", {"\x01\t452 full\r\n", ""}, N::Temporary},     // control bytes skipped
                 Row{"ERRMessage3", greeted + QByteArrayList{"550 no\r\n", ""}, N::Permanent},
                 Row{"ERRMessage3", greeted, N::Permanent}, // a positive reply out of step
                 Row{"ERRMessage3", {"x421\r\n"}, N::Permanent},
                 Row{"ERRMessage3", {}, N::Permanent},
                 Row{"ERRMessage8", {"454 TLS not available\r\n"}, N::Permanent}, // a 4xx, but no refusal code
                 Row{"ERRMessage1", {}, N::Permanent},
                 Row{"ERRMessage7", {}, N::Permanent},
                 Row{"ERRMessage10", {"421 busy\r\n"}, N::Permanent},
                 Row{"ERRMessage9", {"451 later\r\n"}, N::Unclear},
                 Row{"", {"421 busy\r\n"}, N::Permanent}, // a socket failure without a code
                 Row{"errmessage4", {}, N::Permanent},
             }) {
            MailRecord mail;
            mail.Status = status;
            mail.Log.Received = received;
            QVERIFY2(resultNature(mail) == nature, (status + ' ' + received.join('|')).constData());
        }
    }

    void startCheck()
    {
        // Spaces make no server, a tab does; a folder needs more than two characters; a missing user comes first.
        using Row = std::tuple<QByteArray, QByteArray, QByteArray, StartCheck>;
        for (const auto& [server, user, folder, outcome] :
             {Row{"mx", "u", "C:\\", StartCheck::Ok}, Row{"   ", "u", "/srv", StartCheck::IncompleteSmtp},
              Row{"\t", "u", "/srv", StartCheck::Ok}, Row{"mx", {}, {}, StartCheck::IncompleteSmtp},
              Row{"mx", "u", "C:", StartCheck::NoWatchFolder}}) {
            Settings s{folder, server, 0, user, " p "};
            QCOMPARE(checkStartSettings(s), outcome);
            s.SmtpPassword = " ";
            QCOMPARE(checkStartSettings(s), StartCheck::IncompleteSmtp);
            // OAuth 2.0 needs no password but its own fields: the secret for the service account, the refresh
            // token for the browser sign-in.
            AuthSetting auth{AuthMethod::OAuth2Dienst, "https://t", {}, "id", "geheim", {}, {}};
            QCOMPARE(checkStartSettings(s, auth), outcome);
            auth.method = AuthMethod::OAuth2Browser;
            QCOMPARE(checkStartSettings(s, auth), StartCheck::IncompleteSmtp);
            auth.refreshToken = "rt";
            QCOMPARE(checkStartSettings(s, auth), outcome);
            auth.clientId = " ";
            QCOMPARE(checkStartSettings(s, auth), StartCheck::IncompleteSmtp);
        }
    }
};

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"
