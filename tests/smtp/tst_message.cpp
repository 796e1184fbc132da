#include "smtp/Base64.h"
#include "smtp/Message.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QTest>

using namespace kadmel;

class TestMessage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void base64MatchesQtRewrapped()
    {
        QRandomGenerator random(4711);
        QList<qsizetype> lengths;
        for (qsizetype n = 0; n <= 400; ++n)
            lengths.append(n);
        lengths << 65537 << 1024 * 1024 + 2;
        for (const qsizetype n : lengths) {
            QByteArray input(n, Qt::Uninitialized);
            for (char& b : input)
                b = char(random.bounded(256));
            const QByteArray flat = input.toBase64();
            // A CR LF after every full line of 74, the last one included (54, 55, 111, 222 … are in the range).
            QByteArray expected;
            for (qsizetype i = 0; i < flat.size(); i += 74)
                expected += flat.mid(i, 74) + (flat.size() - i >= 74 ? "\r\n" : "");
            QVERIFY2(Encode(input) == expected && EncodedSize(n) == expected.size(), qPrintable(QString::number(n)));
        }
    }

    void dateText()
    {
        // German names differ ("Fr", "Dez"); Turkish upper-cases i to a dotted capital.
        for (const auto language : {QLocale::German, QLocale::Turkish}) {
            QLocale::setDefault(QLocale(language));
            QCOMPARE(RfcDate({{2026, 12, 4}, {18, 15, 11}}), QByteArray("Fri, 04 Dec 2026 18:15:11"));
            QCOMPARE(RfcDate({{2027, 2, 1}, {0, 0, 0}}), QByteArray("Mon, 01 Feb 2027 00:00:00"));
            QCOMPARE(RfcDate({{2026, 6, 30}, {23, 59, 59}}), QByteArray("Tue, 30 Jun 2026 23:59:59"));
            QCOMPARE(RfcDate({{2026, 8, 2}, {7, 8, 9}}), QByteArray("Sun, 02 Aug 2026 07:08:09")); // end of the week
        }
        QLocale::setDefault(QLocale::c());
    }

    void composesHeaderBodyAndEnd()
    {
        SmtpMail mail{{}, "von@example.com", {}, "an@example.org", "Gr\xFC\xDF", "<HTML>\xE4</HTML>", 3};
        const QDateTime time(QDate(2026, 12, 4), QTime(18, 15, 11));
        QCOMPARE(ComposeMessage(mail, time),
                 "From:  <von@example.com>\r\nTo:  <an@example.org>\r\nDate: Fri, 04 Dec 2026 18:15:11\r\n"
                 "Subject: Gr\xFC\xDF\r\nX-Mailer: Kadmel Mail System v3.0\r\nMIME-Version: 1.0\r\n"
                 "Content-Type: text/html; charset=\"us-ascii\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                     Encode(mail.MailBody) + "\r\n\r\n.\r\n");

        // An empty subject keeps its space; a body of a 148-multiple encoding gets two blank lines.
        mail.MailSubject.clear();
        mail.MailBody = QByteArray(111, 'a');
        const QByteArray message = ComposeMessage(mail, time);
        QVERIFY(message.contains("\r\nSubject: \r\nX-Mailer"));
        QVERIFY(message.endsWith("\r\n\r\n\r\n.\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestMessage)
#include "tst_message.moc"
