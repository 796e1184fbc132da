#include "reports/DeliveryReport.h"

#include <QTest>

using namespace kadmel;

namespace {

const QByteArray Id = "<k1.x7@firma.example>";

// A multipart/report of delivery-status: a human part, the status fields, the returned original.
QByteArray report(const QByteArray& header, const QByteArray& human, const QByteArray& status,
                  const QByteArray& original)
{
    return header +
           "MIME-Version: 1.0\r\nContent-Type: multipart/report; report-type=delivery-status;\r\n"
           " boundary=\"b1\"\r\n\r\n--b1\r\n" +
           human + "\r\n--b1\r\nContent-Type: message/delivery-status\r\n\r\n" + status + "\r\n--b1\r\n" + original +
           "\r\n--b1--\r\n";
}

const QByteArray Headers = "Content-Type: text/rfc822-headers\r\n\r\nFrom: rechnung@firma.example\r\n"
                           "Message-ID: " +
                           Id + "\r\nSubject: Rechnung 4711\r\n";

} // namespace

class TestDeliveryReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each form gives its kind, the original's IDs and the recipients of that kind; the refusals give none.
    void forms_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("expected"); // "kind|envid|message-id|address status diagnostic|…", or empty
        const QByteArray daemon = "From: Mail Delivery System <MAILER-DAEMON@mx.firma.example>\r\n"
                                  "Message-ID: <bounce1@mx.firma.example>\r\n";
        const QByteArray postfix = report(daemon + "Subject: Undelivered Mail Returned to Sender\r\n",
                                          "Content-Type: text/plain\r\n\r\nI'm sorry to have to inform you...",
                                          "Reporting-MTA: dns; mx.firma.example\r\nOriginal-Envelope-Id: k1.x+2B7@firma"
                                          "\r\n\r\nFinal-Recipient: rfc822; kunde@example.org\r\nAction: failed\r\n"
                                          "Status: 5.1.1\r\nDiagnostic-Code: smtp; 550 5.1.1 <kunde@example.org>:\r\n"
                                          "    Recipient address rejected: User unknown\r\n",
                                          Headers);
        QTest::newRow("Postfix, ENVID in xtext, folded diagnostic")
            << postfix
            << QByteArray("failure|k1.x+7@firma|" + Id +
                          "|kunde@example.org 5.1.1 550 5.1.1 <kunde@example.org>: Recipient address rejected: User "
                          "unknown");
        QTest::newRow("Microsoft, returned message, 8-bit diagnostic")
            << report("From: postmaster@outlook.com\r\nSubject: Unzustellbar: Rechnung 4711\r\n",
                      "Content-Type: text/html; charset=utf-8\r\n\r\n<p>Fehler bei der Zustellung</p>",
                      "Reporting-MTA: dns;AM0PR01.outlook.com\r\n\r\nFinal-Recipient: rfc822;<info@kunde.example>\r\n"
                      "Action: failed\r\nStatus: 5.2.2\r\nDiagnostic-Code: smtp;554 5.2.2 Postfach \xC3\xBC"
                      "berf\xC3\xBCllt\r\n",
                      "Content-Type: message/rfc822\r\n\r\nMessage-ID: " + Id + "\r\nSubject: x\r\n")
            << QByteArray("failure||" + Id +
                          "|info@kunde.example 5.2.2 554 5.2.2 Postfach \xFC"
                          "berf\xFCllt");
        QTest::newRow("Google, a delay of two, one delivered")
            << report("From: Mail Delivery Subsystem <mailer-daemon@googlemail.com>\r\n",
                      "Content-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\nContent-Type: text/plain\r\n\r\n"
                      "Delay\r\n--a--",
                      "Reporting-MTA: dns; googlemail.com\r\n\r\nFinal-Recipient: rfc822; a@kunde.example\r\n"
                      "Action: delayed\r\nStatus: 4.4.1\r\n\r\nFinal-Recipient: rfc822; b@kunde.example\r\n"
                      "Action: delivered\r\nStatus: 2.0.0\r\n",
                      Headers)
            << QByteArray("delay||" + Id + "|a@kunde.example 4.4.1 ");
        QTest::newRow("Exim in words")
            << QByteArray(daemon +
                          "X-Failed-Recipients: kunde@example.org\r\nSubject: Mail delivery failed\r\n\r\n"
                          "This message was created automatically by mail delivery software.\r\n\r\n"
                          "  kunde@example.org\r\n    host mx.example.org [192.0.2.7]\r\n"
                          "    SMTP error from remote mail server after RCPT TO:<kunde@example.org>:\r\n"
                          "    550 5.1.1 User unknown\r\n\r\n------ This is a copy of the message's headers."
                          "\r\n\r\nReturn-path: <rechnung@firma.example>\r\nMessage-ID: " +
                          Id + "\r\nSubject: Rechnung\r\n")
            << QByteArray("failure||" + Id + "|kunde@example.org 5.1.1 550 5.1.1 User unknown");
        QTest::newRow("Exim's delay warning in words")
            << QByteArray(daemon +
                          "Subject: Warning: message 1abc delayed 24 hours\r\n\r\nStill being retried.\r\n\r\n"
                          "  <kunde@example.org>: 451 4.4.1 no answer\r\n\r\nMessage-Id: " +
                          Id + "\r\n")
            << QByteArray("delay||" + Id + "|kunde@example.org 4.4.1 451 4.4.1 no answer");
        // Refusals: nothing names the original, or nothing says a mail failed.
        QTest::newRow("forged report without an ID")
            << report(daemon, "Content-Type: text/plain\r\n\r\nx",
                      "Reporting-MTA: dns; x\r\n\r\nFinal-Recipient: rfc822; kunde@example.org\r\nAction: failed\r\n",
                      "Content-Type: text/plain\r\n\r\nMessage-ID: " + Id)
            << QByteArray();
        QTest::newRow("a person's reply quoting the ID")
            << QByteArray("From: kunde@example.org\r\nIn-Reply-To: " + Id + "\r\n\r\n> Message-ID: " + Id + "\r\n")
            << QByteArray();
        QTest::newRow("delivered only") << QByteArray(postfix).replace("Action: failed", "Action: relayed")
                                        << QByteArray();
        QTest::newRow("malformed part") << QByteArray(postfix)
                                               .replace("boundary=\"b1\"", "boundary=\"")
                                               .replace("--b1\r\nContent-Type: message",
                                                        "--b1\r\n\x01\xFF\r\n: message")
                                        << QByteArray();
        // The report's findings beyond what is read: a 50 MB message is read only in part.
        QByteArray big = postfix;
        big.insert(big.indexOf("I'm sorry"), QByteArray(50 * 1024 * 1024, 'x'));
        QTest::newRow("50 MB") << big << QByteArray();
    }
    void forms()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, expected);
        const std::optional<DeliveryReport> found = readDeliveryReport(message);
        QByteArray got;
        if (found) {
            got = (found->kind == ReportKind::Failure ? "failure|" : "delay|") + found->envelopeId + '|' +
                  found->messageId;
            for (const ReportedRecipient& r : found->recipients)
                got += '|' + r.address + ' ' + r.status + ' ' + r.diagnostic;
        }
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestDeliveryReport)
#include "tst_deliveryreport.moc"
