#include "app/SignalBridge.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace kadmel {
namespace {

// Process-wide and never closed: a handler may run on any thread until the process is gone.
int g_fds[2] = {-1, -1};
std::atomic_flag g_requested = ATOMIC_FLAG_INIT; // lock-free, so safe inside a handler
constexpr int HandledSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int signalNumber)
{
    if (g_requested.test_and_set())
        return; // the exit is already under way
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_fds[0], &byte, 1); // non-blocking: never waits
    errno = savedErrno;
}

} // namespace

bool SignalBridge::installHandler()
{
    if (g_fds[1] != -1)
        return true;
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0)
        return false;
    g_fds[0] = fds[0];
    g_fds[1] = fds[1];
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : HandledSignals)
        sigaddset(&action.sa_mask, signalNumber); // one handler at a time per thread
    action.sa_flags = SA_RESTART;
    for (int signalNumber : HandledSignals)
        ::sigaction(signalNumber, &action, nullptr);
    return true;
}

SignalBridge::SignalBridge(QObject* parent) : QObject(parent)
{
    if (!installHandler())
        return;
    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalBridge::readSignal);
}

// The handler stays: a signal while the program finishes its exit is ignored rather than ending it before
// the lock file is gone.
SignalBridge::~SignalBridge() = default;

void SignalBridge::readSignal()
{
    unsigned char byte = 0;
    if (::read(g_fds[1], &byte, 1) == 1)
        Q_EMIT terminationRequested(byte);
}

} // namespace kadmel
