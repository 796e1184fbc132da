#include "UiTestSupport.h"

#include "store/Store.h"
#include "ui/FolderListModel.h"
#include "ui/Form1.h"
#include "ui/ProgramWindows.h"
#include "ui/mail/TrayController.h"

#include <QAction>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;

namespace {

MainWindowOptions quietOptions()
{
    MainWindowOptions options;
    options.folderPicker = [](QWidget*) { return QString(); };
    return options;
}

void addSentMail(Store& store, const QByteArray& subject)
{
    MailRecord mail;
    mail.From = "a@example.com";
    mail.To = "b@example.com";
    mail.Subject = subject;
    mail.Status = "MSGSENT";
    const std::optional<qint16> id = store.tables().createMail(mail);
    QVERIFY(id);
    QVERIFY(store.tables().folder(SentFolder).append(*id));
}

} // namespace

class TestProgramWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void viewerAboutAndExitCloseThem();
    void minimizeFollowsTheTray();
};

void TestProgramWindows::viewerAboutAndExitCloseThem()
{
    QTemporaryDir dir;
    Store store(dir.path());
    store.loadAtStartup();
    addSentMail(store, "Erste");
    addSentMail(store, "Zweite");
    PromptRecorder prompts;
    Form1 window(store, prompts, quietOptions());
    ProgramWindows windows(window, [] { return false; });
    window.load();

    // The second row opens the mail with ID 2 in the viewer.
    QTableView* list = window.list(SentFolder);
    const QPoint cell = list->visualRect(window.listModel(SentFolder)->index(1, 1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell);
    QTRY_VERIFY_WITH_TIMEOUT(windows.viewer() && windows.viewer()->isVisible(), 2000);
    QVERIFY2(windows.viewer()->windowTitle().contains(QLatin1Char('2')), qPrintable(windows.viewer()->windowTitle()));

    window.findChild<QAction*>(QStringLiteral("Mnu_Help_About"))->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(windows.aboutBox() && windows.aboutBox()->isVisible(), 2000);

    prompts.answers = {PromptAnswer::Ok};
    QVERIFY(window.close());
    QTRY_VERIFY_WITH_TIMEOUT(!windows.viewer() && !windows.aboutBox(), 2000);
}

void TestProgramWindows::minimizeFollowsTheTray()
{
    QTemporaryDir dir;
    Store store(dir.path());
    store.loadAtStartup();
    PromptRecorder prompts;
    {
        Form1 window(store, prompts, quietOptions());
        ProgramWindows windows(window, [] { return true; });
        window.load();
        window.findChild<QAction*>(QStringLiteral("Mnu_File_Tray"))->trigger();
        QVERIFY(window.inTray());
        QVERIFY(!window.isVisible());
        QVERIFY(windows.tray().trayIcon());
        // "Beenden" of the tray menu runs the window's confirmation.
        Q_EMIT windows.tray().exitRequested();
        QCOMPARE(prompts.texts(), QStringList{QStringLiteral("Sind Sie sicher ZUB zu beenden?")});
        QVERIFY(windows.tray().trayIcon());
        // Confirmed from the tray menu: the icon goes while its own menu's signal runs.
        QSignalSpy unloaded(&window, &Form1::unloaded);
        prompts.answers = {PromptAnswer::Ok};
        Q_EMIT windows.tray().exitRequested();
        QCOMPARE(unloaded.count(), 1);
        QVERIFY(!window.inTray());
    }
    {
        // Without a notification area the window goes to the task bar and stays reachable.
        Form1 window(store, prompts, quietOptions());
        ProgramWindows windows(window, [] { return false; });
        window.load();
        window.findChild<QAction*>(QStringLiteral("Mnu_File_Tray"))->trigger();
        QVERIFY(!window.inTray());
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), 2000);
    }
}

QTEST_MAIN(TestProgramWindows)
#include "tst_programwindows.moc"
