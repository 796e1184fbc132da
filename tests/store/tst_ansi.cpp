#include "smtp/ResultText.h"
#include "store/Ansi.h"

#include <QTest>

using namespace kadmel;

class TestAnsi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void textsAcrossTheWindow()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(toAnsi(fromAnsi(all)), all);
        QCOMPARE(fromAnsi("\x80\xE4\xFC"), QStringLiteral("€äü"));
        QCOMPARE(toAnsi(QStringLiteral("a€Ω😀b")), QByteArray("a\x80??b")); // what the code page lacks
        // Result texts go to the window in this code page; the codes are case-sensitive.
        QCOMPARE(ResultText("ERRMessage3"), QByteArray("Zeit\xFC"
                                                       "berschreitungsfehler oder Fehlermeldung vom Mailserver."));
        QCOMPARE(ResultText("errmessage3"), QByteArray());
        QCOMPARE(ResultText("ERRMessage9"), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestAnsi)
#include "tst_ansi.moc"
