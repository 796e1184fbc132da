#include "ui/mail/AboutBox.h"
#include "ui/mail/TrayAlert.h"
#include "ui/mail/TrayController.h"

#include <QAction>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <QWidget>

using namespace kadmel;

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
    void showSetClose();
    void closeButton();
    void tooltipFollowsState();
    void menuOpensOnRightButtonOnly();
    void closesByItself();
    void hoverTextsAndLinks();
};

void TestTrayWindows::placement_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("panel at the bottom") << QRect(0, 0, 1920, 1040) << QPoint(1660, 944);
    QTest::newRow("panel at the top") << QRect(0, 32, 1920, 1048) << QPoint(1660, 984);
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

void TestTrayWindows::showSetClose()
{
    SysTrayAlert alerts;
    QVERIFY(!alerts.popup());
    alerts.SetAlertText("nichts offen"); // no pop-up: nothing to do
    QVERIFY(!alerts.popup());

    alerts.ShowAlert("E-Mail wird bearbeitet...  (ID 5)\r\nBetreff: Gr\xFC\xDF"
                     "e\r\nAn: a@example.com");
    frmSysTrayAlert* popup = alerts.popup();
    QVERIFY(popup);
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    QCOMPARE(popup->pos(), alertPosition(popup->size(), QGuiApplication::primaryScreen()->availableGeometry()));
    auto* msg = popup->findChild<QLabel*>(QStringLiteral("Msg"));
    QCOMPARE(msg->text(),
             QStringLiteral("E-Mail wird bearbeitet...  (ID 5)\nBetreff: Gr\u00FC\u00DFe\nAn: a@example.com"));

    alerts.SetAlertText("Das E-Mail wurde erfolgreich gesendet.");
    QCOMPARE(msg->text(), QStringLiteral("Das E-Mail wurde erfolgreich gesendet."));
    alerts.CloseAlert();
    QVERIFY(!alerts.popup());
    alerts.CloseAlert(); // twice is harmless
}

void TestTrayWindows::closeButton()
{
    SysTrayAlert alerts;
    alerts.ShowAlert("E-Mail wird bearbeitet...");
    frmSysTrayAlert* popup = alerts.popup();
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    auto* button = popup->findChild<QLabel*>(QStringLiteral("Label2"));
    const QPoint centre = button->rect().center();

    QTest::mousePress(button, Qt::LeftButton, {}, centre);
    QVERIFY(popup->closePressedShown());
    QTest::mouseMove(button, centre + QPoint(40, 40)); // dragged off: the normal picture again
    QTRY_VERIFY_WITH_TIMEOUT(!popup->closePressedShown(), 2000);
    QTest::mouseMove(button, centre);
    QTRY_VERIFY_WITH_TIMEOUT(popup->closePressedShown(), 2000);
    QTest::mouseRelease(button, Qt::LeftButton, {}, centre);
    QVERIFY(!alerts.popup());

    // The dispatcher's own close after its pause finds nothing left; the next mail shows a fresh one.
    alerts.SetAlertText("Fehlgeschlagen.");
    alerts.CloseAlert();
    alerts.ShowAlert("E-Mail wird bearbeitet...");
    QVERIFY(alerts.popup());
    QVERIFY(!alerts.popup()->closePressedShown());
}

void TestTrayWindows::tooltipFollowsState()
{
    QCOMPARE(trayTipText(true), QStringLiteral("Kadmel Mail System v3.0\r\nStatus:Aktif"));
    QCOMPARE(trayTipText(false), QStringLiteral("Kadmel Mail System v3.0\r\nStatus:Inaktif"));

    QWidget window;
    window.show();
    TrayController tray(&window, [] { return true; });
    QCOMPARE(tray.TrayMode(), qint16(1));

    // A start while the window is shown makes no icon, but the icon made later shows that state.
    tray.UpdateTrayTip(true);
    QVERIFY(!tray.trayIcon());
    tray.MinimizeToTray();
    QCOMPARE(tray.TrayMode(), qint16(2));
    QVERIFY(!window.isVisible());
    QVERIFY(tray.trayIcon());
    QCOMPARE(tray.trayIcon()->toolTip(), trayTipText(true));

    tray.UpdateTrayTip(false);
    QCOMPARE(tray.trayIcon()->toolTip(), trayTipText(false));

    // "Öffnen": window back, icon gone.
    action(tray, "Mnu_Tray_Show")->trigger();
    QCOMPARE(tray.TrayMode(), qint16(1));
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
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

void TestTrayWindows::closesByItself()
{
    QList<QUrl> opened;
    Form3 box(
        [&opened](const QUrl& url) {
            opened << url;
            return true;
        },
        300);
    QCOMPARE(box.windowTitle(), QStringLiteral("About"));
    QSignalSpy finished(&box, &QDialog::finished);
    QElapsedTimer clock;
    clock.start();
    box.open();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    // Resting on a link neither keeps it open nor opens the link.
    QTest::mouseMove(box.findChild<QLabel*>(QStringLiteral("Label1")));
    QVERIFY(finished.wait(5000));
    QVERIFY(clock.elapsed() >= 290);
    QVERIFY(!box.isVisible());
    QVERIFY(opened.isEmpty());
}

void TestTrayWindows::hoverTextsAndLinks()
{
    QList<QUrl> opened;
    Form3 box(
        [&opened](const QUrl& url) {
            opened << url;
            return true;
        },
        60000);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::mouseMove(&box, QPoint(10, 10));
    auto* web = box.findChild<QLabel*>(QStringLiteral("Label1"));
    auto* mail = box.findChild<QLabel*>(QStringLiteral("Label2"));
    QTRY_VERIFY_WITH_TIMEOUT(web->text().isEmpty() && mail->text().isEmpty(), 2000);

    QTest::mouseMove(web, QPoint(web->width() / 2, 3)); // above the part the mail link covers
    QTRY_COMPARE_WITH_TIMEOUT(web->text(), QStringLiteral("https://www.example.com/kadmel"), 2000);
    QVERIFY(mail->text().isEmpty());

    QTest::mouseMove(mail, QPoint(mail->width() / 2, mail->height() - 3));
    QTRY_COMPARE_WITH_TIMEOUT(mail->text(), QStringLiteral("support@example.com"), 2000);
    QVERIFY(web->text().isEmpty());

    QTest::mouseMove(&box, QPoint(10, 10));
    QTRY_VERIFY_WITH_TIMEOUT(web->text().isEmpty() && mail->text().isEmpty(), 2000);

    QTest::mousePress(web, Qt::LeftButton, {}, QPoint(web->width() / 2, 3));
    QTest::mousePress(mail, Qt::LeftButton, {}, QPoint(mail->width() / 2, mail->height() - 3));
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened.at(0), QUrl(QStringLiteral("https://www.example.com/kadmel")));
    QCOMPARE(opened.at(1).scheme(), QStringLiteral("mailto"));
    QCOMPARE(opened.at(1).path(), QStringLiteral("support@example.com"));
    QCOMPARE(QUrlQuery(opened.at(1)).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
             QStringLiteral("Kadmel Mail System"));
}

QTEST_MAIN(TestTrayWindows)
#include "tst_traywindows.moc"
