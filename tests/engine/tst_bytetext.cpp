#include "engine/ByteText.h"

#include <QLocale>
#include <QTest>

#include <numeric>

using namespace kadmel;

class TestByteText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oemBytesBecomeWindows1252()
    {
        // CP850 ü ä ö Ü ß é, then ASCII, then box drawing that Windows-1252 lacks.
        QCOMPARE(OemToAnsi("\x81\x84\x94\x9A\xE1\x82 @@ 1\r\n\xB0\xC4"),
                 QByteArray("\xFC\xE4\xF6\xDC\xDF\xE9 @@ 1\r\n??"));
        QByteArray all(256, 0);
        std::iota(all.begin(), all.end(), char(0));
        QCOMPARE(OemToAnsi(all).size(), 256); // one byte for one byte
        // Code page 858: the euro of German DOS programs at D5, and back for the receipts.
        QCOMPARE(OemToAnsi("100 \xD5 netto"), QByteArray("100 \x80 netto"));
        QCOMPARE(AnsiToOem("\x80\xFC"), QByteArray("\xD5\x81"));
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("1023 stays bytes") << qint64(1023) << QByteArray("1023 Bytes");
        QTest::newRow("1024 is 1,00 KB") << qint64(1024) << QByteArray("1,00 KB");
        QTest::newRow("1,23 KB cut, not rounded") << qint64(1267) << QByteArray("1,23 KB");
        QTest::newRow("two digits give one decimal") << qint64(12700) << QByteArray("12,4 KB");
        QTest::newRow("three digits give none") << qint64(126000) << QByteArray("123 KB");
        QTest::newRow("just below a MB stays KB") << qint64(1048575) << QByteArray("1023 KB");
        QTest::newRow("1 MB") << qint64(1048576) << QByteArray("1,00 MB");
        QTest::newRow("1 GB") << qint64(1) * 1024 * 1024 * 1024 << QByteArray("1,00 GB");
    }
    void sizeText()
    {
        QFETCH(qint64, bytes);
        QFETCH(QByteArray, text);
        QCOMPARE(FormatByteSize(bytes), text);
    }

    void dateTextIsDayFirstWithSeconds()
    {
        // German under an English or C locale too (the status bar's clock uses the two halves).
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(dateText(QDateTime(QDate(2026, 12, 6), QTime(22, 47, 51))), QByteArray("06.12.2026 22:47:51"));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(dayText(QDate(2027, 1, 1)) + '|' + clockText(QTime(0, 0, 0)), QByteArray("01.01.2027|00:00:00"));
    }
};

QTEST_GUILESS_MAIN(TestByteText)
#include "tst_bytetext.moc"
