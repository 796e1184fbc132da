#include "engine/Pacing.h"
#include "store/PaceFile.h"
#include "support/EngineBench.h"

#include <QTest>

using namespace kadmel;
using namespace kadmel::test;

namespace {

constexpr qint64 T0 = 1796000000000; // December 2026
constexpr qint64 Second = 1000, Hour = 3600 * Second;

} // namespace

class TestSendPace : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Both windows slide with the clock given, the minute's spread evenly without drifting behind; a clock set back
    // holds them a day at most; the times kept stay within the larger limit; a long run's end follows the minute's.
    void windowsSlide()
    {
        SendPace pace({3, 5});
        for (const qint64 t : {T0, T0 + 10 * Second, T0 + 20 * Second})
            pace.count(t);
        QCOMPARE(pace.waitMs(T0 + 30 * Second), 30 * Second); // the first leaves the minute at T0 + 60 s
        QCOMPARE(pace.waitMs(T0 + 60 * Second), 0);
        pace.count(T0 + 60 * Second);
        QCOMPARE(pace.waitMs(T0 + 61 * Second), 9 * Second);
        pace.count(T0 + 70 * Second);
        QCOMPARE(pace.waitMs(T0 + 2 * Hour), 22 * Hour); // five a day: the first frees the day at T0 + 24 h
        QCOMPARE(pace.times().size(), 5);

        SendPace back({std::nullopt, 2});
        back.restore({T0 + 7 * 24 * Hour, T0 + 7 * 24 * Hour}, T0); // counted a week ahead of the clock
        QCOMPARE(back.waitMs(T0), 24 * Hour);

        SendPace minute({30, std::nullopt});
        QCOMPARE(minute.slot(T0, 120) - T0, 119 * 2 * Second); // 120 mails at 30 a minute, one every 2 s
        minute.count(T0);
        minute.count(T0 + 2500); // half a second late: the next stays due at T0 + 4 s
        QCOMPARE(minute.waitMs(T0 + 2500), 1500);
        SendPace none({0, std::nullopt});
        none.count(T0);
        QVERIFY(none.times().isEmpty() && none.limits().isSet() && none.waitMs(T0) == 0);
    }

    // The window is kept across a restart for the account it was counted for; another account's or a damaged
    // file counts nothing, the damaged one kept as ".bad" and said.
    void windowAcrossARestart()
    {
        EngineBench bench(25); // nothing is sent
        QVERIFY(saveIni(bench.program, {.pace = PaceLimits{std::nullopt, 2}}));
        {
            Pacing pacing(bench.store);
            QVERIFY(pacing.count().isEmpty() && pacing.count().isEmpty());
            QVERIFY(pacing.waitMs() > 23 * Hour);
        }
        QVERIFY(Pacing(bench.store).waitMs() > 23 * Hour);
        bench.store.settings().SmtpUser = "other";
        QCOMPARE(Pacing(bench.store).waitMs(), 0);

        const QString path = paceFilePathIn(bench.program);
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append) && file.write("12x\n") == 4);
        file.close();
        bench.store.settings().SmtpUser = "user";
        Pacing damaged(bench.store);
        QVERIFY(damaged.takeLoadProblem().contains(QStringLiteral("kadmel.pace")));
        QCOMPARE(damaged.waitMs(), 0);
        QVERIFY(QFile::exists(path + QStringLiteral(".bad")));
    }
};

QTEST_GUILESS_MAIN(TestSendPace)
#include "tst_sendpace.moc"
