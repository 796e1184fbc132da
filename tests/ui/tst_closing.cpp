#include "UiTestSupport.h"

#include "ui/SignalBridge.h"

#include <QAction>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace kadmel;
using namespace kadmel::test;

namespace {

const QString Confirm = QStringLiteral("Sind Sie sicher ZUB zu beenden?");
const QString Busy = QStringLiteral("ZUB ist zur Zeit beschäftigt.\r\nDas Programm kann nicht beendet werden!");

// A program folder whose store is loaded and a watched folder with one job for a silent server.
struct BusyRun
{
    QTemporaryDir dir;
    SilentServer server;
    std::unique_ptr<Store> store;

    bool prepare()
    {
        const QString watch = dir.filePath(QStringLiteral("watch"));
        if (!writeJob(watch + QStringLiteral("/KDMEML"), QStringLiteral("a.zub"), "Betreff"))
            return false;
        store = std::make_unique<Store>(dir.filePath(QStringLiteral("program")));
        QDir().mkpath(store->programFolder());
        store->loadAtStartup();
        completeSettings(*store, server.serverPort(), watch, 2);
        return true;
    }
};

} // namespace

class TestClosing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cancelKeepsProgramAndFiles();
    void closeWhileMailInHandWaitsForIt();
    void failedFinalSaveIsSaid();
};

void TestClosing::cancelKeepsProgramAndFiles()
{
    QTemporaryDir dir;
    Store store(dir.path());
    store.loadAtStartup();
    PromptRecorder prompts;
    Form1 window(store, prompts, fastOptions());
    window.load();
    store.settings().SmtpServer = "changed in memory only";
    const auto before = snapshot(dir.path());
    QSignalSpy unloaded(&window, &Form1::unloaded);

    // The window frame and "Beenden" run the same confirmation; Cancel keeps everything.
    QVERIFY(!window.close());
    window.findChild<QAction*>(QStringLiteral("Mnu_File_Exit"))->trigger();
    QCOMPARE(prompts.texts(), (QStringList{Confirm, Confirm}));
    QCOMPARE(prompts.asked.first().icon, PromptIcon::Question);
    QCOMPARE(prompts.asked.first().buttons, PromptButtons::OkCancel);
    QVERIFY(window.isVisible());
    QCOMPARE(unloaded.count(), 0);
    QCOMPARE(snapshot(dir.path()), before);

    // OK ends with the whole store saved.
    prompts.answers = {PromptAnswer::Ok};
    QVERIFY(window.close());
    QCOMPARE(unloaded.count(), 1);
    Store reread(dir.path());
    reread.loadAtStartup();
    QCOMPARE(reread.settings().SmtpServer, QByteArray("changed in memory only"));
}

void TestClosing::closeWhileMailInHandWaitsForIt()
{
    BusyRun run;
    QVERIFY(run.prepare());
    PromptRecorder prompts;
    Form1 window(*run.store, prompts, fastOptions());
    SignalBridge bridge;
    QVERIFY(bridge.isInstalled());
    connect(&bridge, &SignalBridge::terminationRequested, &window, &Form1::requestTermination);
    window.load();
    QTRY_VERIFY_WITH_TIMEOUT(!window.dispatcher()->IdleFlag() && run.server.connections() == 1, 5000);
    QSignalSpy unloaded(&window, &Form1::unloaded);
    prompts.answers = {PromptAnswer::Ok};
    QVERIFY(!window.close());
    QCOMPARE(prompts.texts(), (QStringList{Confirm, Busy}));
    QCOMPARE(prompts.asked.last().icon, PromptIcon::Exclamation);

    // A termination signal ends without asking, once the mail in hand is filed.
    ::raise(SIGTERM);
    QTest::qWait(300);
    QCOMPARE(unloaded.count(), 0);
    QVERIFY(window.isVisible());
    run.server.dropAll();
    QVERIFY(unloaded.wait(5000));
    QVERIFY(!window.isVisible());
    QCOMPARE(prompts.asked.size(), 2);
    Store reread(run.store->programFolder());
    reread.loadAtStartup();
    QCOMPARE(reread.tables().count(FailedFolder), qint16(1));
    QCOMPARE(reread.settings().SmtpUser, QByteArray("anna"));
}

void TestClosing::failedFinalSaveIsSaid()
{
    QTemporaryDir dir;
    Store store(dir.path());
    store.loadAtStartup();
    PromptRecorder prompts;
    Form1 window(store, prompts, fastOptions());
    window.load();
    store.settings().SmtpUser = "neu";
    // A folder where the settings file belongs makes every save of it fail.
    QVERIFY(QFile::remove(store.settingsFilePath()));
    QVERIFY(QDir().mkpath(store.settingsFilePath()));
    QSignalSpy unloaded(&window, &Form1::unloaded);
    // Retry while the fault lasts asks again; a retry after the fault is gone saves.
    prompts.answers = {PromptAnswer::Ok, PromptAnswer::Retry, PromptAnswer::Retry};
    prompts.onAsk = [&](const PromptRecorder::Asked&) {
        if (prompts.asked.size() == 3)
            QDir(store.settingsFilePath()).removeRecursively();
    };
    QVERIFY(window.close());
    QCOMPARE(prompts.asked.size(), 3);
    QCOMPARE(prompts.asked.at(1).buttons, PromptButtons::RetryOrEnd);
    QVERIFY(prompts.asked.at(1).text.startsWith(QStringLiteral("Die Daten von ZUB konnten nicht gespeichert")));
    QCOMPARE(unloaded.count(), 1);
    Store reread(dir.path());
    reread.loadAtStartup();
    QCOMPARE(reread.settings().SmtpUser, QByteArray("neu"));
}

QTEST_MAIN(TestClosing)
#include "tst_closing.moc"
