#include "engine/DeliveryAttempt.h"
#include "engine/HtmlBody.h"
#include "store/StoreFiles.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// A store holding one mail and the delivery attempt alone: no job folder, no dispatcher, no filing.
struct AttemptBench
{
    QTemporaryDir dir;
    Store store{dir.path()};
    RecordingView view;
    std::unique_ptr<DeliveryAttempt> attempt;

    AttemptBench(quint16 port, qint64 offThreadBytes, const QByteArray& body)
    {
        store.loadAtStartup();
        store.settings() = localSettings(dir.path(), port);
        MailRecord mail = mailWith("Betreff", {});
        mail.From = "alice@example.com";
        mail.To = "bob@example.com";
        mail.Body = body;
        store.tables().createMail(mail);
        attempt = std::make_unique<DeliveryAttempt>(
            store, view,
            EngineTimings{.smtp = {.connectMs = 2000, .abortGraceMs = 300}, .offThreadBytes = offThreadBytes});
    }
};

} // namespace

class TestDeliveryAttempt : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The same message leaves whether its page and Base64 were made here or beside the window's thread.
    void oneAttemptSendsThePage_data()
    {
        QTest::addColumn<qint64>("offThreadBytes");
        QTest::newRow("page made here") << (qint64(1) << 40);
        QTest::newRow("page made beside") << qint64(0);
    }
    void oneAttemptSendsThePage()
    {
        QFETCH(qint64, offThreadBytes);
        SmtpSink sink;
        QVERIFY2(sink.isRunning(), qPrintable(sink.errorString()));
        const QByteArray body = "Gr\xFC\xDF" + QByteArray("e  aus\r\n Bonn ").repeated(3000);
        AttemptBench bench(sink.port(), offThreadBytes, body);
        QSignalSpy finished(bench.attempt.get(), &DeliveryAttempt::finished);
        bench.attempt->start(1);
        QVERIFY(finished.isEmpty()); // never from within start()
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(sink.messages().size(), 1);
        QCOMPARE(sink.messages().at(0).decodedBody(), ComposeHtmlBody(body));
        const SmtpLog log = bench.attempt->takeLog();
        QVERIFY(log.Sent.contains("DATA\r\n"));
    }

    // The program ends during the attempt: it is cut short, also while its page is still being made.
    void abortCutsTheAttemptShort_data() { oneAttemptSendsThePage_data(); }
    void abortCutsTheAttemptShort()
    {
        QFETCH(qint64, offThreadBytes);
        ScriptedSmtpServer server;
        server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").stall();
        AttemptBench bench(server.port(), offThreadBytes, "Text");
        QSignalSpy finished(bench.attempt.get(), &DeliveryAttempt::finished);
        bench.attempt->start(1);
        if (offThreadBytes != 0)
            QTRY_VERIFY(server.received().contains("EHLO"));
        bench.attempt->abort();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QCOMPARE(finished.at(0).at(1).toByteArray(), QByteArray("ERRMessage6"));
    }
};

QTEST_GUILESS_MAIN(TestDeliveryAttempt)
#include "tst_deliveryattempt.moc"
