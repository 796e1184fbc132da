// kadmel-dienst as systemd runs it: no display, a notify socket of the test's own, journal prefixes.
#include "store/ResultCode.h"
#include "support/EngineBench.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kadmel;
using namespace kadmel::test;

namespace {

const QString BinaryDir = QStringLiteral(KADMEL_BINARY_DIR);

// The service started as systemd starts it, its notifications read from a datagram socket bound here.
struct Service
{
    QProcess process;
    int notifySocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QByteArray notified;
    QByteArray said; // standard error so far

    Service(const QString& executable, const QStringList& args, const QString& scratch)
    {
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        const QByteArray path = QFile::encodeName(scratch) + "/notify";
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        ::bind(notifySocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QFile::decodeName(path));
        env.insert(QStringLiteral("INVOCATION_ID"), QStringLiteral("0123456789abcdef0123456789abcdef"));
        process.setProcessEnvironment(env);
        process.start(executable, args);
    }
    ~Service()
    {
        if (process.state() != QProcess::NotRunning)
            ::kill(pid_t(process.processId()), SIGKILL), process.waitForFinished(5000);
        ::close(notifySocket);
    }
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
        ::kill(pid_t(process.processId()), SIGTERM);
        return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000) ? clock.elapsed() : -1;
    }
};

QByteArray mapsOf(const QProcess& process)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(process.processId()));
    return maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
}

} // namespace

class TestDienst : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A job becomes a sent mail with no display and no widgets loaded; systemd hears READY=1, the journal reads
    // each line's priority; SIGTERM while idle ends at once and frees the folder.
    void deliversWithoutAWindow()
    {
        SmtpSink sink;
        EngineBench bench(sink.port());
        QVERIFY(bench.store.SaveAll());
        bench.writeJob("a.zub", "eins");
        Service service(BinaryDir + QStringLiteral("/kadmel-dienst"), {QStringLiteral("--ordner"), bench.program},
                        bench.dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(service.notifications().contains("READY=1\n"), 10000);
        QVERIFY(service.notified.contains("STATUS=Aktiv"));
        QTRY_COMPARE_WITH_TIMEOUT(sink.messages().size(), 1, 20000);
        const QByteArray maps = mapsOf(service.process);
        QVERIFY(maps.contains("libQt6Core") && !maps.contains("libQt6Widgets") && !maps.contains("libQt6Gui"));
        QTRY_VERIFY_WITH_TIMEOUT(service.log().contains("ID 1 an"), 5000);
        QVERIFY(service.terminate() >= 0);
        QCOMPARE(service.process.exitCode(), 0);
        QVERIFY(service.notifications().contains("STOPPING=1\n"));
        const QByteArrayList lines = service.log().trimmed().split('\n');
        QVERIFY(lines.contains("<6>kadmel: ID 1 an <bob@example.com>: gesendet (250 OK)"));
        for (const QByteArray& line : lines)
            QVERIFY2(line.size() > 3 && line[0] == '<' && line[2] == '>', line.constData());
        QVERIFY(!QFile::exists(bench.program + QStringLiteral("/kadmel.lock")));
    }

    // A stalled server after the message: SIGTERM files the mail in hand and the service ends well within 15 s.
    void termFilesTheMailInHand()
    {
        ScriptedSmtpServer server;
        server.reply("220 hello\r\n").expect("EHLO 127.0.0.1\r\n").reply("250 ok\r\n");
        server.expect("MAIL FROM: <alice@example.com>\r\n").reply("250 ok\r\n");
        server.expect("RCPT TO: <bob@example.com>\r\n").reply("250 ok\r\n");
        server.expect("DATA\r\n").reply("354 go\r\n").expect("\r\n.\r\n");
        EngineBench bench(server.port());
        QVERIFY(bench.store.SaveAll());
        bench.writeJob("a.zub", "eins");
        Service service(BinaryDir + QStringLiteral("/kadmel-dienst"), {QStringLiteral("--ordner"), bench.program},
                        bench.dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(server.scriptDone(), 20000);
        const qint64 took = service.terminate();
        QVERIFY2(took >= 0 && took < 15000, QByteArray::number(took).constData());
        QCOMPARE(service.process.exitCode(), 0);
        QVERIFY(service.log().contains("<3>kadmel: ID 1 an <bob@example.com>: unklar"));
        const MailTables tables = bench.reloaded();
        QCOMPARE(tables.folder(FailedFolder).entries(), QList<qint16>{1});
        QVERIFY(isResult(tables.mail(1).Status, ResultCode::DeliveryUnclear));
    }

    // One folder, one program: the window refused while the service holds it, and the other way round. Both
    // copies take the folder beside them, as an unpacked program does.
    void windowAndServiceExcludeEachOther()
    {
        QTemporaryDir dir;
        for (const char* name : {"kadmel", "kadmel-dienst"})
            QVERIFY(QFile::copy(BinaryDir + QLatin1Char('/') + QLatin1String(name), dir.filePath(QLatin1String(name))));
        auto window = std::make_unique<QProcess>();
        QByteArray windowSaid;
        QProcessEnvironment windowEnv = QProcessEnvironment::systemEnvironment();
        windowEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        window->setProcessEnvironment(windowEnv);
        {
            Service service(dir.filePath(QStringLiteral("kadmel-dienst")), {}, dir.path());
            QTRY_VERIFY_WITH_TIMEOUT(service.notifications().contains("READY=1\n"), 10000);
            window->start(dir.filePath(QStringLiteral("kadmel")), {});
            QTRY_VERIFY_WITH_TIMEOUT(
                (windowSaid += window->readAllStandardError())
                    .contains(QStringLiteral("läuft bereits als Dienst (kadmel-dienst, Prozess %1)")
                                  .arg(service.process.processId())
                                  .toUtf8()),
                10000);
            ::kill(pid_t(window->processId()), SIGTERM);
            QVERIFY(window->waitForFinished(10000) && window->exitCode() != 0);
            QVERIFY(service.terminate() >= 0);
        }
        window->start(dir.filePath(QStringLiteral("kadmel")), {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("kadmel.lock"))), 10000);
        Service service(dir.filePath(QStringLiteral("kadmel-dienst")), {}, dir.path());
        QVERIFY(service.process.waitForFinished(10000) && service.process.exitCode() != 0);
        QVERIFY(service.log().contains(
            QStringLiteral("ZUB mit seinem Fenster (kadmel, Prozess %1)").arg(window->processId()).toUtf8()));
        ::kill(pid_t(window->processId()), SIGTERM);
        QVERIFY(window->waitForFinished(10000));
    }

    // Both units as the package installs them, the program's path put in: systemd-analyze finds nothing to say.
    void unitsVerify()
    {
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed");
        QTemporaryDir dir;
        QDir().mkdir(dir.filePath(QStringLiteral("run")));
        for (const QString& unit :
             {QStringLiteral("kadmel-dienst.service"), QStringLiteral("kadmel-dienst@.service")}) {
            QFile source(QStringLiteral(KADMEL_TEST_SUPPORT_DIR "/../../packaging/") + unit);
            QFile copy(dir.filePath(unit));
            QVERIFY(source.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly));
            copy.write(
                source.readAll().replace("/usr/bin/kadmel-dienst", QFile::encodeName(BinaryDir) + "/kadmel-dienst"));
        }
        const bool user[] = {true, false};
        for (const bool asUser : user) {
            QProcess verify;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
            verify.setProcessEnvironment(env);
            verify.start(analyze, {asUser ? QStringLiteral("--user") : QStringLiteral("--system"),
                                   QStringLiteral("verify"), QStringLiteral("--man=no"),
                                   dir.filePath(asUser ? QStringLiteral("kadmel-dienst.service")
                                                       : QStringLiteral("kadmel-dienst@root.service"))});
            QVERIFY(verify.waitForFinished(30000));
            const QByteArray said = verify.readAllStandardError() + verify.readAllStandardOutput();
            QVERIFY2(verify.exitCode() == 0 && said.isEmpty(), said.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestDienst)
#include "tst_dienst.moc"
