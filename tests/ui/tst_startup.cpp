#include "UiTestSupport.h"

#include "store/Store.h"
#include "ui/Form4.h"
#include "ui/Program.h"
#include "ui/StatusPanel.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;

class TestStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splashAnimatesThenEnds();
    void programShowsMainWindowAfterPause();
};

void TestStartup::splashAnimatesThenEnds()
{
    Form4 splash(SplashTimings{150, 1400});
    QCOMPARE(splash.windowTitle(), QStringLiteral("Loading..."));
    QCOMPARE(splash.labelText(), QStringLiteral("Loading..."));
    QSignalSpy over(&splash, &Form4::pauseOver);
    splash.show();
    splash.start();
    for (const char* text : {"Loading", "Loading.", "Loading..", "Loading...", "Loading"})
        QTRY_COMPARE_WITH_TIMEOUT(splash.labelText(), QString::fromLatin1(text), 1000);
    QVERIFY(over.wait(2000));
    QCOMPARE(over.count(), 1);
}

void TestStartup::programShowsMainWindowAfterPause()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    ProgramTimings timings;
    timings.splash = SplashTimings{50, 300};
    Program program(dir.path(), prompts, timings, [](QWidget*) { return QString(); });
    QSignalSpy loaded(&program, &Program::mainWindowLoaded);
    program.start();

    // The store is loaded (and at the first start written) before the splash shows.
    QVERIFY(QFile::exists(program.store().settingsFilePath()));
    QVERIFY(QFile::exists(program.store().indexFilePath()));
    QVERIFY(program.splash()->isVisible());
    QVERIFY(!program.mainWindow());

    QVERIFY(loaded.wait(3000));
    QVERIFY(program.mainWindow()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!program.splash(), 2000);
    QCOMPARE(program.mainWindow()->panel(1)->text(), QStringLiteral("Inaktif"));

    // A termination signal on an idle program ends it at once, with the store saved.
    QSignalSpy finished(&program, &Program::finished);
    program.store().settings().SmtpServer = "saved on the way out";
    program.requestTermination();
    QVERIFY(finished.wait(2000));
    Store reread(dir.path());
    reread.loadAtStartup();
    QCOMPARE(reread.settings().SmtpServer, QByteArray("saved on the way out"));
    QVERIFY(prompts.asked.isEmpty());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
