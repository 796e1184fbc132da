#include "UiTestSupport.h"

#include "store/KadmelIni.h"
#include "store/ResultCode.h"
#include "support/EngineBench.h"
#include "ui/Contrast.h"
#include "ui/ProgramWindows.h"
#include "ui/ProgressBox.h"
#include "ui/StatusCellDelegate.h"
#include "ui/TextRoom.h"
#include "ui/mail/TrayController.h"

#include <QComboBox>
#include <QHeaderView>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSplitter>
#include <tuple>

using namespace kadmel;
using namespace kadmel::test;

static void clickNode(Form1& window, int number)
{
    auto* tree = child<QTreeWidget>(window, "TV1");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(window.node(number)).center());
}

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startUpOnEmptyFolder();
    void jobWhileFolderSwitches();
    void viewerAboutTrayAndExit();
    void rememberedWidthsAndKeyboard();
};

static QList<QRect> fixedPanels(Form1& window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    return {window.panel(1)->geometry(), window.panel(3)->geometry(), window.panel(4)->geometry(),
            window.panel(5)->geometry(), window.panel(6)->geometry()};
}

void TestMainWindow::startUpOnEmptyFolder()
{
    StoreInFolder s;
    auto& [dir, prompts, store] = s;
    store->settings() = localSettings(QString(), 25);
    store->settings().SmtpServer = "   ";
    QLocale::setDefault(QLocale::c()); // the dates stay German under the C locale
    // A dark scheme whose button text can hardly be read on its buttons (#202020 on #404040).
    const QPalette desktop = qApp->palette();
    QPalette dark(QColor(0x40, 0x40, 0x40), QColor(0x30, 0x30, 0x30));
    dark.setColor(QPalette::ButtonText, QColor(0x20, 0x20, 0x20));
    qApp->setPalette(dark);
    Form1 window(*store, prompts, fastOptions());
    window.load();
    qApp->setPalette(desktop);
    // Start and Stop read 4.5 : 1 all the same, the disabled one clearly paler than the enabled one.
    const auto contrast = [&window](const char* name) {
        const auto* button = child<QPushButton>(window, name);
        const QPalette::ColorGroup group = button->isEnabled() ? QPalette::Active : QPalette::Disabled;
        return contrastRatio(button->palette().color(group, QPalette::ButtonText),
                             button->palette().color(group, QPalette::Button));
    };
    QVERIFY(child<QPushButton>(window, "Command8")->isEnabled() &&
            child<QPushButton>(window, "Command8")->text() == QStringLiteral("Start"));
    QVERIFY2(contrast("Command8") >= 4.5 && contrast("Command9") < contrast("Command8") / 2,
             qPrintable(QStringLiteral("%1 %2").arg(contrast("Command8")).arg(contrast("Command9"))));
    // The first opening on 1280 x 800: inside the screen, at most 1200 x 800, twenty rows and more in the
    // list, the tree not more than a quarter of the width.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QVERIFY(window.screen()->availableGeometry().contains(window.geometry()) && window.width() <= 1200 &&
            window.height() <= 800);
    QVERIFY2(
        window.list(SentFolder)->viewport()->height() >=
            20 * window.list(SentFolder)->verticalHeader()->defaultSectionSize(),
        qPrintable(QStringLiteral("%1 %2").arg(window.height()).arg(window.list(SentFolder)->viewport()->height())));
    QVERIFY(child<QTreeWidget>(window, "TV1")->width() <= window.width() / 4);
    // Auto-start with a server of blanks: the warning naming the field, then the dialog with the default folder.
    QCOMPARE(prompts.texts(),
             QStringList{QStringLiteral("Überprüfen Sie Ihre Einstellungen !...\nEs fehlt: SMTP Server")});
    QVERIFY(window.settingsDialog() && window.settingsDialog()->isVisible() &&
            window.settingsDialog()->folderValue() == QDir::homePath() + QStringLiteral("/KADMEL"));
    window.settingsDialog()->reject();

    QVERIFY(window.node(3)->isSelected() && window.panel(4)->text() == QStringLiteral("Gesendete Objekte  "));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\.\\d\\d\\.20\\d\\d$"))
                .match(window.panel(5)->text() + QLatin1Char(' ') + window.panel(6)->text())
                .hasMatch());
    // At the first size every column fits without a scroll bar, the bounded ones wide enough for their longest text
    // in a bold row (Status stretches; its tooltip is whole), and panel 2 holds the longest texts whole.
    clickNode(window, 4);
    QTableView* failedList = window.list(FailedFolder);
    QFont bold = failedList->font();
    bold.setBold(true);
    const std::pair<int, QString> longest[] = {{FolderListModel::IdColumn, QStringLiteral("32767")},
                                               {FolderListModel::DateColumn, QStringLiteral("06.12.2026 22:47:51")},
                                               {FolderListModel::SizeColumn, QStringLiteral("1023 Bytes")}};
    for (const auto& [column, text] : longest)
        QVERIFY2(failedList->columnWidth(column) >
                     QFontMetrics(bold).horizontalAdvance(text) + (column ? 0 : failedList->iconSize().width()),
                 qPrintable(text));
    QVERIFY(failedList->horizontalHeader()->length() <= failedList->viewport()->width());
    const QList<QRect> panels = fixedPanels(window);
    for (const QString& text :
         {fromAnsi(ResultText("ERRMessage3")), fromAnsi(ResultText("ERRMessage4")), fromAnsi(ResultText("ERRMessage6")),
          QStringLiteral("Verbindung zum Mailserver wird hergestellt...  (ID 32767)")}) {
        window.panel(2)->setText(text);
        QVERIFY2(window.panel(2)->shownText() == text && window.panel(2)->toolTip().isEmpty(), qPrintable(text));
    }
    // Longer still: cut with "…" and whole in the tooltip; no panel moves for it, nor for the state or folder.
    const QString tooLong = fromAnsi(ResultText("ERRMessage3")).repeated(3);
    window.panel(2)->setText(tooLong);
    QVERIFY(window.panel(2)->shownText().endsWith(QChar(0x2026)) && window.panel(2)->toolTip() == tooLong);
    window.setServiceState(true);
    clickNode(window, 5);
    QCOMPARE(fixedPanels(window), panels);
    window.setServiceState(false);
    clickNode(window, 3);

    // Right-click and double-click in an empty list do nothing.
    QSignalSpy opened(&window, &Form1::openMailRequested);
    QTest::mouseDClick(window.list(1)->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    Q_EMIT window.list(1)->customContextMenuRequested(QPoint(20, 10));
    QVERIFY(opened.isEmpty() && !window.contextMenu(1)->isVisible());

    // A watched folder of two characters is refused with the stop icon.
    store->settings() = localSettings(QStringLiteral("C:"), 25);
    child<QPushButton>(window, "Command8")->click();
    QVERIFY(prompts.asked.last().text == QStringLiteral("KADMEL-Ordner nicht gewählt.") &&
            prompts.asked.last().icon == PromptIcon::Critical && window.panel(1)->text() == QStringLiteral("Inaktif"));

    // The progress bar: value, maximum, option → percentage text and bar width; each row follows the one
    // before. Idle, the box is not shown at all; the label never says other than the fill.
    ProgressBox* box = window.progressBox();
    const int w = box->contentsRect().width();
    QVERIFY(w > 10 && box->isHidden());
    const std::tuple<qint32, qint32, qint16, const char*, int> steps[] = {
        {200, 200, 1, "100%", w},
        {0, 200, 1, "0%", 0},                               // back to 0 after a finished run, bar shown
        {100, 200, 0, "50%", qRound(w / 2.0)},              //
        {101, 200, 0, "50%", qRound(w / 2.0)},              // the same percentage changes nothing, not even the bar
        {2, 3, 0, "66%", int(std::nearbyint(2.0 * w / 3))}, // percentage cut off, bar rounded to nearest
        {5, 0, 0, "0%", 0},                                 // maximum 0 counts as 0 %, the bar empties with it
        {30000000, 40000000, 0, "75%", int(std::nearbyint(w * 0.75))}, // Value × 100 beyond 32 bits
    };
    for (const auto& [value, maximum, option, text, width] : steps) {
        window.SetPBValue(value, maximum, option);
        QCOMPARE(box->percentText() + QString::number(box->barWidth()),
                 QString::fromLatin1(text) + QString::number(width));
        QVERIFY(box->barShown() && box->isVisible());
    }
    window.SetPBValue(1, 2, 2);
    QVERIFY(box->percentText().isEmpty() && box->isHidden());
}

void TestMainWindow::jobWhileFolderSwitches()
{
    SilentServer server;
    EngineBench bench(server.serverPort());
    bench.writeJob("a.zub", "Gr\x81\xe1\x65"); // OEM bytes
    PromptRecorder prompts;
    Form1 window(bench.store, prompts, fastOptions());
    window.load();
    QVERIFY(window.panel(1)->text() == QStringLiteral("Aktif") &&
            !child<QPushButton>(window, "Command8")->isEnabled() &&
            child<QPushButton>(window, "Command9")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!window.dispatcher()->IdleFlag() && server.m_sockets.size() == 1, 5000);
    const QString busyText = window.panel(2)->text();
    QVERIFY2(!busyText.isEmpty() && !busyText.contains(QStringLiteral("Objekt(e)")), qPrintable(busyText));
    // "Beenden" (Ctrl+Q) confirmed while a mail is in hand is refused.
    prompts.answers = {PromptAnswer::Ok};
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(prompts.texts().size() == 2 && prompts.texts().last().contains(QStringLiteral("nicht beendet")));

    // Another folder while the mail is in hand: the list and panel 4 follow, panel 2 keeps the dispatcher's text.
    // Connected, nothing said yet: the bar starts empty, not full from the page composed before.
    clickNode(window, 4);
    QCOMPARE(
        (QStringList{QString::number(window.visibleFolder()), window.panel(4)->text(), window.panel(2)->text(),
                     window.progressBox()->percentText() + QString::number(window.progressBox()->barWidth())}),
        (QStringList{QStringLiteral("2"), QStringLiteral("Fehlgeschl. Objekte  "), busyText, QStringLiteral("0%0")}));

    // The server refuses: a bold new row, the caption counts it; panel 2 and the status cell's tooltip give
    // the server's reply; a rebuild keeps the row, no longer bold. Idle again, the progress box is gone.
    server.m_sockets.first()->write("550 5.1.1 Mailbox unavailable\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(window.dispatcher()->IdleFlag(), 5000);
    const QString refused = fromAnsi(ResultText("ERRMessage3"));
    const QString reply = refused + QStringLiteral(" (550 5.1.1 Mailbox unavailable)");
    FolderListModel* failed = window.listModel(FailedFolder);
    const QModelIndex status = failed->index(0, FolderListModel::StatusColumn);
    const QString cell = QStringLiteral("abgelehnt – 550 5.1.1 Mailbox unavailable");
    QCOMPARE((QStringList{window.panel(2)->text(), failed->data(status, Qt::ToolTipRole).toString(),
                          failed->data(status).toString(),
                          failed->index(0, FolderListModel::SubjectColumn).data().toString(), window.node(4)->text(0)}),
             (QStringList{reply, reply, cell, QStringLiteral("Grüße"), QStringLiteral("Fehlgeschl. Objekte  (1)")}));
    QVERIFY(window.progressBox()->isHidden() && failed->isBold(0));
    QCOMPARE(failed->index(0, FolderListModel::EntryColumn).data().toString().size(), 19); // kept by the intake
    // A 451, a refused connection and a time-out beside the 550: at 1280 and 1024 each shows its kind, apart.
    MailRecord& later = bench.store.tables().mail(addMail(bench.store, FailedFolder));
    later.Status = "ERRMessage3";
    later.Log.Received = {"451 4.7.1 Bitte sp\xE4ter", ""};
    addMail(bench.store, FailedFolder); // no connection
    bench.store.tables().mail(addMail(bench.store, FailedFolder)).Status = "ERRMessage6";
    window.RefreshLists();
    QVERIFY(failed->rowCount() == 4 && !failed->isBold(0));
    QTableView* list = window.list(FailedFolder);
    auto* delegate = static_cast<StatusCellDelegate*>(list->itemDelegateForColumn(FolderListModel::StatusColumn));
    const QStringList starts = {QStringLiteral("abgelehnt – 550"), QStringLiteral("vorübergehend – 451"),
                                QStringLiteral("keine Verbindung – Es"), QStringLiteral("Zeitüberschreitung – Zeit")};
    for (const int width : {1280, 1024}) {
        window.resize(width, 768);
        QTRY_COMPARE(window.width(), width);
        QList<QImage> seen;
        for (int row = 0; row < 4; ++row) {
            const QModelIndex index = list->model()->index(row, FolderListModel::StatusColumn);
            const QString shown = delegate->shownText(*list, index);
            QVERIFY2(shown.startsWith(starts.at(row)), qPrintable(shown)); // cut at its end, never in the middle
            seen << list->viewport()->grab(list->visualRect(index)).toImage();
        }
        for (int a = 0; a < 4; ++a)
            for (int b = a + 1; b < 4; ++b)
                QVERIFY(seen.at(a) != seen.at(b));
    }
    // The status filter, shown for this folder, lists one kind.
    auto* kinds = child<QComboBox>(window, "StatusFilter");
    kinds->setCurrentIndex(kinds->findText(QStringLiteral("Zeitüberschreitung")));
    QVERIFY(kinds->isVisible() && list->model()->rowCount() == 1 && list->model()->index(0, 0).data().toInt() == 4);
    kinds->setCurrentIndex(0);
    // A mail waiting to be sent again says when, behind its kind; the tree caption stays as it was.
    window.setRetryTimes({{1, QDateTime(QDate(2026, 12, 7), QTime(14, 5))}});
    const QString retry = QStringLiteral(" – nächster Versuch um 14:05");
    QCOMPARE((QStringList{failed->data(status).toString(), failed->data(status, Qt::ToolTipRole).toString()}),
             (QStringList{QStringLiteral("abgelehnt") + retry + QStringLiteral(" – 550 5.1.1 Mailbox unavailable"),
                          reply + retry})); // the reason stays with the status it explains

    clickNode(window, 3);
    QVERIFY(window.panel(2)->text() == QStringLiteral("0 Objekt(e)") && window.panel(2)->picture() == Picture::Mail);
}

void TestMainWindow::viewerAboutTrayAndExit()
{
    StoreInFolder s;
    auto& [dir, prompts, store] = s;
    // Dates and sizes whose texts sort the other way round than their values.
    for (const auto& [date, size] :
         {std::pair<QByteArray, QByteArray>{"01.01.2027 00:00:00", "1,00 KB"}, {"31.12.2026 23:59:59", "999 Bytes"}}) {
        MailRecord& mail = store->tables().mail(addMail(*store, SentFolder));
        std::tie(mail.Date, mail.Size) = std::tie(date, size);
    }
    Form1 window(*store, prompts, fastOptions());
    ProgramWindows windows(window, [] { return true; });
    window.load();
    window.setGeometry(40, 50, 700, 450);
    window.splitter()->setSizes({300, 607});
    window.list(FailedFolder)->setColumnWidth(FolderListModel::SubjectColumn, 77);
    const WindowPlacement left = window.currentPlacement();
    QVERIFY(left.geometry && left.geometry->topLeft() == QPoint(40, 50) &&
            left.columns.at(1).at(FolderListModel::SubjectColumn) == 77);

    // Sorted by ID downwards, a double click on the second row opens mail 1 in the viewer.
    QTableView* list = window.list(SentFolder);
    list->sortByColumn(FolderListModel::IdColumn, Qt::DescendingOrder);
    const QPoint cell = list->visualRect(list->model()->index(1, 1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell);
    QTRY_VERIFY_WITH_TIMEOUT(windows.viewer() && windows.viewer()->windowTitle() == QStringLiteral("Mail (ID=1)"),
                             2000);
    for (const int column : {FolderListModel::DateColumn, FolderListModel::SizeColumn}) {
        list->sortByColumn(column, Qt::AscendingOrder);
        QCOMPARE(list->model()->index(0, 0).data().toString(), QStringLiteral("2"));
    }
    child<QAction>(window, "Mnu_Help_About")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(windows.aboutBox() && windows.aboutBox()->isVisible(), 15000);

    child<QAction>(window, "Mnu_File_Tray")->trigger();
    windows.bringToFront(); // what a second start asks for: the window out of the tray
    QVERIFY(!window.inTray() && window.isVisible());
    child<QAction>(window, "Mnu_File_Tray")->trigger();
    // "Beenden" of the tray menu runs the window's confirmation; Cancel keeps all and writes nothing.
    store->settings().SmtpUser = "neu";
    const auto before = snapshot(dir.path());
    child<QAction>(*windows.tray().trayMenu(), "Mnu_Tray_Exit")->trigger();
    QCOMPARE(prompts.texts(), QStringList{QStringLiteral("Sind Sie sicher, ZUB zu beenden?")});
    QVERIFY(window.inTray() && !window.isVisible() && windows.tray().trayIcon() && snapshot(dir.path()) == before);
    // OK with a folder where the settings file belongs: the failed save is said, a retry while the fault lasts
    // asks again, a retry after it saves and ends; the icon goes while its own menu's signal runs.
    QVERIFY(QFile::remove(store->settingsFilePath()) && QDir().mkpath(store->settingsFilePath()));
    prompts.answers = {PromptAnswer::Ok, PromptAnswer::Retry, PromptAnswer::Retry};
    prompts.onAsk = [&](const PromptRecorder::Asked&) {
        if (prompts.asked.size() == 4)
            QDir(store->settingsFilePath()).removeRecursively();
    };
    QSignalSpy unloaded(&window, &Form1::unloaded);
    child<QAction>(*windows.tray().trayMenu(), "Mnu_Tray_Exit")->trigger();
    QVERIFY(prompts.asked.size() == 4 && prompts.asked.at(2).buttons == PromptButtons::RetryOrEnd);
    QVERIFY(prompts.asked.at(2).text.startsWith(QStringLiteral("Die Daten von ZUB konnten nicht gespeichert")));
    QVERIFY(unloaded.count() == 1 && !window.inTray() && loadedStore(dir.path())->settings().SmtpUser == "neu");
    QTRY_VERIFY_WITH_TIMEOUT(!windows.viewer() && !windows.aboutBox(), 15000);

    // The next start puts the placement back. Without a notification area the window goes to the task bar.
    Form1 second(*store, prompts, fastOptions());
    ProgramWindows noTray(second, [] { return false; });
    second.load();
    QVERIFY(second.currentPlacement() == left);
    child<QAction>(second, "Mnu_File_Tray")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!second.inTray() && second.isMinimized(), 15000);
}

void TestMainWindow::rememberedWidthsAndKeyboard()
{
    StoreInFolder s;
    auto& [dir, prompts, store] = s;
    for (int i = 0; i < 43; ++i)
        addMail(*store, SentFolder);
    // Widths kept from a wider window before "Eingang", put back in one of 1024 pixels with a scroll bar: the
    // columns fit, Status keeps room for a kind and code, the widths stay.
    const QList<int> widths{80, 330, 330, 500, 200, 120, 300};
    const WindowPlacement wide{QRect(20, 20, 1024, 500), false, {}, {widths, widths, widths}};
    QVERIFY(store->kadmelIni().write({.placement = wide}, nullptr));
    Form1 window(*store, prompts, fastOptions());
    window.load();
    QTableView* list = window.list(SentFolder);
    QTRY_VERIFY(list->verticalScrollBar()->isVisible() &&
                list->horizontalHeader()->length() <= list->viewport()->width());
    QVERIFY(list->columnWidth(FolderListModel::StatusColumn) >= statusColumnWidth(*list));
    const QList<int> kept = window.currentPlacement().columns.at(0); // Eingang at 4 has a width of its own
    QCOMPARE(kept.first(4) + kept.sliced(5, 2), wide.columns.at(0).first(6));

    // Tab from the tree into the list, which then has a mail selected, and on out of it; End goes to the
    // last mail; after "Entfernen" the next mail is selected; Shift+F10 opens the menu.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    child<QTreeWidget>(window, "TV1")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(list->hasFocus() && window.selectedPosition(SentFolder) == 1);
    QTest::keyClick(list, Qt::Key_Tab);
    QVERIFY(!list->hasFocus());
    list->setFocus();
    QTest::keyClick(list, Qt::Key_End);
    QTest::keyClick(list, Qt::Key_Up);
    QCOMPARE(window.selectedPosition(SentFolder), 42);
    const qint16 next = window.listModel(SentFolder)->idAt(42);
    QTest::keyClick(list, Qt::Key_Delete);
    QTRY_COMPARE(window.selectedId(SentFolder), next);
    QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(window.contextMenu(SentFolder)->isVisible());
}

KADMEL_TEST_MAIN_ON_SCREENS(TestMainWindow, QSize(1280, 800))
#include "tst_mainwindow.moc"
