#include "ui/mail/TrayController.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

using namespace kadmel;

namespace {

QAction* action(const TrayController& tray, const char* name)
{
    return tray.trayMenu()->findChild<QAction*>(QLatin1String(name));
}

} // namespace

class tst_TrayController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tooltipFollowsState();
    void menuOpensOnRightButtonOnly();
    void withoutTrayMinimisesToTaskBar();
};

void tst_TrayController::tooltipFollowsState()
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

void tst_TrayController::menuOpensOnRightButtonOnly()
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

void tst_TrayController::withoutTrayMinimisesToTaskBar()
{
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TrayController tray(&window, [] { return false; });
    tray.MinimizeToTray();
    QVERIFY(!tray.trayIcon());
    QCOMPARE(tray.TrayMode(), qint16(1)); // not in the tray, so no alerts
    QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), 2000);
    QVERIFY(window.isVisible());
}

QTEST_MAIN(tst_TrayController)
#include "tst_traycontroller.moc"
