// kadmel-dienst as systemd runs it: no display, a notify socket of the test's own, journal prefixes.
#include "store/ResultCode.h"
#include "support/EngineBench.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QtTest>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>

using namespace kadmel;
using namespace kadmel::test;

namespace {

const QString Bin = QStringLiteral(KADMEL_BINARY_DIR "/");

// A program started as systemd starts it, without a display, told a notify socket here.
struct Run
{
    QProcess process;
    int notifySocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QByteArray notified, said;

    Run(const QString& program, const QStringList& args, const QString& scratch)
    {
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        qstrncpy(address.sun_path, QFile::encodeName(scratch + QStringLiteral("/notify")).constData(),
                 sizeof address.sun_path);
        ::bind(notifySocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QFile::decodeName(address.sun_path));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")); // for the window
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
        env.insert(QStringLiteral("INVOCATION_ID"), QStringLiteral("0123456789abcdef0123456789abcdef"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), scratch); // where kadmelctl finds the service
        process.setProcessEnvironment(env);
        // Read as they come: a full queue would hold the sender up.
        QObject::connect(new QSocketNotifier(notifySocket, QSocketNotifier::Read, &process),
                         &QSocketNotifier::activated, [this] { notifications(); });
        process.start(program, args);
    }
    ~Run() { terminate(), ::close(notifySocket); }
    QByteArray notifications()
    {
        char datagram[4096];
        for (ssize_t n; (n = ::recv(notifySocket, datagram, sizeof datagram, 0)) > 0;)
            notified += QByteArray(datagram, n) + '\n';
        return notified;
    }
    QByteArray log() { return said += process.readAllStandardError(); }
    // SIGTERM, then the milliseconds to the exit; the event loop runs meanwhile, for the test's servers.
    qint64 terminate()
    {
        QElapsedTimer clock;
        clock.start();
        if (process.state() != QProcess::NotRunning)
            ::kill(pid_t(process.processId()), SIGTERM);
        return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000) ? clock.elapsed() : -1;
    }
};

// The service on a store that sends its one job to 127.0.0.1:port.
struct ServiceBench : EngineBench
{
    std::unique_ptr<Run> service;
    explicit ServiceBench(quint16 port) : EngineBench(port)
    {
        store.SaveAll();
        writeJob("a.zub", "eins");
        service = std::make_unique<Run>(Bin + QStringLiteral("kadmel-dienst"),
                                        QStringList{QStringLiteral("--ordner"), program}, dir.path());
    }
};

} // namespace

class TestDienst : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A job becomes a sent mail with no widgets loaded; systemd hears READY=1, the watchdog and STOPPING=1, the journal
    // reads each line's priority; SIGTERM while idle frees the folder.
    void deliversWithoutAWindow()
    {
        SmtpSink sink;
        ServiceBench bench(sink.port());
        Run& service = *bench.service;
        QTRY_VERIFY_WITH_TIMEOUT(service.notifications().contains("READY=1\n"), 10000);
        QVERIFY(service.notified.contains("STATUS=Aktiv"));
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 20000);
        QFile maps(QStringLiteral("/proc/%1/maps").arg(service.process.processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(mapped.contains("libQt6Core") && !mapped.contains("libQt6Widgets") && !mapped.contains("libQt6Gui"));
        QTRY_VERIFY_WITH_TIMEOUT(service.log().contains("<6>kadmel: ID 1 an <bob@example.com>: gesendet"), 5000);
        // kadmelctl reaches the running service; its --json read back by Python.
        QProcess ctl;
        ctl.setProcessEnvironment(service.process.processEnvironment());
        ctl.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("\"$0\" --ordner \"$1\" --json status | python3 -c 'import json,sys; a=[json.loads(l) "
                            "for l in sys.stdin]; print(a[-1][\"code\"], any(\"aktiv\" in l.get(\"meldung\",\"\") "
                            "for l in a))'"),
             Bin + QStringLiteral("kadmelctl"), bench.program});
        QVERIFY(ctl.waitForFinished(20000));
        QCOMPARE(ctl.readAllStandardOutput().trimmed(), QByteArray("0 True"));
        QVERIFY(service.terminate() >= 0 && service.process.exitCode() == 0);
        QVERIFY(service.notifications().contains("WATCHDOG=1\n") && service.notified.contains("STOPPING=1\n"));
        for (const QByteArray& line : service.log().trimmed().split('\n'))
            QVERIFY2(line.size() > 3 && line[0] == '<' && line[2] == '>', line.constData());
        QVERIFY(!QFile::exists(bench.program + QStringLiteral("/kadmel.lock")));
    }

    // A server silent after the message: SIGTERM files the mail in hand and the service ends within 15 s.
    void termFilesTheMailInHand()
    {
        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n").expect("\r\n").reply("250 ok\r\n");
        server.expect("\r\n").reply("250 ok\r\n").expect("DATA\r\n").reply("354 go\r\n").expect("\r\n.\r\n");
        ServiceBench bench(server.port());
        QTRY_VERIFY_WITH_TIMEOUT(server.scriptDone(), 20000);
        const qint64 took = bench.service->terminate();
        QVERIFY2(took >= 0 && took < 15000 && bench.service->process.exitCode() == 0,
                 QByteArray::number(took).constData());
        QVERIFY(bench.service->log().contains("<3>kadmel: ID 1 an <bob@example.com>: unklar"));
        QVERIFY(isResult(bench.reloaded().mail(1).Status, ResultCode::DeliveryUnclear));
    }

    // One folder, one program: the window refused while the service holds it, and the other way round. Copies of
    // both take the folder beside them, as an unpacked program does.
    void windowAndServiceExcludeEachOther()
    {
        QTemporaryDir dir;
        const QString window = QStringLiteral("kadmel"), service = QStringLiteral("kadmel-dienst");
        for (const QString& name : {window, service})
            QVERIFY(QFile::copy(Bin + name, dir.filePath(name)));
        for (const bool serviceFirst : {true, false}) {
            Run first(dir.filePath(serviceFirst ? service : window), {}, dir.path());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("kadmel.lock"))), 10000);
            Run second(dir.filePath(serviceFirst ? window : service), {}, dir.path());
            const QString holder = serviceFirst ? QStringLiteral("bereits als Dienst (kadmel-dienst, Prozess %1)")
                                                : QStringLiteral("bereits ZUB mit seinem Fenster (kadmel, Prozess %1)");
            QTRY_VERIFY_WITH_TIMEOUT(second.log().contains(holder.arg(first.process.processId()).toUtf8()), 10000);
            QVERIFY(second.terminate() >= 0 && second.process.exitCode() != 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestDienst)
#include "tst_dienst.moc"
