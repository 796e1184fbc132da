#include "UiTestSupport.h"
#include "ui/mail/MailViewer.h"

#include <QPlainTextEdit>
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

class tst_MailViewer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void headerAndBody();
    void conversationOrder_data();
    void conversationOrder();
    void tabsAndResize();
};

void tst_MailViewer::headerAndBody()
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
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Mail (ID=7)"));
    QCOMPARE(viewer.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Absender: absender@example.com\nAn: empf\u00E4nger@example.com\nBetreff: Preis 5 \u20AC\n"
                            "Datum/Zeit: 06.12.2026 18:15:11\nGr\u00F6\u00DFe: 532 Bytes\n"
                            "Status: Das E-Mail wurde erfolgreich gesendet."));
    QCOMPARE(viewer.findChild<QPlainTextEdit*>(QStringLiteral("Text1"))->toPlainText(),
             QStringLiteral("Zeile 1\nZeile 2"));
}

void tst_MailViewer::conversationOrder_data()
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

void tst_MailViewer::conversationOrder()
{
    QFETCH(SmtpLog, log);
    QFETCH(QString, shown);
    Form2 viewer;
    MailRecord mail;
    mail.Log = logOf({"old"}, {"old"});
    viewer.showMail(mail, 1); // a mail shown before leaves nothing behind
    mail.Log = log;
    viewer.showMail(mail, 2);
    QCOMPARE(shownRuns(*viewer.findChild<QTextEdit*>(QStringLiteral("RTB"))), shown);
}

void tst_MailViewer::tabsAndResize()
{
    Form2 viewer;
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    auto* tabs = viewer.findChild<QTabBar*>(QStringLiteral("TabBar"));
    auto* body = viewer.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    auto* rtb = viewer.findChild<QTextEdit*>(QStringLiteral("RTB"));
    QVERIFY(body->isVisible() && !rtb->isVisible());

    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    QVERIFY(!body->isVisible() && rtb->isVisible());
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    QVERIFY(body->isVisible() && !rtb->isVisible());

    // The design size: tab strip below the labels, the views inside it above the tab row.
    viewer.resize(557, 566);
    QCOMPARE(body->geometry(), QRect(4, 93, 549, 448));
    QCOMPARE(rtb->geometry(), body->geometry());
    QVERIFY(tabs->mapTo(&viewer, QPoint(0, 0)).y() >= body->geometry().bottom());

    // Too small for the margins: the views keep their last place; growing lays them out again.
    viewer.resize(30, 60);
    QCOMPARE(body->geometry(), QRect(4, 93, 549, 448));
    viewer.resize(700, 400);
    QCOMPARE(body->geometry(), QRect(4, 93, 692, 282));
}

QTEST_MAIN(tst_MailViewer)
#include "tst_mailviewer.moc"
