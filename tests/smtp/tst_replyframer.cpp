#include "smtp/ReplyFramer.h"

#include <QTest>

using namespace kadmel;

using Replies = QList<QPair<QByteArray, int>>;

class TestReplyFramer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void frames_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<Replies>("replies");
        QTest::newRow("code alone") << QByteArray("250\r\n") << Replies{{"250\r\n", 250}};
        QTest::newRow("multi-line, bare LF ends lines")
            << QByteArray("250-a\n250-b\r\n250 c\n") << Replies{{"250-a\n250-b\r\n250 c\n", 250}};
        QTest::newRow("two replies in one piece")
            << QByteArray("250 a\r\n354 go\r\n") << Replies{{"250 a\r\n", 250}, {"354 go\r\n", 354}};
        QTest::newRow("no reply line") << QByteArray("hello\r\n") << Replies{{"hello\r\n", 0}};
        QTest::newRow("code glued to text") << QByteArray("250x\r\n") << Replies{{"250x\r\n", 0}};
        // A reply is read by the code at its start, whatever its later lines say.
        QTest::newRow("stray line ends a multi-line reply")
            << QByteArray("250-a\r\noops\r\n220 b\r\n") << Replies{{"250-a\r\noops\r\n", 250}, {"220 b\r\n", 220}};
        QTest::newRow("codes that disagree") << QByteArray("550-a\r\n250 b\r\n354-c\r\n250 d\r\n")
                                             << Replies{{"550-a\r\n250 b\r\n", 550}, {"354-c\r\n250 d\r\n", 354}};
        QTest::newRow("unfinished line waits") << QByteArray("250 a\r\n250-b\r\n25") << Replies{{"250 a\r\n", 250}};
    }
    void frames()
    {
        QFETCH(QByteArray, stream);
        QFETCH(Replies, replies);
        // The same replies whether the bytes come at once or one by one.
        for (const qsizetype piece : {stream.size(), qsizetype(1), qsizetype(3)}) {
            ReplyFramer framer;
            Replies got;
            for (qsizetype i = 0; i < stream.size(); i += piece)
                for (const SmtpReply& r : framer.feed(stream.mid(i, piece)))
                    got.append({r.text, r.code});
            QCOMPARE(got, replies);
            QVERIFY(!framer.overflowed());
        }
    }

    void boundsWhatItHolds()
    {
        {
            ReplyFramer framer;
            const QByteArray line = "250-" + QByteArray(1000, 'x') + "\r\n";
            QVERIFY(framer.feed(line.repeated(65)).isEmpty());
            QVERIFY(!framer.overflowed());
            QVERIFY(framer.feed(line).isEmpty()); // just past 64 KiB
            QVERIFY(framer.overflowed());
            QVERIFY(framer.feed("250 end\r\n").isEmpty());
        }
        {
            ReplyFramer framer;
            QVERIFY(framer.feed(QByteArray(70000, 'x')).isEmpty()); // no line end at all
            QVERIFY(framer.overflowed());
        }
        {
            ReplyFramer framer;
            const QByteArray reply = "250 " + QByteArray(1018, 'y') + "\r\n"; // 1 KiB, complete
            for (int i = 0; i < 1024; ++i)
                QCOMPARE(framer.feed(reply).size(), 1);
            QVERIFY(!framer.overflowed());
            QVERIFY(framer.feed("2").isEmpty());
            QVERIFY(framer.overflowed());
        }
    }
};

QTEST_GUILESS_MAIN(TestReplyFramer)
#include "tst_replyframer.moc"
