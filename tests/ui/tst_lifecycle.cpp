#include "UiTestSupport.h"

#include "app/SingleInstance.h"
#include "store/InstanceLock.h"
#include "support/EngineBench.h"
#include "support/IdleFlood.h"
#include "ui/Form4.h"
#include "ui/Program.h"

#include <QProcess>
#include <QTimer>
#include <csignal>
#include <optional>
#include <unistd.h>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// Answers up to DATA, then stops reading: the message stays in the client's hands, as on a slow line.
class StallingServer : public QTcpServer
{
public:
    StallingServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            m_client = nextPendingConnection();
            m_client->write("220 hi\r\n");
            connect(m_client, &QTcpSocket::readyRead, this, [this] {
                while (!m_deaf && m_client->canReadLine()) {
                    m_deaf = m_client->readLine().startsWith("DATA");
                    m_client->write(m_deaf ? "354 go\r\n" : "250 ok\r\n");
                }
                if (m_deaf)
                    m_client->setReadBufferSize(1);
            });
        });
    }
    bool messageStarted() const { return m_deaf && m_client->bytesAvailable() > 0; }

private:
    QTcpSocket* m_client = nullptr;
    bool m_deaf = false;
};

// SIGTERM, SIGINT and SIGHUP are caught by the process (its handler is in place).
bool catchesTermination(qint64 pid)
{
    const QByteArray status = fileBytes(QStringLiteral("/proc/%1/status").arg(pid));
    const qsizetype at = status.indexOf("\nSigCgt:") + 8;
    const quint64 mask = status.mid(at, status.indexOf('\n', at) - at).trimmed().toULongLong(nullptr, 16);
    const quint64 wanted = (1ULL << (SIGHUP - 1)) | (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1));
    return at >= 8 && (mask & wanted) == wanted;
}

// A second start's request on the folder: whether a program of this user took it (it gives up after timeoutMs).
std::optional<bool> raiseHeard(const QString& folder, int timeoutMs)
{
    RaiseRequest request(folder, timeoutMs);
    QSignalSpy ended(&request, &RaiseRequest::finished);
    request.start();
    if (!QTest::qWaitFor([&] { return !ended.isEmpty(); }, timeoutMs + 15000))
        return std::nullopt;
    return ended.at(0).at(0).toBool();
}

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void splashThenMainWindow();
    void signalBurstEndsTheRealProgram_data();
    void signalBurstEndsTheRealProgram();
    void secondStartSocketIsPrivate();
    void secondStartOutlastsAFlood();

private:
    QTemporaryDir m_runtime; // the second-start socket's folder, as a session gives it (0700)
    QTemporaryDir m_cache;
};

void TestLifecycle::initTestCase()
{
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
}

void TestLifecycle::splashThenMainWindow()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    ProgramTimings timings;
    timings.splash = SplashTimings{150, 1400};
    Program program(dir.path(), prompts, timings, [](QWidget*) { return QString(); });
    InstanceServer listener(dir.path()); // as main() sets it beside the program
    connect(&listener, &InstanceServer::raiseRequested, &program, &Program::bringToFront);
    QSignalSpy loaded(&program, &Program::mainWindowLoaded);
    program.start();

    // The store is loaded (and at the first start written) before the splash shows.
    QVERIFY(QFile::exists(program.store().settingsFilePath()) && program.splash()->isVisible() &&
            !program.mainWindow());
    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!program.splash() && program.mainWindow()->isVisible(), 15000);

    // A second start on the folder brings the minimised window back and ends; where nobody listens it gives up
    // after its time, saying so.
    program.mainWindow()->showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(program.mainWindow()->isMinimized(), 15000);
    QCOMPARE(raiseHeard(dir.path(), 10000), true);
    QCOMPARE(raiseHeard(dir.filePath(QStringLiteral("elsewhere")), 500), false);
    QTRY_VERIFY_WITH_TIMEOUT(!program.mainWindow()->isMinimized(), 15000);

    // A termination signal on an idle program ends it at once, saving as far as it goes; a failed save asks
    // nothing (no one may be there to click) but sets the exit code.
    QSignalSpy finished(&program, &Program::finished);
    program.store().settings().SmtpServer = "saved on the way out";
    QVERIFY(QFile::remove(program.store().indexFilePath()) && QDir().mkpath(program.store().indexFilePath()));
    program.requestTermination();
    QVERIFY(finished.wait(15000) && prompts.asked.isEmpty() && program.exitCode() == 1);
    QCOMPARE(loadedStore(dir.path())->settings().SmtpServer, QByteArray("saved on the way out"));
}

// The real program (a copy in its folder): a burst of 1000 SIGHUP ends it within 15 s as a normal exit, the lock
// gone; a half-sent mail is filed failed, and a refused start's box (lock held, store unreadable) closes too.
void TestLifecycle::signalBurstEndsTheRealProgram_data()
{
    QTest::addColumn<int>("phase");
    QTest::newRow("idle, at the start") << 0;
    QTest::newRow("a 20 MiB mail in hand") << 1;
    QTest::newRow("the start refused, its box open") << 2;
    QTest::newRow("the store refused, its box open") << 3;
}

void TestLifecycle::signalBurstEndsTheRealProgram()
{
    QFETCH(int, phase);
    const bool busy = phase == 1, refused = phase == 2, storeRefused = phase == 3;
    const QByteArray said = refused        ? "meldet sich aber nicht" // on stderr before the burst
                            : storeRefused ? "ZUB kann nicht gestartet werden.\n\xE2\x80\x9EZUBData1(3.0).zub"
                                           : "";
    StallingServer server;
    EngineBench bench(server.serverPort());
    bench.writeJob("a.zub", "Gro\xDF",
                   QByteArray("Zeile mit etwas Text\r\n").repeated((20 << 20) / 22 + 1).left(20 << 20));
    QVERIFY(test::saveIni(bench.program, {.maxMessageMB = 100})); // 20 MiB of text is 28 MB in Base64
    Store& store = bench.store;
    QVERIFY(store.SaveAll());
    const QString folder = store.programFolder();
    if (storeRefused)
        QVERIFY(QFile::remove(store.settingsFilePath()) && QDir().mkpath(store.settingsFilePath()));
    QVERIFY(QFile::copy(QStringLiteral(KADMEL_BINARY_DIR "/kadmel"), folder + QStringLiteral("/kadmel")));

    InstanceLock holder(folder); // held as by a running program, but no one answers a second start
    QVERIFY(!refused || holder.tryLock());
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    QSignalSpy finished(&child, &QProcess::finished);
    child.start(folder + QStringLiteral("/kadmel"), {});
    QVERIFY(child.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(catchesTermination(child.processId()), 5000);
    if (busy) // the 4 s splash, the first poll after 5 s, then the message on its way
        QTRY_VERIFY_WITH_TIMEOUT(server.messageStarted(), 60000);
    QByteArray stderrText; // a refusal comes after the second start's 2 s of asking
    if (!said.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT((stderrText += child.readAllStandardError()).contains(said), 10000);
    // Half the burst at once, the rest (five a millisecond) while the program ends, so later signals meet its exit.
    int sent = 0;
    for (; sent < 500; ++sent)
        QCOMPARE(::kill(pid_t(child.processId()), SIGHUP), 0);
    QTimer burst;
    burst.setTimerType(Qt::PreciseTimer);
    connect(&burst, &QTimer::timeout, this, [&] {
        for (int i = 0; i < 5 && sent < 1000 && child.state() == QProcess::Running; ++i, ++sent)
            ::kill(pid_t(child.processId()), SIGHUP);
    });
    burst.start(1);
    QVERIFY(finished.wait(15000) && child.exitStatus() == QProcess::NormalExit);
    QCOMPARE(child.exitCode(), refused || storeRefused ? 1 : 0);
    QCOMPARE(QFile::exists(folder + QStringLiteral("/kadmel.lock")), refused); // only the holder's stays
    if (refused) {
        QVERIFY2(stderrText.contains(QByteArray::number(QCoreApplication::applicationPid())), stderrText.constData());
        return;
    }
    if (storeRefused) {
        QVERIFY(QFileInfo(store.settingsFilePath()).isDir()); // nothing was saved in its place, nor written beside
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entries);
        return;
    }
    const auto disk = loadedStore(folder);
    if (busy)
        QVERIFY(disk->tables().folder(FailedFolder).entries() == QList<qint16>{1} &&
                disk->tables().mail(1).Status == "ERRMessage6");
    else
        QVERIFY(bench.jobExists("a.zub")); // nothing was taken
}

// The second-start socket lies in a folder of this user only and talks only to this user: the running program
// ignores a caller of another user.
void TestLifecycle::secondStartSocketIsPrivate()
{
    QTemporaryDir program;
    const QString name = instanceServerName(program.path());
    QVERIFY2(name.startsWith(m_runtime.path() + QLatin1Char('/')), qPrintable(name));
    // A runtime folder that others may enter is not taken; the one made below the cache folder is, while private.
    QVERIFY(QFile::setPermissions(m_runtime.path(), QFileDevice::Permissions(0x7755)));
    QCOMPARE(instanceSocketFolder(), m_cache.path() + QStringLiteral("/kadmel"));
    QVERIFY(QFile::setPermissions(instanceSocketFolder(), QFileDevice::Permissions(0x7711)));
    QCOMPARE(instanceSocketFolder(), QString());
    QVERIFY(QFile::setPermissions(m_runtime.path(), QFileDevice::Permissions(0x7700)));
    if (::geteuid() != 0)
        QSKIP("Another user's caller needs root.");

    // nobody, let through the folder's and the socket's rights, asks the running program to come forward: let go
    // without a word. (A client of another user's listener is refused by the same check of the peer.)
    InstanceServer running(program.path());
    QSignalSpy raised(&running, &InstanceServer::raiseRequested);
    QVERIFY(running.isListening() && QFile::setPermissions(m_runtime.path(), QFileDevice::Permissions(0x7711)) &&
            QFile::setPermissions(name, QFileDevice::Permissions(0x7777)));
    QProcess caller;
    caller.start(QStringLiteral("setpriv"),
                 QStringLiteral("--reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c").split(u' ')
                     << QStringLiteral("import socket,sys\nc=socket.socket(socket.AF_UNIX)\nc.connect(sys.argv[1])\n"
                                       "c.sendall(b'raise\\n')\nc.settimeout(10)\ntry: print(len(c.recv(100)))\n"
                                       "except ConnectionResetError: print(0)\n")
                     << name);
    QTRY_COMPARE_WITH_TIMEOUT(caller.state(), QProcess::NotRunning, 10000);
    QCOMPARE(caller.readAll(), QByteArray("0\n"));
    QVERIFY(QFile::setPermissions(m_runtime.path(), QFileDevice::Permissions(0x7700)) && raised.isEmpty());
    QCOMPARE(raiseHeard(program.path(), 5000), true); // this user is heard
    QTRY_COMPARE_WITH_TIMEOUT(raised.count(), 1, 15000);
}

// Another process of this user floods the second-start socket with idle connections: it holds a few of them
// without spinning, and a second start is still heard.
void TestLifecycle::secondStartOutlastsAFlood()
{
    QTemporaryDir program;
    InstanceServer running(program.path(), std::chrono::milliseconds(200));
    QSignalSpy raised(&running, &InstanceServer::raiseRequested);
    IdleFlood flood(instanceServerName(program.path()), 2000);
    QVERIFY2(flood.holding && flood.descriptorsGained() < 20, qPrintable(QString::number(flood.descriptorsGained())));
    QCOMPARE(raiseHeard(program.path(), 5000), true);
    QTRY_COMPARE(raised.count(), 1);
    QVERIFY2(flood.cpuShare() < 0.2, qPrintable(QString::number(flood.cpuShare()))); // spinning: 1
}

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
