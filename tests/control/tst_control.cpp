#include "control/ControlProtocol.h"
#include "control/ControlServer.h"
#include "service/ServiceView.h"
#include "support/EngineBench.h"
#include "support/IdleFlood.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"
#include "support/TokenEndpoint.h"

#include <QLocalSocket>

using namespace kadmel;
using namespace kadmel::test;
using namespace std::chrono_literals;

namespace {

const TokenEndpoint::Answer DeviceCode{200, R"({"device_code":"G","user_code":"ABCD-EFGH","expires_in":40,)"
                                            R"("interval":1,"verification_uri":"https://microsoft.com/devicelogin"})"};
const TokenEndpoint::Answer Pending{400, R"({"error":"authorization_pending"})"};

// The running service as kadmel-dienst holds it: store, engine, its view and the control socket.
struct ServiceBench : EngineBench
{
    ServiceView service;
    std::unique_ptr<ControlServer> control;

    explicit ServiceBench(quint16 port) : EngineBench(port)
    {
        dispatcher = std::make_unique<Dispatcher>(store, service, timings);
        // A device sign-in (two intervals of 150 ms) outlasts the idle limit a request line has.
        control = std::make_unique<ControlServer>(store, *dispatcher, service, control::controlSocketPath(program),
                                                  ControlTimings{.idle = 200ms, .signIn = {.deviceSecond = 150ms}});
    }
    void deliver(const QByteArray& name, const QByteArray& subject)
    {
        QSignalSpy filed(dispatcher.get(), &Dispatcher::mailFiled);
        writeJob(name, subject);
        dispatcher->StartProcessing();
        QVERIFY(filed.wait(10000));
        QTRY_VERIFY(dispatcher->IdleFlag());
    }
    // kadmelctl on this program folder, the event loop running meanwhile: the service answers from it.
    // `as`: the command kadmelctl runs under (setpriv …).
    std::pair<int, QByteArray> ctl(QStringList args, const QByteArray& input = {}, QStringList as = {}) const
    {
        if (!args.contains(QLatin1String("--ordner")))
            args = QStringList{QStringLiteral("--ordner"), program} + args;
        as.append(QStringLiteral(KADMEL_BINARY_DIR "/kadmelctl"));
        const QString command = as.takeFirst();
        QProcess process;
        process.start(command, as + args);
        process.write(input);
        process.closeWriteChannel();
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000))
            return {-1, {}};
        return {process.exitCode(), process.readAllStandardOutput()};
    }
};

} // namespace

class TestControl : public QObject
{
    Q_OBJECT
    QTemporaryDir m_runtime;
    SmtpSink m_sink;
    std::unique_ptr<ServiceBench> m_bench;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        QVERIFY(m_sink.isRunning());
        // Mail 1 sent, mail 2 failed on a closed port; sending works again from then on.
        m_bench = std::make_unique<ServiceBench>(m_sink.port());
        QVERIFY2(m_bench->control->isListening(), qPrintable(m_bench->control->problem()));
        m_bench->deliver("a.zub", "Eins");
        m_bench->setPort(ScriptedSmtpServer::unusedPort());
        m_bench->deliver("b.zub", "Zwei");
        m_bench->setPort(m_sink.port());
    }

    // Every verb once, in order, with --json read back by Python: the exit code, and what it says.
    void verbsAnswer_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said");
        const auto row = [](const char* name, const QString& args, int code, const QString& said) {
            QTest::newRow(name) << args.split(u' ') << code << said;
        };
        row("status", QStringLiteral("status"), 0,
            QStringLiteral("Fehlgeschlagen:    1\nNächster Versuch:  keiner\nLetzter Fehler:    |, E-Mail (ID 2): Es "
                           "konnte keine|\nSpeicher:          2 von 32.767 E-Mails"));
        row("list", QStringLiteral("liste fehlgeschlagen"), 0, QStringLiteral("Zwei"));
        row("list searched", QStringLiteral("liste --suche Drei"), 0, QStringLiteral("Keine E-Mails."));
        row("show", QStringLiteral("zeige 1"), 0, QStringLiteral("Gespräch mit dem Server:\nS: 220"));
        row("show no such", QStringLiteral("zeige 9"), 1, QStringLiteral("Keine E-Mail mit der ID „9“."));
        row("export", QStringLiteral("export 1 ") + m_runtime.filePath(QStringLiteral("eins.eml")), 0,
            QStringLiteral("Gespeichert als"));
        row("send wrong folder", QStringLiteral("senden 1"), 1, QStringLiteral("nicht in „Fehlgeschl. Objekte“"));
        row("send", QStringLiteral("senden 2"), 0, QStringLiteral("E-Mail (ID 2) gesendet."));
        row("send all", QStringLiteral("alle-senden"), 0, QStringLiteral("0 gesendet, 0 nicht gesendet."));
        row("remove", QStringLiteral("entfernen 1"), 0, QStringLiteral("(ID 1) nach „Gelöschte Objekte“ verschoben."));
        row("remove for good", QStringLiteral("entfernen 1"), 0, QStringLiteral("1 E-Mail(s) endgültig gelöscht"));
        row("renumbered", QStringLiteral("liste"), 0, QStringLiteral("    1  gesendet"));
        row("remove again", QStringLiteral("entfernen 1"), 0, QStringLiteral("verschoben."));
        row("restore", QStringLiteral("wiederherstellen 1"), 0,
            QStringLiteral("(ID 1) nach „Gesendete Objekte“ wiederhergestellt."));
        row("restore twice", QStringLiteral("wiederherstellen 1"), 1, QStringLiteral("nicht in „Gelöschte Objekte“"));
        row("stop", QStringLiteral("stopp"), 0, QStringLiteral("angehalten"));
        row("start", QStringLiteral("start"), 0, QStringLiteral("aktiv"));
        row("wrong arguments", QStringLiteral("zeige"), 2, QStringLiteral("Aufruf: kadmelctl zeige ID"));
        row("wrong port", QStringLiteral("einrichten --port 0"), 2, QStringLiteral("Ungültige Portnummer."));
        row("no service", QStringLiteral("--ordner / status"), 3,
            QStringLiteral("Der Dienst läuft nicht (kadmel-dienst)"));
    }
    void verbsAnswer()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, said);
        Dispatcher* dispatcher = m_bench->dispatcher.get();
        if (QByteArray(QTest::currentDataTag()) == "send" && dispatcher->beginCommand()) // waited out
            QTimer::singleShot(300, dispatcher, [dispatcher] { dispatcher->endCommand({}); });
        const auto [exit, json] = m_bench->ctl(QStringList{QStringLiteral("--json")} + args);
        QCOMPARE(exit, code);
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"), QStringLiteral("import json,sys; a=[json.loads(l) for l in sys.stdin]; "
                                                           "print(a[-1]['code']); "
                                                           "print('\\n'.join(l.get('meldung','') for l in a))")});
        python.write(json);
        python.closeWriteChannel();
        QVERIFY(python.waitForFinished(10000));
        const QString read = QString::fromUtf8(python.readAllStandardOutput());
        QVERIFY2(read.startsWith(QString::number(code) + u'\n'), qPrintable(read));
        for (const QString& part : said.split(u'|')) // what is said, in parts
            QVERIFY2(read.contains(part), qPrintable(read));
    }

    // The settings set from the terminal, the password from standard input, reach the server as it asks.
    void setUpThenDeliver()
    {
        SmtpSink guarded({.user = "kadmel", .password = "Geheim 1"});
        m_bench->setPort(guarded.port()); // often above the 32767 a port may be set to
        const auto [exit, said] =
            m_bench->ctl({QStringLiteral("einrichten"), QStringLiteral("--server"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("--verschluesselung"), QStringLiteral("Keine"), QStringLiteral("--benutzer"),
                          QStringLiteral("kadmel"), QStringLiteral("--kennwort-stdin")},
                         "Geheim 1\n");
        QCOMPARE(said, QByteArray("Die Einstellungen sind gespeichert.\n"));
        QCOMPARE(exit, 0);
        m_bench->deliver("c.zub", "Drei");
        QTRY_COMPARE(guarded.messages().size(), 1);
        QCOMPARE(guarded.messages().first().password, QByteArray("Geheim 1"));
    }

    // A device sign-in in the terminal: its code and address shown while it waits, the refresh token kept.
    void signInWithDeviceCode()
    {
        TokenEndpoint endpoint({DeviceCode, Pending, TokenEndpoint::granted()});
        QVERIFY(
            saveIni(m_bench->program, {.signIn = AuthSetting{AuthMethod::OAuth2Device, endpoint.url(), endpoint.url(),
                                                             "kadmel-app", "", "SMTP.Send offline_access", ""}}));
        const auto [exit, said] = m_bench->ctl({QStringLiteral("anmelden")});
        QCOMPARE(QString::fromUtf8(said),
                 QStringLiteral("Code ABCD-EFGH eingeben unter:\nhttps://microsoft.com/devicelogin\n"
                                "Warte auf die Anmeldung …\nAngemeldet als konto@example.com.\n"));
        QCOMPARE(exit, 0);
        QCOMPARE(loadIni(m_bench->program).signIn->refreshToken, QByteArray("1//0e-Aktualisierungstoken"));
    }

    // Another user reaching the socket is told no and let go; a flood of idle callers and an endless request line
    // neither run the service out of descriptors nor keep this user's kadmelctl out.
    void listenerGuards()
    {
        const QString socket = control::controlSocketPath(m_bench->program);
        QVERIFY(QFile::setPermissions(m_runtime.path(), QFileDevice::Permissions(0x7711)) &&
                QFile::setPermissions(control::controlSocketFolder(), QFileDevice::Permissions(0x7711)) &&
                QFile::setPermissions(socket, QFileDevice::Permissions(0x7777)));
        const auto [refused, said] = m_bench->ctl({QStringLiteral("status")}, {},
                                                  {QStringLiteral("/usr/bin/setpriv"), QStringLiteral("--reuid=65534"),
                                                   QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")});
        QCOMPARE(QString::fromUtf8(said), QStringLiteral("Zugriff verweigert: Der Dienst nimmt Befehle nur von seinem "
                                                         "eigenen Benutzer oder von root an.\n"));
        QCOMPARE(refused, 1);

        QLocalSocket talker;
        talker.connectToServer(socket);
        talker.write(QByteArray(control::MaxRequestBytes + 10, 'x'));
        QTRY_VERIFY(talker.bytesAvailable() > 0 || talker.state() == QLocalSocket::UnconnectedState);
        QVERIFY(talker.readAll().endsWith("{\"code\":2}\n"));

        IdleFlood flood(socket, 2000);
        QVERIFY2(flood.holding && flood.descriptorsGained() < 20,
                 qPrintable(QString::number(flood.descriptorsGained())));
        QCOMPARE(m_bench->ctl({QStringLiteral("status")}).first, 0);
        QVERIFY2(flood.cpuShare() < 0.2, qPrintable(QString::number(flood.cpuShare())));
    }
};

QTEST_GUILESS_MAIN(TestControl)
#include "tst_control.moc"
