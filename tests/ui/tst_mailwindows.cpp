#include "UiTestSupport.h"

#include "ui/mail/AboutBox.h"
#include "ui/mail/MailViewer.h"
#include "ui/mail/TrayAlert.h"
#include "ui/mail/TrayController.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabBar>
#include <QTextBlock>
#include <QTextEdit>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// The conversation as shown: each coloured run as "g" (grey) or "w" (white) and its text.
QString shownRuns(const QTextEdit& rtb)
{
    QStringList runs;
    for (QTextBlock block = rtb.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QColor colour = it.fragment().charFormat().foreground().color();
            const char kind = colour == QColor(130, 130, 130) ? 'g' : colour == QColor(255, 255, 255) ? 'w' : '?';
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
    void conversationOrder_data();
    void conversationOrder();
    void placement_data();
    void placement();
    void alertShowSetClose();
    void trayIconAndMenu();
    void aboutBox();
};

void TestMailWindows::viewer()
{
    MailRecord mail;
    mail.From = "absender@example.com";
    mail.To = "empf\xE4nger@example.com";
    mail.Subject = "Preis 5 \x80";
    mail.Date = "06.12.2026 18:15:11";
    mail.Size = "532 Bytes";
    mail.Status = "MSGSENT";
    mail.Body = "Zeile 1\r\nZeile 2";
    Form2 viewer;
    viewer.showMail(mail, 7);
    QCOMPARE(child<QLabel>(viewer, "Label1")->text(),
             QStringLiteral("Absender: absender@example.com\nAn: empf\u00E4nger@example.com\nBetreff: Preis 5 \u20AC\n"
                            "Datum/Zeit: 06.12.2026 18:15:11\nGr\u00F6\u00DFe: 532 Bytes\n"
                            "Status: Das E-Mail wurde erfolgreich gesendet."));
    auto* body = child<QPlainTextEdit>(viewer, "Text1");
    QCOMPARE(body->toPlainText(), QStringLiteral("Zeile 1\nZeile 2"));

    // A refused mail's status says why, from the last reply of its conversation, on one line; a hostile
    // reply of the reader's full size is cut short.
    mail.Status = "ERRMessage3";
    mail.Log = logOf({"220 hi", "550-5.1.1 Mailbox\r\n550 5.1.1 unavailable\x1b"}, {"MAIL FROM: <a@b>"});
    viewer.showMail(mail, 8);
    QVERIFY(child<QLabel>(viewer, "Label1")
                ->text()
                .endsWith(QStringLiteral("\nStatus: Zeitüberschreitungsfehler oder Fehlermeldung vom Mailserver. "
                                         "(550-5.1.1 Mailbox 550 5.1.1 unavailable)")));
    mail.Log = logOf({"550 " + QByteArray(64 * 1024, 'x')}, {});
    viewer.showMail(mail, 8);
    const QString header = child<QLabel>(viewer, "Label1")->text();
    QVERIFY(header.size() < 500 && header.endsWith(QStringLiteral("x\u2026)")));
    QCOMPARE(child<QLabel>(viewer, "Label1")->toolTip(), header);

    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    auto* tabs = child<QTabBar>(viewer, "TabBar");
    auto* rtb = child<QTextEdit>(viewer, "RTB");
    QVERIFY(body->isVisible() && !rtb->isVisible());
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    QVERIFY(!body->isVisible() && rtb->isVisible());

    // The header widens with the window. Too small for the margins: the views keep their last place
    // instead of taking a negative size.
    viewer.resize(900, 600);
    QCOMPARE(child<QLabel>(viewer, "Label1")->width(), 900);
    const QRect designed = rtb->geometry();
    viewer.resize(30, 60);
    QCOMPARE(rtb->geometry(), designed);
}

void TestMailWindows::conversationOrder_data()
{
    QTest::addColumn<SmtpLog>("log");
    QTest::addColumn<QString>("shown");
    QTest::newRow("received one more than sent: the last reply closes")
        << logOf({"R0", "R1", "R2"}, {"S0", "S1"}) << QStringLiteral("gR0 wS0 gR1 wS1 gR2");
    QTest::newRow("received beyond the sent array is not shown")
        << logOf({"R0", "R1", "R2", "R3"}, {"S0", "S1"}) << QStringLiteral("gR0 wS0 gR1 wS1 gR2");
    QTest::newRow("fewer received than sent: missing replies are empty")
        << logOf({"R0"}, {"S0", "S1", "S2"}) << QStringLiteral("gR0 wS0 wS1 wS2");
    QTest::newRow("never dimensioned log") << SmtpLog() << QString();
}

void TestMailWindows::conversationOrder()
{
    QFETCH(SmtpLog, log);
    QFETCH(QString, shown);
    Form2 viewer;
    MailRecord mail;
    mail.Log = logOf({"old"}, {"old"});
    viewer.showMail(mail, 1); // a mail shown before leaves nothing behind
    mail.Log = log;
    viewer.showMail(mail, 2);
    QCOMPARE(shownRuns(*child<QTextEdit>(viewer, "RTB")), shown);
}

void TestMailWindows::placement_data()
{
    // A pop-up of 260 x 96; the tray icon's area where the desktop tells it.
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QRect>("icon");
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("icon unknown, panel at the bottom") << QRect(0, 0, 1920, 1040) << QRect() << QPoint(1660, 944);
    QTest::newRow("screen left of the origin") << QRect(-1280, 0, 1280, 1024) << QRect() << QPoint(-260, 928);
    QTest::newRow("area smaller than the pop-up keeps it inside")
        << QRect(10, 20, 200, 50) << QRect() << QPoint(10, 20);
    QTest::newRow("above the icon in a bottom panel")
        << QRect(0, 0, 1920, 1040) << QRect(1700, 1048, 24, 24) << QPoint(1464, 944);
    QTest::newRow("below the icon in a top panel")
        << QRect(0, 28, 1920, 1052) << QRect(1700, 2, 24, 24) << QPoint(1464, 28);
}

void TestMailWindows::placement()
{
    QFETCH(QRect, area);
    QFETCH(QRect, icon);
    QFETCH(QPoint, topLeft);
    QCOMPARE(alertPosition(QSize(260, 96), area, icon), topLeft);
}

void TestMailWindows::alertShowSetClose()
{
    SysTrayAlert alerts;
    alerts.SetAlertText("nichts offen"); // no pop-up: nothing to do
    QVERIFY(!alerts.popup());
    alerts.ShowAlert("E-Mail wird bearbeitet...  (ID 5)\r\nBetreff: Gr\xFC\xDF\x65\r\nAn: a@example.com");
    frmSysTrayAlert* popup = alerts.popup();
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    QCOMPARE(popup->pos(), alertPosition(popup->size(), QGuiApplication::primaryScreen()->availableGeometry()));
    auto* msg = child<QLabel>(*popup, "Msg");
    QCOMPARE(msg->text(),
             QStringLiteral("E-Mail wird bearbeitet...  (ID 5)\nBetreff: Gr\u00FC\u00DFe\nAn: a@example.com"));
    alerts.SetAlertText("Das E-Mail wurde erfolgreich gesendet.");
    QCOMPARE(msg->text(), QStringLiteral("Das E-Mail wurde erfolgreich gesendet."));

    // The close button: its pressed picture while held; released over it, it closes the pop-up.
    auto* button = child<QLabel>(*popup, "Label2");
    const QPoint centre = button->rect().center();
    QTest::mousePress(button, Qt::LeftButton, {}, centre);
    QVERIFY(popup->closePressedShown());
    QTest::mouseRelease(button, Qt::LeftButton, {}, centre);
    QVERIFY(!alerts.popup());

    // The dispatcher's own close after its pause finds nothing left; the next mail shows a fresh one.
    alerts.CloseAlert();
    alerts.ShowAlert("E-Mail wird bearbeitet...");
    QVERIFY(alerts.popup() && !alerts.popup()->closePressedShown());
    alerts.CloseAlert();
    QVERIFY(!alerts.popup());
}

void TestMailWindows::trayIconAndMenu()
{
    QCOMPARE(trayTipText(true), QStringLiteral("Kadmel Mail System v3.0\r\nStatus:Aktif"));
    QCOMPARE(trayTipText(false), QStringLiteral("Kadmel Mail System v3.0\r\nStatus:Inaktif"));
    QWidget window;
    window.show();
    TrayController tray(&window, [] { return true; });
    // A start while the window is shown makes no icon, but the icon made later shows that state.
    tray.UpdateTrayTip(true);
    QVERIFY(!tray.trayIcon());
    tray.MinimizeToTray();
    QVERIFY(tray.TrayMode() == 2 && !window.isVisible());
    QCOMPARE(tray.trayIcon()->toolTip(), trayTipText(true));

    // Only the right button opens the menu; its entries follow the state.
    QSystemTrayIcon* icon = tray.trayIcon();
    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick})
        Q_EMIT icon->activated(reason);
    QVERIFY(!tray.trayMenu()->isVisible() && !window.isVisible());
    Q_EMIT icon->activated(QSystemTrayIcon::Context);
    QTRY_VERIFY_WITH_TIMEOUT(tray.trayMenu()->isVisible(), 2000);
    QSignalSpy start(&tray, &TrayController::startRequested);
    QSignalSpy stop(&tray, &TrayController::stopRequested);
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Start")->trigger(); // disabled while active
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Stop")->trigger();
    tray.UpdateTrayTip(false);
    QCOMPARE(icon->toolTip(), trayTipText(false));
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Stop")->trigger();
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Start")->trigger();
    QVERIFY(start.count() == 1 && stop.count() == 1);

    // "Öffnen": window back, icon gone.
    child<QAction>(*tray.trayMenu(), "Mnu_Tray_Show")->trigger();
    QVERIFY(tray.TrayMode() == 1 && !tray.trayIcon());
    QVERIFY(window.isVisible() && !window.isMinimized());
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
    QTest::mouseMove(&box, QPoint(10, 10));
    auto* web = child<QLabel>(box, "Label1");
    auto* mail = child<QLabel>(box, "Label2");
    QTRY_VERIFY_WITH_TIMEOUT(web->text().isEmpty() && mail->text().isEmpty(), 1000);
    // Each red label shows its address only while the mouse is over it.
    QTest::mouseMove(web, QPoint(web->width() / 2, 3)); // above the part the mail link covers
    QTRY_COMPARE_WITH_TIMEOUT(web->text(), QStringLiteral("https://www.example.com/kadmel"), 1000);
    QVERIFY(mail->text().isEmpty());
    QTest::mouseMove(mail, QPoint(mail->width() / 2, mail->height() - 3));
    QTRY_COMPARE_WITH_TIMEOUT(mail->text(), QStringLiteral("support@example.com"), 1000);
    QVERIFY(web->text().isEmpty());

    QTest::mousePress(web, Qt::LeftButton, {}, QPoint(web->width() / 2, 3));
    QTest::mousePress(mail, Qt::LeftButton, {}, QPoint(mail->width() / 2, mail->height() - 3));
    QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("https://www.example.com/kadmel")),
                                  QUrl(QStringLiteral("mailto:support@example.com?subject=Kadmel%20Mail%20System"))}));
    // Resting on a link does not keep it open.
    QVERIFY(finished.wait(5000));
    QVERIFY(clock.elapsed() >= 1490);
    QVERIFY(!box.isVisible());
}

QTEST_MAIN(TestMailWindows)
#include "tst_mailwindows.moc"
