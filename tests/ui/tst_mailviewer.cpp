#include "store/Ansi.h"
#include "ui/mail/MailViewer.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

using namespace kadmel;

namespace {

// The conversation as shown: each coloured run with "R" (grey) or "S" (white) before its text.
QStringList shownRuns(const QTextEdit& rtb)
{
    QStringList runs;
    for (QTextBlock block = rtb.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QColor colour = fragment.charFormat().foreground().color();
            const QString kind = colour == QColor(130, 130, 130)   ? QStringLiteral("R")
                                 : colour == QColor(255, 255, 255) ? QStringLiteral("S")
                                                                   : QStringLiteral("?");
            runs << kind + fragment.text();
        }
    }
    return runs;
}

SmtpLog logOf(const QList<QByteArray>& received, const QList<QByteArray>& sent)
{
    SmtpLog log;
    for (const QByteArray& text : received)
        log.appendReceived(text);
    for (const QByteArray& text : sent)
        log.appendSent(text);
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
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Mail"));
    viewer.showMail(mail, 7);
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Mail (ID=7)"));
    QCOMPARE(viewer.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Absender: absender@example.com\nAn: empf\u00E4nger@example.com\nBetreff: Preis 5 \u20AC\n"
                            "Datum/Zeit: 06.12.2026 18:15:11\nGr\u00F6\u00DFe: 532 Bytes\n"
                            "Status: Das E-Mail wurde erfolgreich gesendet."));
    QCOMPARE(viewer.findChild<QLabel*>(QStringLiteral("Label2"))->text(),
             QStringLiteral("Absender: \nAn: \nBetreff: \nDatum/Zeit: \nGr\u00F6\u00DFe: \nStatus: "));
    QCOMPARE(viewer.findChild<QPlainTextEdit*>(QStringLiteral("Text1"))->toPlainText(),
             QStringLiteral("Zeile 1\nZeile 2"));

    // An unknown or empty status shows no text after the name.
    mail.Status = "ERRMessage9";
    viewer.showMail(mail, 8);
    QVERIFY(viewer.findChild<QLabel*>(QStringLiteral("Label1"))->text().endsWith(QStringLiteral("\nStatus: ")));
}

void tst_MailViewer::conversationOrder_data()
{
    QTest::addColumn<SmtpLog>("log");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("received one more than sent: the last reply closes")
        << logOf({"R0\r\n", "R1\r\n", "R2\r\n"}, {"S0\r\n", "S1\r\n"})
        << QStringList{QStringLiteral("RR0"), QStringLiteral("SS0"), QStringLiteral("RR1"), QStringLiteral("SS1"),
                       QStringLiteral("RR2")};
    QTest::newRow("received beyond the sent array is not shown")
        << logOf({"R0\r\n", "R1\r\n", "R2\r\n", "R3\r\n"}, {"S0\r\n", "S1\r\n"})
        << QStringList{QStringLiteral("RR0"), QStringLiteral("SS0"), QStringLiteral("RR1"), QStringLiteral("SS1"),
                       QStringLiteral("RR2")};
    QTest::newRow("fewer received than sent: missing replies are empty")
        << logOf({"R0\r\n"}, {"S0\r\n", "S1\r\n", "S2\r\n"})
        << QStringList{QStringLiteral("RR0"), QStringLiteral("SS0"), QStringLiteral("SS1"), QStringLiteral("SS2")};
    QTest::newRow("never dimensioned log") << SmtpLog() << QStringList();
}

void tst_MailViewer::conversationOrder()
{
    QFETCH(SmtpLog, log);
    QFETCH(QStringList, shown);
    MailRecord mail;
    mail.Log = log;
    Form2 viewer;
    // A mail shown before must leave nothing behind.
    MailRecord other;
    other.Log = logOf({"old\r\n"}, {"old\r\n"});
    viewer.showMail(other, 1);
    viewer.showMail(mail, 2);
    const auto* rtb = viewer.findChild<QTextEdit*>(QStringLiteral("RTB"));
    QCOMPARE(shownRuns(*rtb), shown);
}

void tst_MailViewer::tabsAndResize()
{
    Form2 viewer;
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    auto* tabs = viewer.findChild<QTabBar*>(QStringLiteral("TabBar"));
    auto* body = viewer.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    auto* rtb = viewer.findChild<QTextEdit*>(QStringLiteral("RTB"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("Versandinhalt"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Versandablauf"));
    QCOMPARE(tabs->shape(), QTabBar::RoundedSouth);
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
