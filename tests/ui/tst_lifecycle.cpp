#include "UiTestSupport.h"

#include "ui/Form4.h"
#include "ui/Program.h"
#include "ui/SignalBridge.h"

#include <QTimer>
#include <csignal>

using namespace kadmel;
using namespace kadmel::test;

namespace {

const QString Confirm = QStringLiteral("Sind Sie sicher ZUB zu beenden?");
const QString Busy = QStringLiteral("ZUB ist zur Zeit beschäftigt.\r\nDas Programm kann nicht beendet werden!");

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splashThenMainWindow();
    void closeWhileMailInHandWaitsForIt();
    void cancelThenRetriedSave();
};

void TestLifecycle::splashThenMainWindow()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    ProgramTimings timings;
    timings.splash = SplashTimings{150, 1400};
    Program program(dir.path(), prompts, timings, [](QWidget*) { return QString(); });
    QSignalSpy loaded(&program, &Program::mainWindowLoaded);
    program.start();

    // The store is loaded (and at the first start written) before the splash shows.
    QVERIFY(QFile::exists(program.store().settingsFilePath()));
    QVERIFY(program.splash()->isVisible() && !program.mainWindow());
    // The label after each step of the animation, in order: one more dot each time, then from the start.
    QStringList steps;
    Form4* splash = program.splash();
    connect(splash->findChild<QTimer*>(QStringLiteral("animation")), &QTimer::timeout, splash,
            [&steps, splash] { steps << splash->labelText(); });
    QTRY_VERIFY_WITH_TIMEOUT(steps.size() >= 5, 2000);
    QCOMPARE(steps.mid(0, 5),
             (QStringList{QStringLiteral("Loading"), QStringLiteral("Loading."), QStringLiteral("Loading.."),
                          QStringLiteral("Loading..."), QStringLiteral("Loading")}));

    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 3000);
    QVERIFY(program.mainWindow()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!program.splash(), 2000);

    // A termination signal on an idle program ends it at once, with the store saved.
    QSignalSpy finished(&program, &Program::finished);
    program.store().settings().SmtpServer = "saved on the way out";
    program.requestTermination();
    QVERIFY(finished.wait(2000));
    QCOMPARE(loadedStore(dir.path())->settings().SmtpServer, QByteArray("saved on the way out"));
    QVERIFY(prompts.asked.isEmpty());
}

void TestLifecycle::closeWhileMailInHandWaitsForIt()
{
    QTemporaryDir dir;
    SilentServer server;
    const auto store = storeWithJob(dir.path(), server.serverPort());
    PromptRecorder prompts;
    Form1 window(*store, prompts, fastOptions());
    SignalBridge bridge;
    QVERIFY(bridge.isInstalled());
    connect(&bridge, &SignalBridge::terminationRequested, &window, &Form1::requestTermination);
    window.load();
    QTRY_VERIFY_WITH_TIMEOUT(!window.dispatcher()->IdleFlag() && server.m_sockets.size() == 1, 5000);
    QSignalSpy unloaded(&window, &Form1::unloaded);
    prompts.answers = {PromptAnswer::Ok};
    QVERIFY(!window.close());
    QCOMPARE(prompts.texts(), (QStringList{Confirm, Busy}));
    QCOMPARE(prompts.asked.last().icon, PromptIcon::Exclamation);

    // A termination signal ends without asking, once the mail in hand is filed.
    ::raise(SIGTERM);
    QTest::qWait(300);
    QVERIFY(unloaded.isEmpty() && window.isVisible());
    server.dropAll();
    QVERIFY(unloaded.wait(5000));
    QVERIFY(!window.isVisible() && prompts.asked.size() == 2);
    QCOMPARE(loadedStore(store->programFolder())->tables().count(FailedFolder), qint16(1));
}

void TestLifecycle::cancelThenRetriedSave()
{
    QTemporaryDir dir;
    const auto store = loadedStore(dir.path());
    PromptRecorder prompts;
    Form1 window(*store, prompts, fastOptions());
    window.load();
    store->settings().SmtpUser = "neu";
    const auto before = snapshot(dir.path());
    QSignalSpy unloaded(&window, &Form1::unloaded);

    // The window frame and "Beenden" run the same confirmation; Cancel keeps everything.
    QVERIFY(!window.close());
    child<QAction>(window, "Mnu_File_Exit")->trigger();
    QCOMPARE(prompts.texts(), (QStringList{Confirm, Confirm}));
    QCOMPARE(prompts.asked.first().buttons, PromptButtons::OkCancel);
    QVERIFY(window.isVisible());
    QCOMPARE(snapshot(dir.path()), before);

    // OK with a folder where the settings file belongs: the failed save is said, a retry while the
    // fault lasts asks again, a retry after it is gone saves and ends.
    QVERIFY(QFile::remove(store->settingsFilePath()));
    QVERIFY(QDir().mkpath(store->settingsFilePath()));
    prompts.answers = {PromptAnswer::Ok, PromptAnswer::Retry, PromptAnswer::Retry};
    prompts.onAsk = [&](const PromptRecorder::Asked&) {
        if (prompts.asked.size() == 5)
            QDir(store->settingsFilePath()).removeRecursively();
    };
    QVERIFY(window.close());
    QCOMPARE(prompts.asked.size(), 5);
    QCOMPARE(prompts.asked.at(3).buttons, PromptButtons::RetryOrEnd);
    QVERIFY(prompts.asked.at(3).text.startsWith(QStringLiteral("Die Daten von ZUB konnten nicht gespeichert")));
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(loadedStore(dir.path())->settings().SmtpUser, QByteArray("neu"));
}

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
