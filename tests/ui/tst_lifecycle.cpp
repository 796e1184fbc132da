#include "UiTestSupport.h"

#include "ui/Form4.h"
#include "ui/Program.h"
#include "ui/SignalBridge.h"
#include "ui/SingleInstance.h"

#include <QElapsedTimer>
#include <QTimer>
#include <csignal>

using namespace kadmel;
using namespace kadmel::test;

class TestLifecycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splashThenMainWindow();
    void closeWhileMailInHandIsRefusedSignalIsNot();
};

void TestLifecycle::splashThenMainWindow()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    ProgramTimings timings;
    timings.splash = SplashTimings{150, 1400};
    {
        // A settings file that can be neither read nor kept ends the start with the reason; nothing is written.
        QTemporaryDir refusedDir;
        QVERIFY(QDir().mkpath(refusedDir.filePath(QStringLiteral("ZUBData1(3.0).zub"))));
        Program refused(refusedDir.path(), prompts, timings, [](QWidget*) { return QString(); });
        QSignalSpy finished(&refused, &Program::finished);
        refused.start();
        refused.requestTermination();
        QVERIFY(finished.wait(2000) && !refused.splash() && !refused.mainWindow());
        QCOMPARE(refused.exitCode(), 1);
        QVERIFY(prompts.asked.size() == 1 && prompts.asked.first().icon == PromptIcon::Critical);
        QVERIFY(prompts.asked.first().text.startsWith(
            QStringLiteral("ZUB kann nicht gestartet werden.\n„ZUBData1(3.0).zub“ ist keine gewöhnliche Datei")));
        QCOMPARE(QDir(refusedDir.path()).entryList(QDir::Files), QStringList());
        prompts.asked.clear();
    }
    Program program(dir.path(), prompts, timings, [](QWidget*) { return QString(); });
    QSignalSpy loaded(&program, &Program::mainWindowLoaded);
    program.start();

    // The store is loaded (and at the first start written) before the splash shows; then one more dot per step.
    QVERIFY(QFile::exists(program.store().settingsFilePath()) && program.splash()->isVisible() &&
            !program.mainWindow());
    QStringList steps;
    Form4* splash = program.splash();
    connect(splash->findChild<QTimer*>(QStringLiteral("animation")), &QTimer::timeout, splash,
            [&steps, splash] { steps << splash->labelText(); });
    QTRY_VERIFY_WITH_TIMEOUT(steps.size() >= 5, 2000);
    QCOMPARE(steps.mid(0, 5).join(QLatin1Char('|')), QStringLiteral("Loading|Loading.|Loading..|Loading...|Loading"));
    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!program.splash() && program.mainWindow()->isVisible(), 2000);

    // A second start on the folder brings the minimised window back and ends; where nobody listens it ends at once.
    program.mainWindow()->showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(program.mainWindow()->isMinimized(), 2000);
    for (const QString& folder : {dir.path(), dir.filePath(QStringLiteral("elsewhere"))}) {
        RaiseRequest second(folder, 5000);
        QSignalSpy ended(&second, &RaiseRequest::finished);
        QElapsedTimer clock;
        clock.start();
        second.start();
        QTRY_VERIFY_WITH_TIMEOUT(ended.count() == 1 && clock.elapsed() < 1000, 1000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!program.mainWindow()->isMinimized(), 2000);

    // A termination signal on an idle program ends it at once, saving as far as it goes; a failed save asks
    // nothing (no one may be there to click) but sets the exit code.
    QSignalSpy finished(&program, &Program::finished);
    program.store().settings().SmtpServer = "saved on the way out";
    QVERIFY(QFile::remove(program.store().indexFilePath()) && QDir().mkpath(program.store().indexFilePath()));
    program.requestTermination();
    QVERIFY(finished.wait(2000) && prompts.asked.isEmpty());
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(loadedStore(dir.path())->settings().SmtpServer, QByteArray("saved on the way out"));
}

void TestLifecycle::closeWhileMailInHandIsRefusedSignalIsNot()
{
    QTemporaryDir dir;
    SilentServer server;
    const auto store = storeWithJob(dir.path(), server.serverPort());
    PromptRecorder prompts;
    MainWindowOptions options = fastOptions();
    options.engine.smtp = SmtpTimings{}; // 10 s to connect, 120 s for the conversation
    Form1 window(*store, prompts, options);
    SignalBridge bridge;
    connect(&bridge, &SignalBridge::terminationRequested, &window, &Form1::requestTermination);
    window.load();
    QTRY_VERIFY_WITH_TIMEOUT(!window.dispatcher()->IdleFlag() && server.m_sockets.size() == 1, 5000);
    // "Beenden" (Ctrl+Q) runs the frame's confirmation; confirmed while a mail is in hand, it is refused.
    QSignalSpy unloaded(&window, &Form1::unloaded);
    prompts.answers = {PromptAnswer::Ok};
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(prompts.texts(),
             (QStringList{QStringLiteral("Sind Sie sicher ZUB zu beenden?"),
                          QStringLiteral("ZUB ist zur Zeit beschäftigt.\r\nDas Programm kann nicht beendet "
                                         "werden!")}));

    // A termination signal does not wait for a server that never answers: the mail, whose message never
    // went out, is cut off and filed failed, and the program ends well within 15 s.
    QElapsedTimer clock;
    clock.start();
    ::raise(SIGTERM);
    QVERIFY(unloaded.wait(15000));
    QVERIFY(clock.elapsed() < 2000 && !window.isVisible() && prompts.asked.size() == 2);
    const auto disk = loadedStore(store->programFolder());
    QCOMPARE(disk->tables().folder(FailedFolder).entries(), QList<qint16>{1});
    QCOMPARE(disk->tables().mail(1).Status, QByteArray("ERRMessage6"));
    QVERIFY(!QFile::exists(dir.path() + QStringLiteral("/watch/KDMEML/a.zub")));
}

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
