#include "engine/HtmlBody.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace kadmel;

namespace {

// The META names the charset of the message's Content-Type: Windows-1252 only where a byte needs it.
QByteArray head(const QByteArray& body)
{
    const bool ascii = std::all_of(body.begin(), body.end(), [](char c) { return c >= 0; });
    return "<HTML>\r\n<HEAD>\r\n<META http-equiv=Content-Type content=\"text/html; charset=" +
           QByteArray(ascii ? "us-ascii" : "windows-1252") +
           "\">\r\n</HEAD>\r\n<BODY>\r\n<FONT size=1>\r\n<FONT face=\"Lucida Console\">\r\n";
}
const QByteArray Tail = "\r\n</FONT>\r\n</FONT>\r\n</BODY>\r\n</HTML>";

} // namespace

class TestHtmlBody : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The body as the page's eighth line: runs of spaces after a break too, a small tag, CR LF alone; markup stays.
    void convertsBody()
    {
        const std::pair<QByteArray, QByteArray> rows[] = {{"a  b", "a&nbsp; b"},
                                                          {"x\r\n  y", "x<BR>&nbsp; y"},
                                                          {"x\r\n y", "x<BR>&nbsp;y"},
                                                          {" y", " y"},
                                                          {"a\nb\r<b>&amp;", "a\nb\r<b>&amp;"},
                                                          {"e   ", "e&nbsp;&nbsp; "},
                                                          {"<br> z", "<BR>&nbsp;z"},
                                                          {"a\r\r\n b", "a\r<BR>&nbsp;b"},
                                                          {"<Br>  a\r\n", "<Br>&nbsp; a<BR>"},
                                                          {"100 \x80", "100 \x80"}};
        for (const auto& [body, line8] : rows)
            QVERIFY2(ComposeHtmlBody(body) == head(body) + line8 + Tail &&
                         ComposedHtmlSize(body) == (head(body) + line8 + Tail).size(),
                     body.constData());
    }

    // The size is counted without building the page, keeping only its last four bytes: on random texts it
    // agrees with the page, break tags across runs and breaks included.
    void sizeAgreesWithThePageOnRandomTexts()
    {
        const QList<QByteArray> pieces = {" ", " ", " ", "\r", "\n", "\r\n", "<br> ", "<Br>", "a", "\xE4"};
        QRandomGenerator random(1234);
        for (int round = 0; round < 3000; ++round) {
            QByteArray body;
            for (int k = int(random.bounded(40)); k > 0; --k)
                body += pieces[random.bounded(int(pieces.size()))];
            QVERIFY2(ComposedHtmlSize(body) == ComposeHtmlBody(body).size(), body.toPercentEncoding().constData());
        }
    }

    void progressRunsFromShownToFull()
    {
        QList<QList<qint32>> calls;
        const QByteArray body = QByteArray("word   ").repeated(20000);
        ComposeHtmlBody(body, [&](qint32 v, qint32 m, qint16 o) { calls.append({v, m, o}); });
        QVERIFY(calls.size() > 3);
        QCOMPARE(calls.first(), (QList<qint32>{0, 0, 1}));
        QCOMPARE(calls.last(), (QList<qint32>{1, 1, 0}));
        for (qsizetype i = 2; i + 1 < calls.size(); ++i) {
            QVERIFY(calls[i][0] > calls[i - 1][0] && calls[i][0] <= body.size());
            QCOMPARE(calls[i].mid(1), (QList<qint32>{qint32(body.size()), 0}));
        }
    }
};

QTEST_GUILESS_MAIN(TestHtmlBody)
#include "tst_htmlbody.moc"
