#include "engine/HtmlBody.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kadmel;

namespace {

const QByteArray Head =
    "<HTML>\r\n<HEAD>\r\n<META http-equiv=Content-Type content=\"text/html; charset=iso-8859-1\">\r\n"
    "</HEAD>\r\n<BODY>\r\n<FONT size=1>\r\n<FONT face=\"Lucida Console\">\r\n";
const QByteArray Tail = "\r\n</FONT>\r\n</FONT>\r\n</BODY>\r\n</HTML>";

// The pass-by-pass procedure, written out directly: one run of spaces per pass, then two replace-alls.
QByteArray referenceBody(QByteArray text)
{
    for (qsizetype at = text.indexOf("  "); at >= 0; at = text.indexOf("  ")) {
        qsizetype run = 0;
        while (at + run < text.size() && text[at + run] == ' ')
            ++run;
        QByteArray replacement;
        for (qsizetype k = 1; k < run; ++k)
            replacement += "&nbsp;";
        replacement += ' ';
        text.replace(text.indexOf(QByteArray(run, ' ')), run, replacement);
    }
    text.replace("\r\n", "<BR>");
    QByteArray out;
    for (qsizetype i = 0; i < text.size();) {
        if (text.mid(i, 5).toUpper() == "<BR> ") {
            out += "<BR>&nbsp;";
            i += 5;
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace

class TestHtmlBody : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void convertsBody_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("line8");
        QTest::newRow("two spaces") << QByteArray("a  b") << QByteArray("a&nbsp; b");
        QTest::newRow("run after break") << QByteArray("x\r\n  y") << QByteArray("x<BR>&nbsp; y");
        QTest::newRow("one space after break") << QByteArray("x\r\n y") << QByteArray("x<BR>&nbsp;y");
        QTest::newRow("leading single space stays") << QByteArray(" y") << QByteArray(" y");
        QTest::newRow("lone LF and CR stay") << QByteArray("a\nb\rc") << QByteArray("a\nb\rc");
        QTest::newRow("markup copied") << QByteArray("<b>&amp;\"</b>") << QByteArray("<b>&amp;\"</b>");
        QTest::newRow("three trailing spaces") << QByteArray("e   ") << QByteArray("e&nbsp;&nbsp; ");
        QTest::newRow("lower-case tag then space") << QByteArray("<br> z") << QByteArray("<BR>&nbsp;z");
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\n b") << QByteArray("a\r<BR>&nbsp;b");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void convertsBody()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, line8);
        QCOMPARE(ComposeHtmlBody(body), Head + line8 + Tail);
        QCOMPARE(line8, referenceBody(body));
    }

    void wholePageForHi()
    {
        QCOMPARE(ComposeHtmlBody("Hi"),
                 QByteArray("<HTML>\r\n<HEAD>\r\n"
                            "<META http-equiv=Content-Type content=\"text/html; charset=iso-8859-1\">\r\n"
                            "</HEAD>\r\n<BODY>\r\n<FONT size=1>\r\n<FONT face=\"Lucida Console\">\r\nHi\r\n"
                            "</FONT>\r\n</FONT>\r\n</BODY>\r\n</HTML>"));
    }

    void matchesReferenceOnRandomTexts()
    {
        static const QList<QByteArray> pieces = {" ", " ", " ", "\r", "\n", "\r\n", "<br> ", "<BR>", "a", "Z", "\xE4"};
        QRandomGenerator random(1234);
        for (int round = 0; round < 2000; ++round) {
            QByteArray body;
            const int count = int(random.bounded(40));
            for (int k = 0; k < count; ++k)
                body += pieces[random.bounded(int(pieces.size()))];
            const QByteArray page = ComposeHtmlBody(body);
            QVERIFY2(page == Head + referenceBody(body) + Tail, body.toPercentEncoding().constData());
        }
    }

    void reportsProgressFromShowToFull()
    {
        struct Call
        {
            qint32 value, maximum;
            qint16 option;
        };
        QList<Call> calls;
        const QByteArray body = QByteArray("word   ").repeated(20000);
        ComposeHtmlBody(body, [&](qint32 v, qint32 m, qint16 o) { calls.append({v, m, o}); });
        QVERIFY(calls.size() > 3);
        QCOMPARE(calls.first().option, qint16(1));
        QCOMPARE(calls.first().maximum, 0);
        QCOMPARE(calls.last().value, 1);
        QCOMPARE(calls.last().maximum, 1);
        qint32 previous = 0;
        for (qsizetype i = 1; i + 1 < calls.size(); ++i) {
            QCOMPARE(calls[i].maximum, qint32(body.size()));
            QCOMPARE(calls[i].option, qint16(0));
            QVERIFY(calls[i].value >= previous && calls[i].value <= calls[i].maximum);
            previous = calls[i].value;
        }
    }
};

QTEST_GUILESS_MAIN(TestHtmlBody)
#include "tst_htmlbody.moc"
