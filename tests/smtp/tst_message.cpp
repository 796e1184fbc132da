#include "smtp/Base64.h"
#include "smtp/Message.h"
#include "smtp/ReplyFramer.h"
#include "smtp/ThrottleReply.h"
#include "store/Ansi.h"
#include "support/MailReader.h"

#include <QJsonArray>
#include <QTimeZone>

#include <QLocale>
#include <QRandomGenerator>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;
using Replies = QList<QPair<QByteArray, int>>;

class TestMessage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void base64MatchesQtRewrapped()
    {
        QRandomGenerator random(4711);
        for (qsizetype k = 0; k <= 402; ++k) { // 0 … 400, then 64 KiB + 1 and 1 MiB + 2
            const qsizetype n = k == 401 ? 65537 : k == 402 ? 1024 * 1024 + 2 : k;
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

    void composesHeaderBodyAndEnd()
    {
        SmtpMail mail{{}, "von@example.com", {}, "an@example.org", "Gr\xFC\xDF", "<HTML>\xE4</HTML>", 3,
                      {}, "<a.b@c.de>"};
        const QTimeZone berlin("Europe/Berlin");
        const QDateTime time(QDate(2026, 12, 4), QTime(18, 15, 11), berlin);
        // German names differ ("Fr", "Dez"); Turkish upper-cases i to a dotted capital.
        for (const auto language : {QLocale::German, QLocale::Turkish}) {
            QLocale::setDefault(QLocale(language));
            QCOMPARE(ComposeMessage(mail, time),
                     "From:  <von@example.com>\r\nTo:  <an@example.org>\r\nDate: Fri, 04 Dec 2026 18:15:11 +0100\r\n"
                     "Message-ID: <a.b@c.de>\r\nSubject: =?windows-1252?Q?Gr=FC=DF?=\r\n"
                     "X-Mailer: Kadmel Mail System v3.0\r\nMIME-Version: 1.0\r\n"
                     "Content-Type: text/html; charset=\"windows-1252\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                         Encode(mail.MailBody) + "\r\n\r\n.\r\n");
            QCOMPARE(RfcDate({{2026, 8, 2}, {7, 8, 9}, berlin}), "Sun, 02 Aug 2026 07:08:09 +0200"); // summer, Sunday
        }
        QLocale::setDefault(QLocale::c());
        QCOMPARE(RfcDate({{2026, 3, 1}, {0, 0}, QTimeZone("America/St_Johns")}), "Sun, 01 Mar 2026 00:00:00 -0330");

        // An empty subject keeps its space; a 7-bit page is us-ascii; a body of a 148-multiple encoding gets two
        // blank lines.
        mail.MailSubject.clear();
        mail.MailBody = QByteArray(111, 'a');
        const QByteArray message = ComposeMessage(mail, time);
        QVERIFY(message.contains("\r\nSubject: \r\nX-Mailer") && message.contains("charset=\"us-ascii\"\r\n") &&
                message.endsWith("\r\n\r\n\r\n.\r\n"));

        // Message-IDs: the sender's domain when it is one, unique, refused in a header when malformed.
        const QByteArray id = NewMessageId("x@Mail.Example.COM");
        QVERIFY(isMessageId(id) && id.endsWith("@mail.example.com>") && id != NewMessageId("x@Mail.Example.COM"));
        for (const QByteArray sender : {"x@localhost", "x@[127.0.0.1]", "x"})
            QVERIFY(NewMessageId(sender).endsWith("@kadmel.invalid>"));
        for (const QByteArray bad : {"a@b", "<a@b>\r\nBcc: x", "<a b@c>", ""}) {
            mail.MailMessageId = bad; // an empty one is made at the send
            QVERIFY2(!isMessageId(bad) && headerIsSafe(mail) == bad.isEmpty(), bad.constData());
        }
        // An entry that is no address, a sender of two and a line break are refused, naming the field (long
        // subject lines: ZUB_SMTP's headerInjectionIsRefusedBeforeConnecting).
        mail.MailCopyTo = "a@example.org, Max <m\xFCller@example.org";
        QCOMPARE(headerProblem(mail),
                 "Der Kopie-Empf\xE4nger \x84Max <m\xFCller@example.org\x93 ist keine E-Mail-Adresse.");
        mail.MailCopyTo = "\"Max <m@example.org>";
        QVERIFY(headerProblem(mail).startsWith("Der Kopie-Empf\xE4nger \x84\"Max"));
        mail.MailCopyTo.clear();
        mail.MailSenderEMail = "a@example.org; b@example.org";
        QVERIFY(headerProblem(mail).endsWith("\x93 ist mehr als eine E-Mail-Adresse."));
        mail.MailBlindCopyTo = "x@example.org\r\n";
        QCOMPARE(headerProblem(mail), "In der Blindkopie steht ein Zeilenumbruch.");
    }

    // What a recipient's program (Python's email package) reads: subject and body as written, no defect, the
    // instant and zone of the Date, and lines that keep within the limits.
    void readsAsWritten_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QDateTime>("time");
        const QTimeZone berlin("Europe/Berlin"), newYork("America/New_York");
        QVERIFY2(berlin.isValid() && newYork.isValid(), "no time zone data (tzdata)");
        QTest::newRow("umlauts, Berlin winter")
            << QStringLiteral("Rechnung für Müller, Größe Übersicht") << QDateTime({2026, 12, 7}, {9, 10}, berlin);
        QTest::newRow("marks and blanks, Berlin summer")
            << QStringLiteral("  Preis: 5 € = ?_ (netto)\tStraße  ") << QDateTime({2026, 7, 1}, {23, 59}, berlin);
        QTest::newRow("200 characters, New York")
            << QStringLiteral("Ärger über Größe ß ").repeated(11).left(200) << QDateTime({2026, 1, 2}, {3, 4}, newYork);
        QTest::newRow("200 ASCII characters, folded at blanks")
            << QStringLiteral("Rechnung Nr. 4711 vom 07.12.2026 ").repeated(7).left(200)
            << QDateTime({2026, 12, 7}, {9, 0}, berlin);
        QTest::newRow("looks like an encoded word")
            << QStringLiteral("=?utf-8?q?x?= Mahnung") << QDateTime({2026, 12, 7}, {9, 0}, berlin);
    }
    void readsAsWritten()
    {
        QFETCH(QString, subject);
        QFETCH(QDateTime, time);
        const QString page = QStringLiteral("<HTML>%1</HTML>").arg(subject);
        const SmtpMail mail{{}, "von@example.com", {}, "an@example.org", toAnsi(subject), toAnsi(page), 1};
        const QByteArray message = ComposeMessage(mail, time).chopped(3); // as a server keeps it, without "."
        const QJsonObject read = readAsRecipient(message);
        QCOMPARE((QStringList{read[u"subject"].toString(), read[u"body"].toString()}), (QStringList{subject, page}));
        QCOMPARE((std::tuple{read[u"defects"].toArray(), qint64(read[u"epoch"].toDouble()), read[u"offset"].toInt()}),
                 (std::tuple{QJsonArray(), time.toSecsSinceEpoch(), time.offsetFromUtc() / 60}));
        QVERIFY(isMessageId(read[u"messageId"].toString().toLatin1()));
        for (const QByteArray& line : message.left(message.indexOf("\r\n\r\n")).split('\n')) {
            const qsizetype word = line.indexOf("=?"); // one encoded word a line at most
            QVERIFY2(line.size() <= 79 && std::all_of(line.begin(), line.end(), [](char c) { return c > 0; }) &&
                         (word < 0 || line.indexOf("?=", word + 17) + 2 - word <= 75),
                     line.constData());
        }
    }

    // Addresses as people write them, read back as written; a blind copy only in the envelope.
    void addressesReadAsWritten_data()
    {
        QTest::addColumn<QList<QByteArray>>("fields"); // From, To, Cc, Bcc, Reply-To as the job writes them
        QTest::addColumn<QString>("read");             // From, To, Cc, Reply-To as Python reads them, "|" between
        QTest::addColumn<QByteArrayList>("envelope");  // sender, then every recipient
        QTest::newRow("names with umlauts")
            << QByteArrayList{"Buchhaltung Firma <buchhaltung@firma.de>", "Max M\xFCller <max@example.org>", {}, {}, {}}
            << QStringLiteral("Buchhaltung Firma<buchhaltung@firma.de>|Max Müller<max@example.org>")
            << QByteArrayList{"buchhaltung@firma.de", "max@example.org"};
        QTest::newRow("two recipients with ',' and ';', quoted names with a comma, copies, reply address")
            << QByteArrayList{"von@firma.de",
                              "\"M\xFCller, Max\" <max@example.org>; b@example.org,Dr. Eva Meier <eva@example.org>",
                              " \"Meier; Eva\" <eva@example.org> , Buchhaltung (intern) <buch@firma.de>;",
                              "archiv@firma.de", "Info <info@firma.de>"}
            << QStringLiteral(
                   "<von@firma.de>|Müller, Max<max@example.org>, <b@example.org>, Dr. Eva Meier<eva@example.org>|"
                   "Meier; Eva<eva@example.org>, Buchhaltung (intern)<buch@firma.de>|Info<info@firma.de>")
            << QByteArrayList{"von@firma.de",    "max@example.org", "b@example.org",
                              "eva@example.org", "buch@firma.de",   "archiv@firma.de"};
        QTest::newRow("an address with umlauts, in UTF-8")
            << QByteArrayList{"von@firma.de", "J\xF6rg <j\xF6rg.m\xFCller@example.com>", {}, {}, {}}
            << QStringLiteral("<von@firma.de>|Jörg<jörg.müller@example.com>")
            << QByteArrayList{"von@firma.de", "j\xC3\xB6rg.m\xC3\xBCller@example.com"};
        const QByteArray many = QByteArray("Abteilung Rechnungseingang <rechnungseingang@example.org>, ").repeated(4);
        QTest::newRow("many, folded")
            << QByteArrayList{"von@firma.de", many, {}, {}, {}}
            << QStringLiteral("<von@firma.de>|") +
                   QStringLiteral("Abteilung Rechnungseingang<rechnungseingang@example.org>, ").repeated(4).chopped(2)
            << QByteArrayList{"von@firma.de", "rechnungseingang@example.org"};
    }
    void addressesReadAsWritten()
    {
        QFETCH(QByteArrayList, fields);
        QFETCH(QString, read);
        QFETCH(QByteArrayList, envelope);
        SmtpMail mail{{}, fields[0], {}, fields[1], "Test", "<HTML>x</HTML>", 1};
        std::tie(mail.MailCopyTo, mail.MailBlindCopyTo, mail.MailReplyTo) = std::tie(fields[2], fields[3], fields[4]);
        QCOMPARE(headerProblem(mail), QByteArray());
        const Envelope sent = envelopeOf(mail);
        QCOMPARE(QByteArrayList{sent.sender} + sent.recipients, envelope);
        const QByteArray message = ComposeMessage(mail, QDateTime::currentDateTime()).chopped(3);
        const QJsonObject got = readAsRecipient(message);
        QCOMPARE(got[u"defects"].toArray(), QJsonArray());
        const QJsonObject addresses = got[u"addresses"].toObject();
        QStringList shown;
        for (const auto field : {u"From", u"To", u"Cc", u"Reply-To"})
            if (addresses.contains(field))
                shown << addresses[field].toString();
        QCOMPARE(shown.join(u'|'), read);
        QVERIFY(!addresses.contains(u"Bcc") && (fields[3].isEmpty() || !message.contains(fields[3])));
        for (const QByteArray& line : message.left(message.indexOf("\r\n\r\n")).split('\n'))
            QVERIFY2(line.size() <= 79, line.constData());
    }

    void frames_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<Replies>("replies");
        QTest::newRow("code alone") << QByteArray("250\r\n") << Replies{{"250\r\n", 250}};
        QTest::newRow("multi-line, bare LF ends lines")
            << QByteArray("250-a\n250-b\r\n250 c\n") << Replies{{"250-a\n250-b\r\n250 c\n", 250}};
        QTest::newRow("code glued to text") << QByteArray("250x\r\n") << Replies{{"250x\r\n", 0}};
        // A reply is read by the code at its start, whatever its later lines say.
        QTest::newRow("stray line ends a multi-line reply")
            << QByteArray("250-a\r\noops\r\n220 b\r\n") << Replies{{"250-a\r\noops\r\n", 250}, {"220 b\r\n", 220}};
        QTest::newRow("codes that disagree") << QByteArray("550-a\r\n250 b\r\n354-c\r\n250 d\r\n")
                                             << Replies{{"550-a\r\n250 b\r\n", 550}, {"354-c\r\n250 d\r\n", 354}};
        QTest::newRow("two replies in one piece, an unfinished line waits")
            << QByteArray("250 a\r\n354 go\r\n250-b\r\n25") << Replies{{"250 a\r\n", 250}, {"354 go\r\n", 354}};
    }
    void frames()
    {
        QFETCH(QByteArray, stream);
        QFETCH(Replies, replies);
        // The same replies whether the bytes come at once or one by one.
        for (const qsizetype piece : {stream.size(), qsizetype(1), qsizetype(3)}) {
            ReplyFramer framer;
            Replies got;
            for (qsizetype i = 0; i < stream.size(); i += piece)
                for (const SmtpReply& r : framer.feed(stream.mid(i, piece)))
                    got.append({r.text, r.code});
            QCOMPARE(got, replies);
            QVERIFY(!framer.overflowed());
        }
    }

    // Providers' own texts: what is a throttle, of which kind, and the wait it names (a day at most, nonsense none).
    void throttleReplies()
    {
        const QList<std::pair<QByteArray, QByteArray>> rows = {
            {"421 4.7.0 Try again later, closing connection.", "rate"},
            {"421-4.7.28 [203.0.113.10] Our system has detected an unusual rate of\r\n421 4.7.28 mail - gsmtp", "rate"},
            {"421 mx.example.com Service not available, try again in 0 seconds", "rate"},
            {"421 4.3.2 Too busy, retry after 14:35", "rate"},
            {"450 4.2.1 The user you are trying to contact is receiving mail too quickly.", "rate"},
            {"451 4.7.500 Server busy. Please try again later from [203.0.113.5]. (AS750)", "rate"},
            {"452 4.5.3 Your message has too many recipients.", "rate"},
            {"454 4.7.0 Too many login attempts, please try again later.", "rate"},
            {"451 4.7.1 Rate limit exceeded, try again in 92 seconds", "rate 92"},
            {"421 4.7.0 Too many messages, Retry after 5 minutes", "rate 300"},
            {"452 4.7.0 Retry-After: 120", "rate 120"},
            {"452 4.7.0 Daily sending quota exceeded, wait 25 hours", "day 86400"},
            {"550-5.4.5 Daily user sending limit exceeded. For more information on Gmail\r\n550 5.4.5 limits", "day"},
            {"554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException; Failed to process", "day"},
            {"550 5.4.5 Relay access denied", "-"},
            {"450 4.2.0 Mailbox busy", "-"},
            {"451 4.3.0 Mail server temporarily rejected message.", "-"},
            {"550 5.1.1 Too many unknown users", "-"},
            {"250 2.0.0 OK, try again in 5 s", "-"},
        };
        for (const auto& [reply, expected] : rows) {
            const std::optional<ThrottleReply> t = throttleOf(reply);
            const QByteArray got = !t ? "-"
                                      : (t->kind == ThrottleReply::Kind::DayLimit ? "day" : "rate") +
                                            (t->seconds ? ' ' + QByteArray::number(*t->seconds) : QByteArray());
            QVERIFY2(got == expected, (reply + " -> " + got).constData());
        }
    }

    // A multi-line reply past 64 KiB, a line without end, 1 MiB of whole replies and one byte more: dropped.
    void boundsWhatItHolds()
    {
        const QByteArray line = "250-" + QByteArray(1000, 'x') + "\r\n";
        ReplyFramer multi, endless, many;
        QVERIFY(multi.feed(line.repeated(65)).isEmpty() && !multi.overflowed());
        QVERIFY(multi.feed(line).isEmpty() && multi.overflowed());
        QVERIFY(multi.feed("250 end\r\n").isEmpty());
        QVERIFY(endless.feed(QByteArray(70000, 'x')).isEmpty() && endless.overflowed());
        const QByteArray reply = "250 " + QByteArray(1018, 'y') + "\r\n"; // 1 KiB
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(many.feed(reply).size(), 1);
        QVERIFY(!many.overflowed());
        QVERIFY(many.feed("2").isEmpty() && many.overflowed());
    }
};

QTEST_GUILESS_MAIN(TestMessage)
#include "tst_message.moc"
