#include "ui/mail/TrayAlert.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

using namespace kadmel;

class tst_TrayAlert : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void placement_data();
    void placement();
    void showSetClose();
    void closeButton();
};

void tst_TrayAlert::placement_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("panel at the bottom") << QRect(0, 0, 1920, 1040) << QPoint(1660, 944);
    QTest::newRow("panel at the top") << QRect(0, 32, 1920, 1048) << QPoint(1660, 984);
    QTest::newRow("panel on the right") << QRect(0, 0, 1856, 1080) << QPoint(1596, 984);
    QTest::newRow("screen left of the origin") << QRect(-1280, 0, 1280, 1024) << QPoint(-260, 928);
    QTest::newRow("area smaller than the pop-up keeps it inside") << QRect(10, 20, 200, 50) << QPoint(10, 20);
}

void tst_TrayAlert::placement()
{
    QFETCH(QRect, area);
    QFETCH(QPoint, topLeft);
    QCOMPARE(alertPosition(QSize(260, 96), area), topLeft);
}

void tst_TrayAlert::showSetClose()
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

void tst_TrayAlert::closeButton()
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

QTEST_MAIN(tst_TrayAlert)
#include "tst_trayalert.moc"
