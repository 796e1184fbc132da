#include "engine/ByteText.h"
#include "engine/JobDirectory.h"
#include "engine/JobParser.h"
#include "engine/JobScanner.h"
#include "store/StoreFiles.h"

#include <QLocale>

#include <cerrno>
#include <numeric>

using namespace kadmel;
using namespace kadmel::test;
using Outcome = ParsedJob::Outcome;

// A job's texts (CP850, its size and date as the mail shows them), its parse, and the folder it is read from.
class TestJobParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oemBytesBecomeWindows1252()
    {
        // 858 (as 850) ü ä ö Ü ß é, then ASCII, then box drawing that Windows-1252 lacks.
        QCOMPARE(OemToAnsi("\x81\x84\x94\x9A\xE1\x82 @@ 1\r\n\xB0\xC4"),
                 QByteArray("\xFC\xE4\xF6\xDC\xDF\xE9 @@ 1\r\n??"));
        QByteArray all(256, 0);
        std::iota(all.begin(), all.end(), char(0));
        QCOMPARE(OemToAnsi(all).size(), 256); // one byte for one byte
        // Code page 858: the euro of German DOS programs at D5, and back for the receipts.
        QCOMPARE(OemToAnsi("100 \xD5 netto"), QByteArray("100 \x80 netto"));
        QCOMPARE(AnsiToOem("\x80\xFC"), QByteArray("\xD5\x81"));
    }

    // Sizes in bytes up to 1023, then three digits cut (not rounded), a decimal comma; the unit changes at 1024.
    void sizeAndDateTexts()
    {
        const std::pair<qint64, QByteArray> rows[] = {
            {1023, "1023 Bytes"}, {1024, "1,00 KB"},    {1267, "1,23 KB"},    {12700, "12,4 KB"},
            {126000, "123 KB"},   {1048575, "1023 KB"}, {1048576, "1,00 MB"}, {qint64(1) << 30, "1,00 GB"}};
        for (const auto& [bytes, text] : rows)
            QCOMPARE(FormatByteSize(bytes), text);
        // Dates day first with seconds, German under an English or C locale too (the status bar's clock uses the
        // two halves).
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(dateText(QDateTime(QDate(2026, 12, 6), QTime(22, 47, 51))), QByteArray("06.12.2026 22:47:51"));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(dayText(QDate(2027, 1, 1)) + '|' + clockText(QTime(0, 0, 0)), QByteArray("01.01.2027|00:00:00"));
    }

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
        // Copies, blind copies and a reply address count before the subject's marker only, trimmed (a second
        // copy adds to the first), and leave the four fields as older versions read them.
        ok("optional markers", "@@FR a@@CC c \r\n@@TO b@@BC d@@CC e@@RT r@@SB s@@1234x@@CC y", "a|b|s|x@@CC y|c,e|d|r");
        ok("optional markers after the subject's", "@@FR a@@TO b@@SB s@@CC c@@1234@@BC d", "a|b|s|@@1234@@BC d");
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
                          .join('|') +
                      ((job.fields.copyTo + job.fields.blindCopyTo + job.fields.replyTo).isEmpty()
                           ? QByteArray()
                           : '|' + QByteArrayList{job.fields.copyTo, job.fields.blindCopyTo, job.fields.replyTo}.join(
                                       '|')),
                  "fields");
    }

    void scanListsJobFilesInNameOrder()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()) + '/';
        const QDateTime now = QDateTime::currentDateTime().addSecs(10);
        for (const char* name : {"b.zub", "a.ZUB", "c.zub.txt", "d.txt", ".e.zub", "f.Zub"})
            writeBytes(QFile::decodeName(folder + name), {});
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("g.zub")));

        JobScanner scanner(2000);
        QByteArrayList names;
        for (const JobEntry& job : scanner.readyJobs(JobDirectory(folder).list(), now))
            names << job.name;
        QCOMPARE(names, (QByteArrayList{"a.ZUB", "b.zub", "f.Zub"}));

        // Files changed within the last two seconds are left alone, to the millisecond of the clock given.
        const QList<JobEntry> written{{"a.zub", 1, 1'800'000'000'000'000'001}};
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000);
        QVERIFY(scanner.readyJobs(written, at.addMSecs(2000)).isEmpty() &&
                scanner.readyJobs(written, at.addMSecs(2001)).size() == 1);
        QVERIFY(JobDirectory(folder + "missing/").list().isEmpty());
    }

    // One scan keeps to the folder it listed: after a swap for a link the job is deleted where it was read,
    // not in the link's target; a job written anew under a name after its read stays.
    void scanKeepsToTheFolderItListed()
    {
        QTemporaryDir dir;
        const QByteArray jobs = QFile::encodeName(dir.filePath(QStringLiteral("KDMEML")));
        const QByteArray moved = jobs + ".alt", other = QFile::encodeName(dir.filePath(QStringLiteral("other")));
        QVERIFY(QDir().mkpath(QFile::decodeName(jobs)) && QDir().mkpath(QFile::decodeName(other)));
        for (const QByteArray& path : {jobs + "/a.zub", jobs + "/b.zub", jobs + "/b.new", other + "/a.zub"})
            writeBytes(QFile::decodeName(path), "@@");
        JobDirectory folder(jobs + '/');
        QByteArray text;
        QCOMPARE(folder.list().size(), 2);
        QVERIFY(folder.read("a.zub", 100, text) == JobRead::Read && text == "@@");
        QCOMPARE(::rename(jobs.constData(), moved.constData()), 0);
        QCOMPARE(::symlink(other.constData(), jobs.constData()), 0);
        QVERIFY(folder.remove("a.zub"));
        QVERIFY(!QFile::exists(QFile::decodeName(moved + "/a.zub")) &&
                QFile::exists(QFile::decodeName(other + "/a.zub")));

        QVERIFY(folder.read("b.zub", 100, text) == JobRead::Read);
        QCOMPARE(::rename((moved + "/b.new").constData(), (moved + "/b.zub").constData()), 0);
        QVERIFY(!folder.remove("b.zub") && QFile::exists(QFile::decodeName(moved + "/b.zub")));

        // A folder its user may not enter (below root's 0700 temporary folder) is unreadable, not missing.
        if (::geteuid() == 0)
            QCOMPARE(asNobody([&] {
                         JobDirectory closed(moved);
                         return closed.state() == JobDirectory::State::Unreadable && closed.error() == EACCES ? 0 : 1;
                     }),
                     0);
    }
};

QTEST_GUILESS_MAIN(TestJobParser)
#include "tst_jobparser.moc"
