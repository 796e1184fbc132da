#include "engine/LogLine.h"

#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace kadmel {
namespace {

std::atomic_bool journalPrefixes = false;

// Qt's own warnings (TLS, paths) go to the journal with their rank too, each line of them on its own.
void journalMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    LogPriority priority = LogPriority::Notice;
    if (type == QtCriticalMsg || type == QtFatalMsg)
        priority = LogPriority::Failure;
    else if (type == QtWarningMsg)
        priority = LogPriority::Warning;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        writeLogLine(priority, line.toUtf8());
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void writeLogLine(LogPriority priority, const QByteArray& line)
{
    QByteArray text;
    if (journalPrefixes)
        text = '<' + QByteArray::number(int(priority)) + '>';
    text += line;
    text += '\n';
    // One write per line, so that lines of two threads never mix.
    std::fputs(text.constData(), stderr);
    std::fflush(stderr);
}

void setJournalPrefixes(bool on)
{
    journalPrefixes = on;
    qInstallMessageHandler(on ? journalMessage : nullptr);
}

} // namespace kadmel
