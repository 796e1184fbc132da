#include "smtp/ResultText.h"
#include "store/Ansi.h"

#include <QTest>

using namespace kadmel;

class TestAnsi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyByteSurvivesTheWindow()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(toAnsi(fromAnsi(all)), all);
        QCOMPARE(fromAnsi("\x80\xE4\xFC"), QStringLiteral("€äü"));
    }

    void unmappableTextBecomesQuestionMarks()
    {
        QCOMPARE(toAnsi(QStringLiteral("a€Ω😀b")), QByteArray("a\x80??b"));
    }

    void resultTextsAreExactAndCaseSensitive()
    {
        QCOMPARE(ResultText("MSGSENT"), QByteArray("Das E-Mail wurde erfolgreich gesendet."));
        QCOMPARE(ResultText("ERRMessage3"),
                 QByteArray("Zeit\xFC" "berschreitungsfehler oder Fehlermeldung vom Mailserver."));
        QCOMPARE(ResultText("ERRMessage7"), QByteArray("Fehlgeschlagen."));
        QCOMPARE(ResultText("errmessage3"), QByteArray());
        QCOMPARE(ResultText(""), QByteArray());
        QCOMPARE(ResultText("ERRMessage8"), QByteArray("Sichere Verbindung zum Mailserver fehlgeschlagen."));
        QCOMPARE(ResultText("ERRMessage9"), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestAnsi)
#include "tst_ansi.moc"
