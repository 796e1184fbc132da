#include "smtp/Base64.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kadmel;

namespace {

// Qt's encoder cut into lines of 74 with CR LF after every full line.
QByteArray wrapped(const QByteArray& input)
{
    const QByteArray flat = input.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < flat.size(); i += 74) {
        const QByteArray line = flat.mid(i, 74);
        out += line;
        if (line.size() == 74)
            out += "\r\n";
    }
    return out;
}

QByteArray randomBytes(qsizetype n, QRandomGenerator& random)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

} // namespace

class TestBase64 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void matchesReferenceForEveryLengthUpTo400()
    {
        QRandomGenerator random(4711);
        for (qsizetype n = 0; n <= 400; ++n) {
            const QByteArray input = randomBytes(n, random);
            QCOMPARE(Encode(input), wrapped(input));
        }
        for (qsizetype n : {65536 + 1, 1024 * 1024, 1024 * 1024 + 2}) {
            const QByteArray input = randomBytes(n, random);
            QVERIFY(Encode(input) == wrapped(input));
        }
    }

    void lineBreaks_data()
    {
        QTest::addColumn<int>("inputLength");
        QTest::addColumn<QList<int>>("lineLengths"); // lengths without CR LF
        QTest::addColumn<bool>("endsWithCrLf");
        QTest::newRow("54 bytes: one short line") << 54 << QList<int>{72} << false;
        QTest::newRow("55 bytes: 74 then 2") << 55 << QList<int>{74, 2} << false;
        QTest::newRow("111 bytes: two full lines, CR LF last") << 111 << QList<int>{74, 74} << true;
        QTest::newRow("222 bytes: four full lines") << 222 << QList<int>{74, 74, 74, 74} << true;
    }
    void lineBreaks()
    {
        QFETCH(int, inputLength);
        QFETCH(QList<int>, lineLengths);
        QFETCH(bool, endsWithCrLf);
        const QByteArray out = Encode(QByteArray(inputLength, 'x'));
        QCOMPARE(out.endsWith("\r\n"), endsWithCrLf);
        QList<QByteArray> lines = out.split('\n');
        if (endsWithCrLf)
            QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.size(), lineLengths.size());
        for (int i = 0; i < lines.size(); ++i) {
            const bool hasCr = lines[i].endsWith('\r');
            QCOMPARE(hasCr, i + 1 < lines.size() || endsWithCrLf);
            QCOMPARE(int(lines[i].size()) - (hasCr ? 1 : 0), lineLengths[i]);
        }
    }

    void encodesSingleAnsiBytes()
    {
        QCOMPARE(Encode("\xE4"), QByteArray("5A==")); // "ä" as byte 228
        QCOMPARE(Encode("user"), QByteArray("dXNlcg=="));
        QCOMPARE(Encode("ab"), QByteArray("YWI="));
        QCOMPARE(Encode("abc"), QByteArray("YWJj"));
    }
};

QTEST_GUILESS_MAIN(TestBase64)
#include "tst_base64.moc"
