#include "UiTestSupport.h"

#include "ui/Contrast.h"

#include "store/AttachmentCopies.h"
#include "store/MailExtras.h"
#include "ui/Contrast.h"
#include "ui/MailFileSaving.h"
#include "ui/mail/Form2.h"
#include "ui/mail/Form3.h"
#include "ui/mail/MailEditor.h"
#include "ui/mail/StoreEditTarget.h"
#include "ui/mail/SysTrayAlert.h"
#include "ui/mail/TrayController.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>
#include <tuple>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// The conversation as shown: each coloured run as "g" (grey) or "w" (white) and its text.
QString shownRuns(const QTextEdit& rtb)
{
    QStringList runs;
    for (QTextBlock block = rtb.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            // Replies in another colour than commands, both readable on the conversation's ground.
            const QColor colour = it.fragment().charFormat().foreground().color();
            const bool readable = contrastRatio(colour, rtb.palette().color(QPalette::Base)) >= 4.5;
            const char kind = !readable ? '?' : colour == QColor(255, 255, 255) ? 'w' : 'g';
            runs << QLatin1Char(kind) + it.fragment().text();
        }
    }
    return runs.join(QLatin1Char(' '));
}

SmtpLog logOf(const QList<QByteArray>& received, const QList<QByteArray>& sent)
{
    SmtpLog log;
    for (const QByteArray& text : received)
        log.appendReceived(text + "\r\n");
    for (const QByteArray& text : sent)
        log.appendSent(text + "\r\n");
    return log;
}

} // namespace

class TestMailWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void viewer();
    void attachmentsInViewerAndEditor();
    void alertPlaceShowSetClose();
    void trayIconAndMenu();
    void aboutBox();
};

void TestMailWindows::viewer()
{
    MailRecord mail{.Log = {},
                    .Reserved = {},
                    .From = "absender@example.com",
                    .To = "empf\xE4nger@example.com",
                    .Subject = "Preis 5 \x80",
                    .Body = "Zeile 1\r\nZeile 2",
                    .Date = "06.12.2026 18:15:11",
                    .Size = "532 Bytes",
                    .Status = "MSGSENT"};
    // The body reads black on white even on a dark desktop, the blue header in a light blue.
    const QPalette desktop = qApp->palette();
    qApp->setPalette(QPalette(Qt::white, Qt::black, Qt::gray, Qt::darkGray, Qt::gray, Qt::white, Qt::black));
    Form2 viewer;
    viewer.showMail(mail, 7);
    auto* header = child<QLabel>(viewer, "Label1");
    QCOMPARE(header->text(),
             QStringLiteral("Absender: absender@example.com\nAn: empfänger@example.com\nBetreff: Preis 5 "
                            "€\nDatum/Zeit: 06.12.2026 18:15:11\nGröße: 532 Bytes\n"
                            "Status: Das E-Mail wurde erfolgreich gesendet."));
    auto* body = child<QPlainTextEdit>(viewer, "Text1");
    QCOMPARE(body->toPlainText(), QStringLiteral("Zeile 1\nZeile 2"));
    QVERIFY(body->palette().color(QPalette::Base) == Qt::white && body->palette().color(QPalette::Text) == Qt::black &&
            header->palette().color(QPalette::WindowText).lightness() >= 128);
    qApp->setPalette(desktop);

    // A refused mail's status says why, from the last reply of its conversation, on one line; a hostile
    // reply of the reader's full size is cut short.
    mail.Status = "ERRMessage3";
    mail.Log = logOf({"220 hi", "550-5.1.1 Mailbox\r\n550 5.1.1 unavailable\x1b"}, {"MAIL FROM: <a@b>"});
    viewer.showMail(mail, 8);
    QVERIFY(header->toolTip().endsWith(QStringLiteral("\nStatus: Zeitüberschreitungsfehler oder Fehlermeldung vom "
                                                      "Mailserver. (550-5.1.1 Mailbox 550 5.1.1 unavailable)")));
    mail.Log = logOf({"550 " + QByteArray(64 * 1024, 'x')}, {});
    viewer.showMail(mail, 8);
    QVERIFY(header->toolTip().size() < 500 && header->toolTip().endsWith(QStringLiteral("x\u2026)")));
    // On the window each field keeps its one line, but Status wraps once, then is cut with "…".
    const QStringList lines = header->text().split(QLatin1Char('\n'));
    QVERIFY(lines.size() == 7 && lines.last().endsWith(QChar(0x2026)) && header->height() > 6 * 14 &&
            header->fontMetrics().horizontalAdvance(lines.last()) <= header->width());

    // The conversation, replies grey and commands white in turn, up to the reply after the last command;
    // missing replies are empty. Each mail shown replaces all of the one before.
    auto* rtb = child<QTextEdit>(viewer, "RTB");
    for (const auto& [log, shown] :
         {std::pair{logOf({"R0", "R1", "R2", "R3"}, {"S0", "S1"}), QStringLiteral("gR0 wS0 gR1 wS1 gR2")},
          std::pair{logOf({"R0"}, {"S0", "S1", "S2"}), QStringLiteral("gR0 wS0 wS1 wS2")},
          std::pair{SmtpLog(), QString()}}) {
        mail.Log = log;
        viewer.showMail(mail, 2);
        QCOMPARE(shownRuns(*rtb), shown);
    }

    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    auto* tabs = child<QTabBar>(viewer, "TabBar");
    QVERIFY(body->isVisible() && !rtb->isVisible());
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    QVERIFY(!body->isVisible() && rtb->isVisible());
    // The header widens with the window. Too small for the margins: the views keep their last place
    // instead of taking a negative size.
    viewer.resize(900, 600);
    QVERIFY(header->x() > 0 && header->geometry().right() == 899); // clear of the left edge
    const QRect designed = rtb->geometry();
    viewer.resize(30, 60);
    QCOMPARE(rtb->geometry(), designed);
}

void TestMailWindows::attachmentsInViewerAndEditor()
{
    // A failed mail with two attachments copied into the store, as the intake leaves them.
    StoreInFolder f;
    const qint16 id = addMail(*f.store, FailedFolder);
    MailRecord& mail = f.store->tables().mail(id);
    setMessageId(mail, "<alt@example.com>");
    MailExtras extras = extrasOf(mail);
    const QByteArray pdf = "%PDF-1.4\n" + QByteArray(3000, '\xE4');
    for (const auto& [copy, path, bytes] :
         {std::tuple{"00000000000000a1", "/in/Rechnung f\xFCr M\xFCller.pdf", pdf},
          std::tuple{"00000000000000a2", "/in/rechnung.xml", QByteArray("<?xml?>")}}) {
        QVERIFY(writeAttachmentCopy(f.dir.path(), copy, bytes, nullptr));
        extras.attachments << attachmentValue(copy, path);
    }
    setExtras(mail, extras);

    // The viewer lists name, size and type below the header and pushes the tabs down; "Anhang speichern…"
    // asks for the chosen one. A mail without any keeps the design's layout.
    Form2 viewer;
    viewer.showMail(mail, id, attachmentsOf(f.dir.path(), mail));
    auto* list = child<QTreeWidget>(viewer, "Attachments");
    const QTreeWidgetItem* first = list->topLevelItem(0);
    QVERIFY(list->topLevelItemCount() == 2 && first->text(0) == QStringLiteral("Rechnung für Müller.pdf") &&
            first->text(1) == QStringLiteral("2,93 KB") && first->text(2) == QStringLiteral("PDF"));
    auto* strip = child<QFrame>(viewer, "TabStrip1");
    QVERIFY(strip->y() >= list->geometry().bottom());
    QSignalSpy save(&viewer, &Form2::attachmentSaveRequested);
    list->setCurrentItem(list->topLevelItem(1));
    child<QPushButton>(viewer, "SaveAttachment")->click();
    QCOMPARE(save.value(0), (QVariantList{id, 1}));
    viewer.showMail(mail, id);
    QVERIFY(list->isHidden() && strip->y() == 89);

    // Saved: the copy's bytes under the attachment's own name; a write that fails says why.
    const QString out = f.dir.filePath(QStringLiteral("aus")); // not made yet
    const SaveFilePicker picker = [&out](QWidget*, const QString& path) {
        return out + QLatin1Char('/') + QFileInfo(path).fileName();
    };
    QVERIFY(saveAttachmentAsFile(nullptr, *f.store, id, 0, f.prompts, picker).isEmpty());
    QVERIFY(f.prompts.texts().value(0).startsWith(
        QStringLiteral("Der Anhang „Rechnung für Müller.pdf“ der E-Mail (ID %1) wurde nicht gespeichert.\n").arg(id)));
    QVERIFY(QDir().mkpath(out));
    const QString saved = saveAttachmentAsFile(nullptr, *f.store, id, 0, f.prompts, picker);
    QFile file(saved);
    QVERIFY(saved.endsWith(QStringLiteral("/Rechnung für Müller.pdf")) && file.open(QIODevice::ReadOnly) &&
            file.readAll() == pdf);

    // The list marks the mail. The editor lists the names; a dropped one leaves the record at "OK", which
    // makes it another mail.
    FolderListModel model(f.store->tables(), FailedFolder);
    model.rebuild();
    QVERIFY(!model.index(0, FolderListModel::SubjectColumn).data(Qt::DecorationRole).isNull());
    StoreEditTarget target(*f.store);
    frmMailEdit editor(target);
    QVERIFY(editor.openMail(id));
    auto* names = child<QListWidget>(editor, "Attachments");
    QVERIFY(names->count() == 2 && names->item(0)->text() == QStringLiteral("Rechnung für Müller.pdf"));
    child<QPushButton>(editor, "DropAttachment")->click();
    child<QPushButton>(editor, "Command1")->click();
    const QList<AttachmentInfo> kept = attachmentsOf(f.dir.path(), f.store->tables().mail(id));
    QVERIFY(kept.size() == 1 && kept.at(0).name == "rechnung.xml" && messageIdOf(mail).isEmpty());
}

void TestMailWindows::alertPlaceShowSetClose()
{
    // A pop-up of 260 x 96 in the desktop's area: at the icon where the desktop tells it, else bottom right.
    const std::tuple<QRect, QRect, QPoint> places[] = {
        {QRect(0, 0, 1920, 1040), QRect(), QPoint(1660, 944)},
        {QRect(-1280, 0, 1280, 1024), QRect(), QPoint(-260, 928)},               // screen left of the origin
        {QRect(10, 20, 200, 50), QRect(), QPoint(10, 20)},                       // smaller than the pop-up: inside
        {QRect(0, 0, 1920, 1040), QRect(1700, 1048, 24, 24), QPoint(1464, 944)}, // above the icon, bottom panel
        {QRect(0, 28, 1920, 1052), QRect(1700, 2, 24, 24), QPoint(1464, 28)},    // below the icon, top panel
    };
    for (const auto& [area, icon, topLeft] : places)
        QCOMPARE(alertPosition(QSize(260, 96), area, icon), topLeft);

    SysTrayAlert alerts;
    alerts.SetAlertText("nichts offen"); // no pop-up: nothing to do
    QVERIFY(!alerts.popup());
    alerts.ShowAlert("E-Mail wird bearbeitet...  (ID 5)\r\nBetreff: Gr\xFC\xDF\x65\r\nAn: a@example.com");
    frmSysTrayAlert* popup = alerts.popup();
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    QCOMPARE(popup->pos(), alertPosition(popup->size(), QGuiApplication::primaryScreen()->availableGeometry()));
    auto* msg = child<QLabel>(*popup, "Msg");
    QCOMPARE(msg->text(), QStringLiteral("E-Mail wird bearbeitet...  (ID 5)\nBetreff: Grüße\nAn: a@example.com"));
    alerts.SetAlertText("Gesendet \x80");
    QCOMPARE(msg->text(), QStringLiteral("Gesendet €  (ID 5)\nBetreff: Grüße\nAn: a@example.com")); // still which mail
    alerts.SetAlertText("Betreff: " + QByteArray(300, 'x') + "\r\nAn: a@example.com");              // cut, never "An:"
    QVERIFY(msg->text().endsWith(QStringLiteral("x\u2026\nAn: a@example.com")));

    // The close button: its pressed picture while held; released over it, it closes the pop-up.
    auto* button = child<QLabel>(*popup, "Label2");
    const QPoint centre = button->rect().center();
    QTest::mousePress(button, Qt::LeftButton, {}, centre);
    QVERIFY(popup->closePressedShown());
    QTest::mouseRelease(button, Qt::LeftButton, {}, centre);
    QVERIFY(!alerts.popup());
    alerts.CloseAlert(); // the dispatcher's own close after its pause finds nothing left
    alerts.ShowAlert("E-Mail wird bearbeitet...");
    QVERIFY(alerts.popup() && !alerts.popup()->closePressedShown());
}

void TestMailWindows::trayIconAndMenu()
{
    QWidget window;
    window.show();
    TrayController tray(&window, [] { return true; });
    // A start while the window is shown makes no icon, but the icon made later shows that state.
    tray.UpdateTrayTip(true);
    QVERIFY(!tray.trayIcon());
    tray.MinimizeToTray();
    QSystemTrayIcon* icon = tray.trayIcon();
    QVERIFY(tray.TrayMode() == 2 && !window.isVisible() &&
            icon->toolTip() == QStringLiteral("Kadmel Mail System v3.0\r\nStatus: Aktif"));

    // The right button opens the menu, whose entries follow the state.
    Q_EMIT icon->activated(QSystemTrayIcon::Context);
    QTRY_VERIFY_WITH_TIMEOUT(tray.trayMenu()->isVisible(), 15000);
    QSignalSpy start(&tray, &TrayController::startRequested);
    QSignalSpy stop(&tray, &TrayController::stopRequested);
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Start")->trigger(); // disabled while active
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Stop")->trigger();
    tray.UpdateTrayTip(false);
    QCOMPARE(icon->toolTip(), QStringLiteral("Kadmel Mail System v3.0\r\nStatus: Inaktif"));
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Stop")->trigger();
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Start")->trigger();
    QVERIFY(start.count() == 1 && stop.count() == 1);

    // "Öffnen", and a left click on the icon: window back, icon gone.
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Show")->trigger();
    QVERIFY(!tray.trayIcon() && window.isVisible() && !window.isMinimized());
    tray.MinimizeToTray();
    Q_EMIT tray.trayIcon()->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY_WITH_TIMEOUT(tray.TrayMode() == 1 && !tray.trayIcon() && window.isVisible(), 15000);
}

void TestMailWindows::aboutBox()
{
    QList<QUrl> opened;
    Form3 box([&opened](const QUrl& url) { return opened << url, true; }, 1500);
    QSignalSpy finished(&box, &QDialog::finished);
    QElapsedTimer clock;
    clock.start();
    box.open();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    // Each red label shows its address only while the mouse is over it (and not over the other).
    auto* web = child<QLabel>(box, "Label1");
    auto* mail = child<QLabel>(box, "Label2");
    const QPoint overWeb(web->width() / 2, 3), overMail(mail->width() / 2, mail->height() - 3); // where they overlap
    QTest::mouseMove(web, overWeb);
    QTRY_VERIFY_WITH_TIMEOUT(web->text() == QStringLiteral("https://www.example.com/kadmel") && mail->text().isEmpty(),
                             1000);
    QTest::mouseMove(mail, overMail);
    QTRY_VERIFY_WITH_TIMEOUT(mail->text() == QStringLiteral("support@example.com") && web->text().isEmpty(), 1000);
    QTest::mousePress(web, Qt::LeftButton, {}, overWeb);
    QTest::mousePress(mail, Qt::LeftButton, {}, overMail);
    QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("https://www.example.com/kadmel")),
                                  QUrl(QStringLiteral("mailto:support@example.com?subject=Kadmel%20Mail%20System"))}));
    // Resting on a link does not keep it open.
    QVERIFY(finished.wait(5000));
    QVERIFY(clock.elapsed() >= 1500 && !box.isVisible()); // both on the monotonic clock, the box's counted from later
}

QTEST_MAIN(TestMailWindows)
#include "tst_mailwindows.moc"
