#include "ui/mail/AboutBox.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

using namespace kadmel;

class tst_About : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void closesByItself();
    void hoverTextsAndLinks();
};

void tst_About::closesByItself()
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

void tst_About::hoverTextsAndLinks()
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

QTEST_MAIN(tst_About)
#include "tst_about.moc"
