#include "engine/JobParser.h"
#include "engine/JobScanner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;
using Outcome = ParsedJob::Outcome;

class TestJobParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fields_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("sender");
        QTest::addColumn<QByteArray>("recipient");
        QTest::addColumn<QByteArray>("subject");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("four skipped characters") << QByteArray("@@FR alice@@TO bob@@SB Hello@@1234Body text")
                                                 << QByteArray("alice") << QByteArray("bob") << QByteArray("Hello")
                                                 << QByteArray("Body text");
        QTest::newRow("only one separator skipped, nothing trimmed")
            << QByteArray("@@FR\r\nalice\r\n@@TO bob@@SB s@@\r\n\r\nb") << QByteArray("\nalice\r\n")
            << QByteArray("bob") << QByteArray("s") << QByteArray("b");
        QTest::newRow("markers in another order") << QByteArray("@@TO bob@@FR alice@@SB s@@1234b")
                                                  << QByteArray("alice") << QByteArray("bob") << QByteArray("s")
                                                  << QByteArray("b");
        QTest::newRow("subject first: the rest is body")
            << QByteArray("@@SB s@@1234@@FR a@@TO b@@") << QByteArray("a") << QByteArray("b") << QByteArray("s")
            << QByteArray("@@FR a@@TO b@@");
        QTest::newRow("exactly four after the subject: empty body")
            << QByteArray("@@FR a@@TO b@@SB s@@1234") << QByteArray("a") << QByteArray("b") << QByteArray("s")
            << QByteArray();
        QTest::newRow("@@ inside the body has no meaning")
            << QByteArray("@@FR a@@TO b@@SB s@@1234x@@y@@SB z") << QByteArray("a") << QByteArray("b")
            << QByteArray("s") << QByteArray("x@@y@@SB z");
        QTest::newRow("empty values") << QByteArray("@@FR @@TO @@SB @@1234") << QByteArray() << QByteArray()
                                      << QByteArray() << QByteArray();
    }
    void fields()
    {
        QFETCH(QByteArray, text);
        const ParsedJob job = parseJobText(text);
        QCOMPARE(job.outcome, Outcome::Ok);
        QTEST(job.fields.sender, "sender");
        QTEST(job.fields.recipient, "recipient");
        QTEST(job.fields.subject, "subject");
        QTEST(job.fields.body, "body");
    }

    void badJobs_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("empty file") << QByteArray() << Outcome::MissingMarker;
        QTest::newRow("lower-case marker") << QByteArray("@@fr a@@TO b@@SB s@@1234b") << Outcome::MissingMarker;
        QTest::newRow("no subject marker") << QByteArray("@@FR a@@TO b@@1234b") << Outcome::MissingMarker;
        QTest::newRow("unterminated subject") << QByteArray("@@FR a@@TO b@@SB subject") << Outcome::Malformed;
        QTest::newRow("too short tail") << QByteArray("@@FR a@@TO b@@SB s@@\r\n") << Outcome::Malformed;
        QTest::newRow("separator is the closing @@") << QByteArray("@@FR@@TO b@@SB s@@1234") << Outcome::Malformed;
        QTest::newRow("marker at the very end") << QByteArray("@@TO b@@SB s@@1234@@FR") << Outcome::Malformed;
    }
    void badJobs()
    {
        QFETCH(QByteArray, text);
        QTEST(parseJobText(text).outcome, "outcome");
    }

    void scanListsJobFilesInNameOrder()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()) + '/';
        const QDateTime now = QDateTime::currentDateTime().addSecs(10);
        for (const char* name : {"b.zub", "a.ZUB", "c.zub.txt", "d.txt", ".e.zub", "f.Zub"}) {
            QFile file(QFile::decodeName(folder + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("g.zub")));

        JobScanner scanner(2000);
        QByteArrayList names;
        for (const JobEntry& job : scanner.readyJobs(folder, now))
            names << job.name;
        QCOMPARE(names, (QByteArrayList{"a.ZUB", "b.zub", "f.Zub"}));

        // Files changed within the last two seconds are left alone.
        QVERIFY(JobScanner(2000).readyJobs(folder, QDateTime::currentDateTime()).isEmpty());
        QVERIFY(JobScanner(2000).readyJobs(folder + "missing/", now).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJobParser)
#include "tst_jobparser.moc"
