#include "smtp/Base64.h"
#include "smtp/Message.h"

#include <QLocale>
#include <QTest>

using namespace kadmel;

class TestMessage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dateText_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QByteArray>("text");
        const auto at = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
        };
        QTest::newRow("example Friday") << at(2026, 12, 4, 18, 15, 11) << QByteArray("Fri, 04 Dec 2026 18:15:11");
        QTest::newRow("first of month, midnight") << at(2027, 2, 1, 0, 0, 0) << QByteArray("Mon, 01 Feb 2027 00:00:00");
        QTest::newRow("Tuesday, last second") << at(2026, 6, 30, 23, 59, 59) << QByteArray("Tue, 30 Jun 2026 23:59:59");
        QTest::newRow("Wednesday") << at(2026, 1, 7, 9, 5, 3) << QByteArray("Wed, 07 Jan 2026 09:05:03");
        QTest::newRow("Thursday") << at(2026, 3, 12, 12, 0, 0) << QByteArray("Thu, 12 Mar 2026 12:00:00");
        QTest::newRow("Saturday") << at(2026, 5, 9, 1, 2, 3) << QByteArray("Sat, 09 May 2026 01:02:03");
        QTest::newRow("Sunday") << at(2026, 8, 2, 7, 8, 9) << QByteArray("Sun, 02 Aug 2026 07:08:09");
    }
    void dateText()
    {
        QFETCH(QDateTime, time);
        QFETCH(QByteArray, text);
        // Turkish has a dotless i in its upper case; German names differ ("Fr", "Dez").
        for (const auto language : {QLocale::German, QLocale::Turkish, QLocale::English}) {
            QLocale::setDefault(QLocale(language));
            QCOMPARE(RfcDate(time), text);
        }
        QLocale::setDefault(QLocale::c());
    }

    void composesHeaderBodyAndEnd()
    {
        SmtpMail mail;
        mail.MailSenderEMail = "von@example.com";
        mail.MailRecipientEMail = "an@example.org";
        mail.MailSubject = "Gr\xFC\xDF"
                           "e";
        mail.MailBody = "<HTML>\xE4</HTML>";
        const QDateTime time(QDate(2026, 12, 4), QTime(18, 15, 11));
        const QByteArray expected = "From:  <von@example.com>\r\n"
                                    "To:  <an@example.org>\r\n"
                                    "Date: Fri, 04 Dec 2026 18:15:11\r\n"
                                    "Subject: Gr\xFC\xDF"
                                    "e\r\n"
                                    "X-Mailer: Kadmel Mail System v3.0\r\n"
                                    "MIME-Version: 1.0\r\n"
                                    "Content-Type: text/html; charset=\"us-ascii\"\r\n"
                                    "Content-Transfer-Encoding: base64\r\n"
                                    "\r\n" +
                                    Encode(mail.MailBody) + "\r\n\r\n.\r\n";
        QCOMPARE(ComposeMessage(mail, time), expected);

        // An empty subject keeps its space; a body of a 148-multiple length gets two blank lines.
        mail.MailSubject.clear();
        mail.MailBody = QByteArray(111, 'a');
        const QByteArray message = ComposeMessage(mail, time);
        QVERIFY(message.contains("\r\nSubject: \r\nX-Mailer"));
        QVERIFY(message.endsWith(Encode(mail.MailBody) + "\r\n\r\n.\r\n"));
        QVERIFY(message.endsWith("\r\n\r\n\r\n.\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestMessage)
#include "tst_message.moc"
