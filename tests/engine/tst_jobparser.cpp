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
    // `fields` is sender|recipient|subject|body of a job that parses.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("fields");
        const auto ok = [](const char* name, const char* text, const char* fields) {
            QTest::newRow(name) << QByteArray(text) << Outcome::Ok << QByteArray(fields);
        };
        ok("four skipped characters", "@@FR alice@@TO bob@@SB Hello@@1234Body text", "alice|bob|Hello|Body text");
        ok("one separator skipped, nothing trimmed", "@@FR\r\nalice\r\n@@TO bob@@SB s@@\r\n\r\nb",
           "\nalice\r\n|bob|s|b");
        ok("markers in another order", "@@TO bob@@FR alice@@SB s@@1234b", "alice|bob|s|b");
        ok("subject first: the rest is body", "@@SB s@@1234@@FR a@@TO b@@", "a|b|s|@@FR a@@TO b@@");
        ok("exactly four after the subject", "@@FR a@@TO b@@SB s@@1234", "a|b|s|");
        ok("@@ inside the body has no meaning", "@@FR a@@TO b@@SB s@@1234x@@y@@SB z", "a|b|s|x@@y@@SB z");
        ok("empty values", "@@FR @@TO @@SB @@1234", "|||");
        const auto bad = [](const char* name, const char* text, Outcome outcome) {
            QTest::newRow(name) << QByteArray(text) << outcome << QByteArray();
        };
        bad("empty file", "", Outcome::MissingMarker);
        bad("lower-case marker", "@@fr a@@TO b@@SB s@@1234b", Outcome::MissingMarker);
        bad("no subject marker", "@@FR a@@TO b@@1234b", Outcome::MissingMarker);
        bad("unterminated subject", "@@FR a@@TO b@@SB subject", Outcome::Malformed);
        bad("too short tail", "@@FR a@@TO b@@SB s@@\r\n", Outcome::Malformed);
        bad("separator is the closing @@", "@@FR@@TO b@@SB s@@1234", Outcome::Malformed);
        bad("marker at the very end", "@@TO b@@SB s@@1234@@FR", Outcome::Malformed);
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        const ParsedJob job = parseJobText(text);
        QTEST(job.outcome, "outcome");
        if (job.outcome == Outcome::Ok)
            QTEST(QByteArrayList({job.fields.sender, job.fields.recipient, job.fields.subject, job.fields.body})
                      .join('|'),
                  "fields");
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
