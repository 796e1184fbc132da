#include "UiTestSupport.h"
#include "support/SmtpSink.h"

#include "store/Ansi.h"
#include "store/Store.h"
#include "ui/FolderListModel.h"
#include "ui/Form1.h"
#include "ui/ProgressBox.h"
#include "ui/StatusPanel.h"

#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace kadmel;
using namespace kadmel::test;

namespace {

MainWindowOptions fastOptions()
{
    MainWindowOptions options;
    options.engine.pollMs = 100;
    options.engine.minJobAgeMs = 0;
    options.engine.alertCloseMs = 10;
    options.engine.smtp.connectMs = 3000;
    options.engine.smtp.conversationMs = 20000;
    options.folderPicker = [](QWidget*) { return QString(); };
    return options;
}

void completeSettings(Store& store, quint16 port, const QString& watchFolder, qint16 autoStart)
{
    Settings& s = store.settings();
    s.SmtpServer = "127.0.0.1";
    s.SmtpPort = qint16(port);
    s.SmtpUser = "anna";
    s.SmtpPassword = "geheim";
    s.UseSpa = 1;
    s.AutoStart = autoStart;
    s.WatchFolder = toAnsi(watchFolder);
}

void clickNode(Form1& window, int number)
{
    QTreeWidget* tree = window.findChild<QTreeWidget*>(QStringLiteral("TV1"));
    QTreeWidgetItem* item = window.node(number);
    const QRect rect = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
}

QString panelText(const Form1& window, int number)
{
    return window.panel(number)->text();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startUpOnEmptyFolder();
    void autoStartSendsJobAndShowsItBold();
    void autoStartWithEmptyServerWarnsThenOpensDialog();
    void folderSwitchWhileMailInHandKeepsMessage();
    void progressBar();
};

void TestMainWindow::startUpOnEmptyFolder()
{
    QTemporaryDir dir;
    Store store(dir.path());
    store.loadAtStartup();
    PromptRecorder prompts;
    Form1 window(store, prompts, fastOptions());
    window.load();

    QCOMPARE(panelText(window, 1), QStringLiteral("Inaktif"));
    QCOMPARE(window.panel(1)->picture(), Picture::Inactive);
    QCOMPARE(panelText(window, 2), QStringLiteral("0 Objekt(e)"));
    QCOMPARE(panelText(window, 4), QStringLiteral("Gesendete Objekte  "));
    QCOMPARE(window.node(3)->text(0), QStringLiteral("Gesendete Objekte  (0)"));
    QCOMPARE(window.node(4)->text(0), QStringLiteral("Fehlgeschl. Objekte  (0)"));
    QCOMPARE(window.node(5)->text(0), QStringLiteral("Gelöschte Objekte  (0)"));
    QVERIFY(window.node(3)->isSelected());
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("Command8"))->isEnabled());
    QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("Command9"))->isEnabled());
    QVERIFY(window.list(1)->isVisible());
    QVERIFY(!window.list(2)->isVisible());

    // Right-click and double-click in an empty list do nothing.
    QSignalSpy opened(&window, &Form1::openMailRequested);
    QTableView* sent = window.list(1);
    QTest::mouseDClick(sent->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    Q_EMIT sent->customContextMenuRequested(QPoint(20, 10));
    QCOMPARE(opened.count(), 0);
    QVERIFY(!window.contextMenu(1)->isVisible());

    // "Einstellungen" opens the dialog with the default watched folder and leaves the window as it was.
    clickNode(window, 6);
    QTRY_VERIFY_WITH_TIMEOUT(window.settingsDialog() && window.settingsDialog()->isVisible(), 2000);
    QCOMPARE(window.settingsDialog()->folderValue(), QDir::homePath() + QStringLiteral("/KADMEL"));
    QCOMPARE(window.visibleFolder(), 1);
    QCOMPARE(panelText(window, 4), QStringLiteral("Gesendete Objekte  "));
    QVERIFY(prompts.asked.isEmpty());
    window.settingsDialog()->reject();
}

void TestMainWindow::autoStartSendsJobAndShowsItBold()
{
    SmtpSink sink;
    QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
    QTemporaryDir dir;
    const QString watch = dir.filePath(QStringLiteral("watch"));
    QVERIFY(writeJob(watch + QStringLiteral("/KDMEML"), QStringLiteral("a.zub"),
                     "Gr\x81\xe1"
                     "e"));
    Store store(dir.filePath(QStringLiteral("program")));
    QVERIFY(QDir().mkpath(store.programFolder()));
    store.loadAtStartup();
    completeSettings(store, sink.port(), watch, 2);
    PromptRecorder prompts;
    Form1 window(store, prompts, fastOptions());
    window.load();
    QCOMPARE(panelText(window, 1), QStringLiteral("Aktif"));
    QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("Command8"))->isEnabled());
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("Command9"))->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(window.listModel(SentFolder)->rowCount() + window.listModel(FailedFolder)->rowCount(), 1,
                              10000);
    QCOMPARE(window.listModel(SentFolder)->rowCount(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(window.dispatcher()->IdleFlag(), 5000);
    FolderListModel* sent = window.listModel(SentFolder);
    QVERIFY(sent->isBold(0));
    QCOMPARE(sent->idAt(0), qint16(1));
    QCOMPARE(sent->data(sent->index(0, FolderListModel::SubjectColumn)).toString(), QStringLiteral("Grüße"));
    QCOMPARE(sent->data(sent->index(0, FolderListModel::ToColumn)).toString(),
             QStringLiteral("empfaenger@example.com"));
    QCOMPARE(window.node(3)->text(0), QStringLiteral("Gesendete Objekte  (1)"));
    QVERIFY(prompts.asked.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 5000);
    QCOMPARE(sink.messages().first().rcptTos, QList<QByteArray>{"empfaenger@example.com"});

    // A rebuild shows the same rows, none bold, and the counts stay.
    window.RefreshLists();
    QCOMPARE(sent->rowCount(), 1);
    QVERIFY(!sent->isBold(0));
    QCOMPARE(window.node(3)->text(0), QStringLiteral("Gesendete Objekte  (1)"));

    // A selected row: double-click asks for the viewer, right-click opens the sent folder's menu.
    QSignalSpy opened(&window, &Form1::openMailRequested);
    QTableView* view = window.list(1);
    const QPoint cell = view->visualRect(sent->index(0, 1)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.at(0).at(0).toInt(), 1);
    Q_EMIT view->customContextMenuRequested(cell);
    QTRY_VERIFY_WITH_TIMEOUT(window.contextMenu(1)->isVisible(), 2000);
    window.contextMenu(1)->hide();
    QCOMPARE(window.selectedId(1), qint16(1));
}

void TestMainWindow::autoStartWithEmptyServerWarnsThenOpensDialog()
{
    QTemporaryDir dir;
    Store store(dir.path());
    store.loadAtStartup();
    completeSettings(store, 25, dir.path(), 2);
    store.settings().SmtpServer = "   ";
    PromptRecorder prompts;
    Form1 window(store, prompts, fastOptions());
    window.load();
    QCOMPARE(prompts.texts(), QStringList{QStringLiteral("Überprüfen Sie Ihre Einstellungen !...")});
    QCOMPARE(prompts.asked.first().icon, PromptIcon::Exclamation);
    QVERIFY(window.settingsDialog() && window.settingsDialog()->isVisible());
    QCOMPARE(panelText(window, 1), QStringLiteral("Inaktif"));

    // A watched folder of two characters is refused with the stop icon.
    window.settingsDialog()->reject();
    completeSettings(store, 25, QStringLiteral("C:"), 2);
    window.findChild<QPushButton*>(QStringLiteral("Command8"))->click();
    QCOMPARE(prompts.asked.last().text, QStringLiteral("KADMEL-Ordner nicht gewählt."));
    QCOMPARE(prompts.asked.last().icon, PromptIcon::Critical);
    QCOMPARE(panelText(window, 1), QStringLiteral("Inaktif"));
}

void TestMainWindow::folderSwitchWhileMailInHandKeepsMessage()
{
    SilentServer server;
    QTemporaryDir dir;
    const QString watch = dir.filePath(QStringLiteral("watch"));
    QVERIFY(writeJob(watch + QStringLiteral("/KDMEML"), QStringLiteral("a.zub"), "Betreff"));
    Store store(dir.filePath(QStringLiteral("program")));
    QVERIFY(QDir().mkpath(store.programFolder()));
    store.loadAtStartup();
    completeSettings(store, server.serverPort(), watch, 2);
    PromptRecorder prompts;
    Form1 window(store, prompts, fastOptions());
    window.load();
    QTRY_VERIFY_WITH_TIMEOUT(!window.dispatcher()->IdleFlag() && server.connections() == 1, 5000);
    const QString busyText = panelText(window, 2);
    QVERIFY2(!busyText.isEmpty() && !busyText.contains(QStringLiteral("Objekt(e)")), qPrintable(busyText));

    clickNode(window, 4);
    QCOMPARE(window.visibleFolder(), 2);
    QVERIFY(window.list(2)->isVisible());
    QCOMPARE(panelText(window, 4), QStringLiteral("Fehlgeschl. Objekte  "));
    QCOMPARE(window.panel(4)->picture(), Picture::MailError);
    QCOMPARE(panelText(window, 2), busyText);

    // The mail fails: it stands bold at the end of the failed list and the caption counts it.
    server.dropAll();
    QTRY_VERIFY_WITH_TIMEOUT(window.dispatcher()->IdleFlag(), 5000);
    QCOMPARE(window.listModel(FailedFolder)->rowCount(), 1);
    QVERIFY(window.listModel(FailedFolder)->isBold(0));
    QCOMPARE(window.node(4)->text(0), QStringLiteral("Fehlgeschl. Objekte  (1)"));
    clickNode(window, 3);
    QCOMPARE(panelText(window, 2), QStringLiteral("0 Objekt(e)"));
    QCOMPARE(window.panel(2)->picture(), Picture::Mail);
}

void TestMainWindow::progressBar()
{
    QTemporaryDir dir;
    Store store(dir.path());
    store.loadAtStartup();
    PromptRecorder prompts;
    Form1 window(store, prompts, fastOptions());
    window.load();
    ProgressBox* box = window.progressBox();
    const int w = box->contentsRect().width();
    QVERIFY(w > 10);
    QVERIFY(!box->barShown());

    window.SetPBValue(200, 200, 1);
    QCOMPARE(box->percentText(), QStringLiteral("100%"));
    QCOMPARE(box->barWidth(), w);
    {
        // After a finished run: back to 0 with the bar shown.
        window.SetPBValue(0, 200, 1);
        QCOMPARE(box->percentText(), QStringLiteral("0%"));
        QCOMPARE(box->barWidth(), 0);
        QVERIFY(box->barShown());
    }
    {
        window.SetPBValue(100, 200, 0);
        QCOMPARE(box->percentText(), QStringLiteral("50%"));
        QCOMPARE(box->barWidth(), qRound(w / 2.0));
        // The same percentage again changes nothing, not even the bar.
        window.SetPBValue(101, 200, 0);
        QCOMPARE(box->barWidth(), qRound(w / 2.0));
    }
    {
        // The percentage is cut off, the bar rounded to nearest.
        window.SetPBValue(2, 3, 0);
        QCOMPARE(box->percentText(), QStringLiteral("66%"));
        QCOMPARE(box->barWidth(), int(std::nearbyint(2.0 * w / 3)));
    }
    {
        // Maximum 0 and an overflowing Value × 100 count as 0 % and never fail.
        window.SetPBValue(5, 0, 0);
        QCOMPARE(box->percentText(), QStringLiteral("0%"));
        QCOMPARE(box->LastPercent(), qint16(0));
        window.SetPBValue(1, 2, 0);
        window.SetPBValue(30000000, 40000000, 0);
        QCOMPARE(box->percentText(), QStringLiteral("0%"));
    }
    {
        window.SetPBValue(1, 2, 2);
        QCOMPARE(box->percentText(), QString());
        QVERIFY(!box->barShown());
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
