#include "UiTestSupport.h"
#include "ui/mail/AboutBox.h"
#include "ui/mail/TrayAlert.h"
#include "ui/mail/TrayController.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QUrlQuery>
#include <QWidget>

using namespace kadmel;
using namespace kadmel::test;

namespace {

QAction* action(const TrayController& tray, const char* name)
{
    return tray.trayMenu()->findChild<QAction*>(QLatin1String(name));
}

} // namespace

class TestTrayWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void placement_data();
    void placement();
    void alertShowSetClose();
    void tooltipFollowsState();
    void menuOpensOnRightButtonOnly();
    void aboutBox();
};

void TestTrayWindows::placement_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("panel at the bottom") << QRect(0, 0, 1920, 1040) << QPoint(1660, 944);
    QTest::newRow("panel on the right") << QRect(0, 0, 1856, 1080) << QPoint(1596, 984);
    QTest::newRow("screen left of the origin") << QRect(-1280, 0, 1280, 1024) << QPoint(-260, 928);
    QTest::newRow("area smaller than the pop-up keeps it inside") << QRect(10, 20, 200, 50) << QPoint(10, 20);
}

void TestTrayWindows::placement()
{
    QFETCH(QRect, area);
    QFETCH(QPoint, topLeft);
    QCOMPARE(alertPosition(QSize(260, 96), area), topLeft);
}

void TestTrayWindows::alertShowSetClose()
{
    SysTrayAlert alerts;
    alerts.SetAlertText("nichts offen"); // no pop-up: nothing to do
    QVERIFY(!alerts.popup());
    alerts.ShowAlert("E-Mail wird bearbeitet...  (ID 5)\r\nBetreff: Gr\xFC\xDF"
                     "e\r\nAn: a@example.com");
    frmSysTrayAlert* popup = alerts.popup();
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    QCOMPARE(popup->pos(), alertPosition(popup->size(), QGuiApplication::primaryScreen()->availableGeometry()));
    auto* msg = popup->findChild<QLabel*>(QStringLiteral("Msg"));
    QCOMPARE(msg->text(),
             QStringLiteral("E-Mail wird bearbeitet...  (ID 5)\nBetreff: Gr\u00FC\u00DFe\nAn: a@example.com"));
    alerts.SetAlertText("Das E-Mail wurde erfolgreich gesendet.");
    QCOMPARE(msg->text(), QStringLiteral("Das E-Mail wurde erfolgreich gesendet."));

    // The close button: pressed picture while held over it, normal once dragged off; release over it closes.
    auto* button = popup->findChild<QLabel*>(QStringLiteral("Label2"));
    const QPoint centre = button->rect().center();
    QTest::mousePress(button, Qt::LeftButton, {}, centre);
    QVERIFY(popup->closePressedShown());
    QTest::mouseMove(button, centre + QPoint(40, 40));
    QTRY_VERIFY_WITH_TIMEOUT(!popup->closePressedShown(), 2000);
    QTest::mouseMove(button, centre);
    QTRY_VERIFY_WITH_TIMEOUT(popup->closePressedShown(), 2000);
    QTest::mouseRelease(button, Qt::LeftButton, {}, centre);
    QVERIFY(!alerts.popup());

    // The dispatcher's own close after its pause finds nothing left; the next mail shows a fresh one.
    alerts.CloseAlert();
    alerts.ShowAlert("E-Mail wird bearbeitet...");
    QVERIFY(alerts.popup() && !alerts.popup()->closePressedShown());
    alerts.CloseAlert();
    QVERIFY(!alerts.popup());
}

void TestTrayWindows::tooltipFollowsState()
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
    QCOMPARE(tray.TrayMode(), qint16(2));
    QVERIFY(!window.isVisible());
    QCOMPARE(tray.trayIcon()->toolTip(), trayTipText(true));

    tray.UpdateTrayTip(false);
    QCOMPARE(tray.trayIcon()->toolTip(), trayTipText(false));

    // "Öffnen": window back, icon gone.
    action(tray, "Mnu_Tray_Show")->trigger();
    QCOMPARE(tray.TrayMode(), qint16(1));
    QVERIFY(window.isVisible() && !window.isMinimized());
    QVERIFY(!tray.trayIcon());
}

void TestTrayWindows::menuOpensOnRightButtonOnly()
{
    QWidget window;
    window.show();
    TrayController tray(&window, [] { return true; });
    tray.MinimizeToTray();
    QSystemTrayIcon* icon = tray.trayIcon();
    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick})
        Q_EMIT icon->activated(reason);
    QVERIFY(!tray.trayMenu()->isVisible());
    QVERIFY(!window.isVisible());
    Q_EMIT icon->activated(QSystemTrayIcon::Context);
    QTRY_VERIFY_WITH_TIMEOUT(tray.trayMenu()->isVisible(), 2000);

    QSignalSpy start(&tray, &TrayController::startRequested);
    QSignalSpy stop(&tray, &TrayController::stopRequested);
    QSignalSpy exit(&tray, &TrayController::exitRequested);
    action(tray, "Mnu_Tray_Stop")->trigger(); // disabled while inactive
    action(tray, "Mnu_Tray_Start")->trigger();
    tray.UpdateTrayTip(true);
    action(tray, "Mnu_Tray_Start")->trigger();
    action(tray, "Mnu_Tray_Stop")->trigger();
    action(tray, "Mnu_Tray_Exit")->trigger();
    QCOMPARE(start.count(), 1);
    QCOMPARE(stop.count(), 1);
    QCOMPARE(exit.count(), 1);
    QCOMPARE(tray.TrayMode(), qint16(2)); // the exit itself is the window's business
}

void TestTrayWindows::aboutBox()
{
    QList<QUrl> opened;
    Form3 box(
        [&opened](const QUrl& url) {
            opened << url;
            return true;
        },
        1500);
    QCOMPARE(box.windowTitle(), QStringLiteral("About"));
    QSignalSpy finished(&box, &QDialog::finished);
    QElapsedTimer clock;
    clock.start();
    box.open();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    QTest::mouseMove(&box, QPoint(10, 10));
    auto* web = box.findChild<QLabel*>(QStringLiteral("Label1"));
    auto* mail = box.findChild<QLabel*>(QStringLiteral("Label2"));
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
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened.at(0), QUrl(QStringLiteral("https://www.example.com/kadmel")));
    QCOMPARE(opened.at(1).scheme() + opened.at(1).path(), QStringLiteral("mailtosupport@example.com"));
    QCOMPARE(QUrlQuery(opened.at(1)).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
             QStringLiteral("Kadmel Mail System"));
    // Resting on a link does not keep it open.
    QVERIFY(finished.wait(5000));
    QVERIFY(clock.elapsed() >= 1490);
    QVERIFY(!box.isVisible());
}

QTEST_MAIN(TestTrayWindows)
#include "tst_traywindows.moc"
