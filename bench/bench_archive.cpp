// The archive check over 100,000 copies of 8 KB in one year: the time of the check and the memory it takes.
#include "store/ArchiveCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

using namespace kadmel;

namespace {

constexpr int Copies = 100000;

// The copies and their index as the program writes them, without waiting for the disk.
bool buildArchive(const QString& root)
{
    QByteArray index, previous = chainStart();
    for (int i = 0; i < Copies; ++i) {
        const QString month = QStringLiteral("%1").arg(i % 12 + 1, 2, 10, QLatin1Char('0'));
        const QString file = QStringLiteral("2026/%1/2026-%1-07 09.10.%2 Rechnung %3.eml")
                                 .arg(month)
                                 .arg(i % 60, 2, 10, QLatin1Char('0'))
                                 .arg(i);
        const QByteArray message = "Message-ID: <" + QByteArray::number(i) +
                                   "@example.com>\r\nFrom: a@example.com\r\nTo: b@example.com\r\nSubject: Rechnung " +
                                   QByteArray::number(i) + "\r\n\r\n" + QByteArray(8192, 'a' + char(i % 26));
        QDir().mkpath(root + QStringLiteral("/2026/") + month);
        QFile copy(root + QLatin1Char('/') + file);
        if (!copy.open(QIODevice::WriteOnly) || copy.write(message) != message.size())
            return false;
        IndexLine line = describeCopy(file, message);
        line.fileHash = hashOf(message);
        line.previousHash = previous;
        const QByteArray bytes = composeLine(line);
        previous = hashOf(bytes);
        index += bytes + '\n';
    }
    QFile file(root + QStringLiteral("/2026/index.tsv"));
    return file.open(QIODevice::WriteOnly) && file.write(index) == index.size();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QTextStream out(stdout);
    if (!buildArchive(dir.path())) {
        out << "archive could not be built\n";
        return 1;
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    QElapsedTimer timer;
    timer.start();
    const ArchiveCheck check = checkArchive(dir.path(), std::nullopt);
    const qint64 ms = timer.elapsed();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    // The processor's time beside the clock's: the machine may be shared.
    const auto msOf = [](const timeval& t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
    const qint64 cpu = msOf(after.ru_utime) + msOf(after.ru_stime) - msOf(before.ru_utime) - msOf(before.ru_stime);
    out << QStringLiteral("archive check, %1 copies of 8 KB   %2 ms  (%3 ms CPU, %4 findings, peak RSS %5 MB)\n")
               .arg(check.files)
               .arg(ms)
               .arg(cpu)
               .arg(check.findings.size())
               .arg(after.ru_maxrss / 1024);
    return check.findings.isEmpty() && check.files == Copies ? 0 : 1;
}
