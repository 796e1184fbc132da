#include "engine/LogLine.h"

#include <atomic>
#include <cstdio>

namespace kadmel {
namespace {

std::atomic_bool journalPrefixes = false;

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
}

} // namespace kadmel
