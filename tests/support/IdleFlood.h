#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <ctime>

namespace kadmel::test {

// Another local process that opens `count` idle connections to a listener (a port on 127.0.0.1 or a Unix socket
// path) and holds them until this object ends; what this process spends meanwhile is measured.
class IdleFlood
{
public:
    IdleFlood(const QString& target, int count) : m_descriptors(descriptors()), m_cpuMs(cpuMs())
    {
        m_clock.start();
        m_child.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(KADMEL_TEST_SUPPORT_DIR "/idle_flood.py"), target, QString::number(count)});
        holding = QTest::qWaitFor([this] { return m_child.canReadLine(); }, 25000);
    }
    ~IdleFlood()
    {
        m_child.closeWriteChannel(); // the child lets go of its connections and ends
        m_child.waitForFinished(5000);
    }

    bool holding = false; // every connection made or given up
    // Descriptors opened since the flood began (the child's pipes among them), and the share of the wall time
    // spent on the CPU.
    qsizetype descriptorsGained() const { return descriptors() - m_descriptors; }
    double cpuShare() const { return (cpuMs() - m_cpuMs) / double(qMax<qint64>(1, m_clock.elapsed())); }

private:
    static qsizetype descriptors() { return QDir(QStringLiteral("/proc/self/fd")).count(); }
    static double cpuMs() { return std::clock() * 1e3 / CLOCKS_PER_SEC; } // every thread of this process

    qsizetype m_descriptors;
    double m_cpuMs;
    QElapsedTimer m_clock;
    QProcess m_child;
};

} // namespace kadmel::test
